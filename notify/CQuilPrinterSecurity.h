// The security descriptor of a session printer: the session's user may print to it and manage
// her own jobs, the local system account (the service and the spooler) may do everything; nobody
// else has any right to it.
#pragma once

#include <windows.h>

#include <vector>

namespace quil {

class CQuilPrinterSecurity {
 public:
  // Builds the descriptor (absolute, revision 1, no owner, group or system ACL) with a
  // discretionary ACL of exactly four allowed entries: the user's printer rights, the job rights
  // that jobs inherit for their creator, then printer and inherited job rights for the local
  // system account. The user is the token's user (TokenUser): her account's name need not
  // resolve. On failure returns false and gives the reason as an HRESULT.
  bool Build(HANDLE userToken, HRESULT& failure);
  // Valid after a successful Build, for the life of this object.
  PSECURITY_DESCRIPTOR Descriptor() { return &descriptor_; }

 private:
  bool CopyUserSid(HANDLE userToken, HRESULT& failure);
  bool MakeWellKnownSids(HRESULT& failure);
  bool MakeDacl(HRESULT& failure);

  std::vector<BYTE> userSid_;
  std::vector<BYTE> creatorOwnerSid_;
  std::vector<BYTE> systemSid_;
  std::vector<BYTE> dacl_;
  SECURITY_DESCRIPTOR descriptor_{};
};

}  // namespace quil
