#include "MonitorTransceive.h"

#include <winspool.h>

#include "QuilLog.h"
#include "UniquePrinter.h"

namespace quil {
namespace {

constexpr wchar_t kMonitorXcvName[] = L",XcvMonitor Quillon Port";
constexpr DWORD kXcvOutputSize = 260;

}  // namespace

bool SendPortCommand(const wchar_t* command, const void* input, DWORD inputSize) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
  UniquePrinter xcv;
  if (!OpenPrinterW(const_cast<LPWSTR>(kMonitorXcvName), xcv.put(), &defaults)) {
    LogErrorText(GetLastError());
    return false;
  }
  BYTE output[kXcvOutputSize];
  DWORD needed = 0;
  DWORD status = ERROR_SUCCESS;
  if (!XcvDataW(xcv.get(), command, static_cast<PBYTE>(const_cast<void*>(input)), inputSize, output, kXcvOutputSize,
                &needed, &status)) {
    LogErrorText(GetLastError());
    return false;
  }
  if (status != ERROR_SUCCESS) {
    Log(L"The port monitor refused %s", command);
    LogErrorText(status);
    return false;
  }
  return true;
}

bool SendPortCommand(const wchar_t* command, const std::wstring& portName) {
  return SendPortCommand(command, portName.c_str(), static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t)));
}

}  // namespace quil
