#include "CQuilImpersonation.h"

#include "QuilLog.h"

namespace quil {

CQuilImpersonation::CQuilImpersonation(HANDLE userToken)
    : active_(userToken && ImpersonateLoggedOnUser(userToken) != FALSE) {
  if (!active_) LogErrorText(userToken ? GetLastError() : ERROR_NO_TOKEN);
}

CQuilImpersonation::~CQuilImpersonation() {
  if (active_) RevertToSelf();
}

}  // namespace quil
