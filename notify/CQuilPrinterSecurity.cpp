#include "CQuilPrinterSecurity.h"

#include <winspool.h>

namespace quil {
namespace {

constexpr BYTE kInheritToJobs = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
constexpr DWORD kMaxDomainLength = 256;

HRESULT LastErrorAsHresult() {
  const DWORD error = GetLastError();
  return HRESULT_FROM_WIN32(error ? error : ERROR_INVALID_PARAMETER);
}

DWORD AllowedAceSize(PSID sid) { return sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid); }

}  // namespace

std::wstring CQuilPrinterSecurity::AccountName(const std::wstring& userName, const std::wstring& domainName) {
  return domainName.empty() ? userName : domainName + L"\\" + userName;
}

bool CQuilPrinterSecurity::Build(const std::wstring& accountName, HRESULT& failure) {
  if (!LookUpUser(accountName, failure) || !MakeLocalSystemSid(failure) || !MakeDacl(failure)) return false;
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(dacl_.data()), FALSE)) {
    failure = LastErrorAsHresult();
    return false;
  }
  return true;
}

// A SID that does not fit the 68-byte buffer counts as a failed lookup.
bool CQuilPrinterSecurity::LookUpUser(const std::wstring& accountName, HRESULT& failure) {
  userSid_.assign(kMaxSidSize, 0);
  DWORD sidSize = kMaxSidSize;
  wchar_t domain[kMaxDomainLength];
  DWORD domainLength = kMaxDomainLength;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, accountName.c_str(), userSid_.data(), &sidSize, domain, &domainLength, &use)) {
    failure = LastErrorAsHresult();
    return false;
  }
  if (!IsValidSid(userSid_.data())) {
    failure = E_INVALIDARG;
    return false;
  }
  return true;
}

bool CQuilPrinterSecurity::MakeLocalSystemSid(HRESULT& failure) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  systemSid_.assign(GetSidLengthRequired(1), 0);
  if (!InitializeSid(systemSid_.data(), &ntAuthority, 1)) {
    failure = LastErrorAsHresult();
    return false;
  }
  *GetSidSubAuthority(systemSid_.data(), 0) = SECURITY_LOCAL_SYSTEM_RID;
  return true;
}

bool CQuilPrinterSecurity::MakeDacl(HRESULT& failure) {
  PSID user = userSid_.data();
  PSID system = systemSid_.data();
  dacl_.assign(sizeof(ACL) + 2 * AllowedAceSize(user) + 2 * AllowedAceSize(system), 0);
  auto* acl = reinterpret_cast<PACL>(dacl_.data());
  const bool built = InitializeAcl(acl, static_cast<DWORD>(dacl_.size()), ACL_REVISION) &&
                     AddAccessAllowedAceEx(acl, ACL_REVISION, 0, PRINTER_ALL_ACCESS, user) &&
                     AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritToJobs, JOB_ALL_ACCESS, user) &&
                     AddAccessAllowedAceEx(acl, ACL_REVISION, 0, PRINTER_ALL_ACCESS, system) &&
                     AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritToJobs, JOB_ALL_ACCESS, system);
  if (!built) failure = LastErrorAsHresult();
  return built;
}

}  // namespace quil
