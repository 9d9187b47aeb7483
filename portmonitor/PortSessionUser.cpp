#include "PortSessionUser.h"

#include <wtsapi32.h>

#include "QuilLog.h"
#include "SessionText.h"

namespace quil {
namespace {

bool SameAccountName(const std::wstring& name, const wchar_t* other) {
  return CompareStringOrdinal(name.c_str(), -1, other, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool SessionBelongsToPortUser(const PortRecord& record) {
  const int sessionId = static_cast<int>(record.sessionId);
  const SessionText user(record.sessionId, WTSUserName);
  if (!user.get()) {
    const DWORD error = GetLastError();
    Log(L"Session %d of the port's user \"%s\" cannot be queried: the job is not sent", sessionId,
        record.userName.c_str());
    LogErrorText(error);
    return false;
  }
  if (!record.userName.empty() && SameAccountName(record.userName, user.get())) return true;
  const SessionText domain(record.sessionId, WTSDomainName);
  Log(L"The user of session %d is \"%s\" (domain \"%s\"), not the port's user \"%s\": the job is not sent",
      sessionId, user.get(), domain.get() ? domain.get() : L"", record.userName.c_str());
  return false;
}

}  // namespace quil
