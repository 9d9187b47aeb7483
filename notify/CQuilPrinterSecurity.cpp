#include "CQuilPrinterSecurity.h"

#include <winspool.h>

namespace quil {
namespace {

constexpr BYTE kInheritToJobs = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
// Print, and read the printer's settings and security: what a standard user has on a printer.
constexpr ACCESS_MASK kUserPrinterRights = PRINTER_ACCESS_USE | READ_CONTROL;

HRESULT LastErrorAsHresult() {
  const DWORD error = GetLastError();
  return HRESULT_FROM_WIN32(error ? error : ERROR_INVALID_PARAMETER);
}

DWORD AllowedAceSize(PSID sid) { return sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid); }

// A SID of one sub-authority under the given authority.
bool MakeSid(SID_IDENTIFIER_AUTHORITY authority, DWORD subAuthority, std::vector<BYTE>& sid) {
  sid.assign(GetSidLengthRequired(1), 0);
  if (!InitializeSid(sid.data(), &authority, 1)) return false;
  *GetSidSubAuthority(sid.data(), 0) = subAuthority;
  return true;
}

}  // namespace

bool CQuilPrinterSecurity::Build(HANDLE userToken, HRESULT& failure) {
  if (!CopyUserSid(userToken, failure) || !MakeWellKnownSids(failure) || !MakeDacl(failure)) return false;
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(dacl_.data()), FALSE)) {
    failure = LastErrorAsHresult();
    return false;
  }
  return true;
}

bool CQuilPrinterSecurity::CopyUserSid(HANDLE userToken, HRESULT& failure) {
  DWORD size = 0;
  if (GetTokenInformation(userToken, TokenUser, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    failure = LastErrorAsHresult();
    return false;
  }
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(userToken, TokenUser, buffer.data(), size, &size)) {
    failure = LastErrorAsHresult();
    return false;
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  if (!sid || !IsValidSid(sid)) {
    failure = E_INVALIDARG;
    return false;
  }
  userSid_.assign(GetLengthSid(sid), 0);
  if (!CopySid(static_cast<DWORD>(userSid_.size()), userSid_.data(), sid)) {
    failure = LastErrorAsHresult();
    return false;
  }
  return true;
}

bool CQuilPrinterSecurity::MakeWellKnownSids(HRESULT& failure) {
  if (!MakeSid(SECURITY_CREATOR_SID_AUTHORITY, SECURITY_CREATOR_OWNER_RID, creatorOwnerSid_) ||
      !MakeSid(SECURITY_NT_AUTHORITY, SECURITY_LOCAL_SYSTEM_RID, systemSid_)) {
    failure = LastErrorAsHresult();
    return false;
  }
  return true;
}

bool CQuilPrinterSecurity::MakeDacl(HRESULT& failure) {
  PSID user = userSid_.data();
  PSID creatorOwner = creatorOwnerSid_.data();
  PSID system = systemSid_.data();
  dacl_.assign(sizeof(ACL) + AllowedAceSize(user) + AllowedAceSize(creatorOwner) + 2 * AllowedAceSize(system), 0);
  auto* acl = reinterpret_cast<PACL>(dacl_.data());
  const bool built = InitializeAcl(acl, static_cast<DWORD>(dacl_.size()), ACL_REVISION) &&
                     // Her preferences are per user and need only use; the printer's setup stays the system's.
                     AddAccessAllowedAceEx(acl, ACL_REVISION, 0, kUserPrinterRights, user) &&
                     // Each job's creator manages her own job, as on any printer.
                     AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritToJobs, JOB_ALL_ACCESS, creatorOwner) &&
                     AddAccessAllowedAceEx(acl, ACL_REVISION, 0, PRINTER_ALL_ACCESS, system) &&
                     AddAccessAllowedAceEx(acl, ACL_REVISION, kInheritToJobs, JOB_ALL_ACCESS, system);
  if (!built) failure = LastErrorAsHresult();
  return built;
}

}  // namespace quil
