#include "CQuilService.h"

int wmain() { return CQuilService::Instance().Run(); }
