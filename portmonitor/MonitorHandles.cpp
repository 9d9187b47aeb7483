#include "MonitorHandles.h"

namespace quil {

PortHandle* AsPortHandle(HANDLE handle) {
  auto* port = static_cast<PortHandle*>(handle);
  return port && port->sizeTag == kPortHandleTag ? port : nullptr;
}

XcvHandle* AsXcvHandle(HANDLE handle) {
  auto* xcv = static_cast<XcvHandle*>(handle);
  return xcv && xcv->sizeTag == kXcvHandleTag ? xcv : nullptr;
}

}  // namespace quil
