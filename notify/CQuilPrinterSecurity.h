// The security descriptor of a session printer: only the session's user and the local system
// account may use and manage the printer and its jobs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quil {

class CQuilPrinterSecurity {
 public:
  // "DOMAIN\user", or the bare user name when the domain is empty.
  static std::wstring AccountName(const std::wstring& userName, const std::wstring& domainName);

  // Builds the descriptor (absolute, revision 1, no owner, group or system ACL) with a
  // discretionary ACL of exactly four allowed entries: printer rights, then inherit-only job
  // rights, for the user and then for the local system account. On failure returns false and
  // gives the reason as an HRESULT.
  bool Build(const std::wstring& accountName, HRESULT& failure);
  // Valid after a successful Build, for the life of this object.
  PSECURITY_DESCRIPTOR Descriptor() { return &descriptor_; }

 private:
  static constexpr DWORD kMaxSidSize = 68;

  bool LookUpUser(const std::wstring& accountName, HRESULT& failure);
  bool MakeLocalSystemSid(HRESULT& failure);
  bool MakeDacl(HRESULT& failure);

  std::vector<BYTE> userSid_;
  std::vector<BYTE> systemSid_;
  std::vector<BYTE> dacl_;
  SECURITY_DESCRIPTOR descriptor_{};
};

}  // namespace quil
