#include "SpoolerRouter.h"

#include <winspool.h>

#include <cstdint>
#include <memory>
#include <new>

#include "QuilLog.h"
#include "UniqueHandle.h"

namespace quil {
namespace {

constexpr const wchar_t* kRouterName = L"SPOOLSS.DLL";

using RevertToPrinterSelfCall = HANDLE(WINAPI*)();
using ImpersonatePrinterClientCall = BOOL(WINAPI*)(HANDLE);
using EnumPortsCall = BOOL(WINAPI*)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

template <typename Call>
Call RouterExport(const UniqueModule& router, const char* name) {
  if (!router) return nullptr;
  return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(router.get(), name)));
}

HANDLE RevertToSpoolerSelf() {
  const UniqueModule router(LoadLibraryW(kRouterName));
  const auto revert = RouterExport<RevertToPrinterSelfCall>(router, "RevertToPrinterSelf");
  return revert ? revert() : nullptr;
}

void ImpersonateSpoolerClient(HANDLE token) {
  if (!token) return;
  const UniqueModule router(LoadLibraryW(kRouterName));
  const auto impersonate = RouterExport<ImpersonatePrinterClientCall>(router, "ImpersonatePrinterClient");
  if (!impersonate || !impersonate(token)) {
    Log(L"ImpersonatePrinterClient failed");
    LogErrorText(GetLastError());
  }
}

// The spooler's port list answered the question: is `portName` in it, ignoring case?
bool ListedInSpooler(EnumPortsCall enumPorts, const wchar_t* portName) {
  DWORD needed = 0;
  DWORD returned = 0;
  if (enumPorts(nullptr, 1, nullptr, 0, &needed, &returned)) return false;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return true;
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]());
  if (!buffer || !enumPorts(nullptr, 1, buffer.get(), needed, &needed, &returned)) return true;
  if (static_cast<uint64_t>(returned) * sizeof(PORT_INFO_1W) > needed) return true;
  const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.get());
  for (DWORD i = 0; i < returned; ++i) {
    if (ports[i].pName && lstrcmpiW(ports[i].pName, portName) == 0) return true;
  }
  return false;
}

}  // namespace

CQuilSpoolerSelf::CQuilSpoolerSelf() : clientToken_(RevertToSpoolerSelf()) {}

CQuilSpoolerSelf::~CQuilSpoolerSelf() { ImpersonateSpoolerClient(clientToken_); }

SpoolerPortLookup PortKnownToSpooler(const wchar_t* portName) {
  const UniqueModule router(LoadLibraryW(kRouterName));
  if (!router) return SpoolerPortLookup::kUnknown;
  const auto enumPorts = RouterExport<EnumPortsCall>(router, "EnumPortsW");
  if (!enumPorts) {
    Log(L"GetProcAddress EnumPortsW failed");
    LogErrorText(GetLastError());
    return SpoolerPortLookup::kError;
  }
  const CQuilSpoolerSelf spoolerSelf;
  return ListedInSpooler(enumPorts, portName) ? SpoolerPortLookup::kKnown : SpoolerPortLookup::kUnknown;
}

}  // namespace quil
