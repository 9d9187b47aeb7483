#include "CQuilPrintersManager.h"

#include "CQuilPrinterSecurity.h"
#include "Installation.h"
#include "PortSettingsBlock.h"
#include "QuilLog.h"
#include "SessionPrinterNames.h"
#include "WideFormat.h"
#include "WideText.h"

namespace quil {
namespace {

constexpr wchar_t kPrintProcessor[] = L"WinPrint";
constexpr wchar_t kMonitorXcvName[] = L",XcvMonitor Quillon Port";
constexpr DWORD kXcvOutputSize = 260;

// Ports formed since the library was loaded, shared by all sessions.
volatile LONG g_portCounter = 0;

DWORD StringBytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

void LogLastError() { LogErrorText(GetLastError()); }

}  // namespace

CQuilPrintersManager::CQuilPrintersManager(DWORD sessionId, const std::wstring& userName,
                                           const std::wstring& domainName, const std::wstring& clientPrinterName,
                                           int printerIndex)
    : sessionId_(sessionId),
      userName_(userName),
      domainName_(domainName),
      printerName_(MakePrinterName(clientPrinterName, userName, sessionId)),
      clientPrinterName_(clientPrinterName),
      portName_(MakePortName(sessionId, printerIndex)),
      printerIndex_(printerIndex) {}

std::wstring CQuilPrintersManager::MakePrinterName(const std::wstring& clientPrinterName,
                                                   const std::wstring& userName, DWORD sessionId) {
  const std::wstring shownName = ToWide(ClientPrinterDisplayName(ToU16(clientPrinterName)));
  return FormatWide(L"%s (%s : %d)", shownName.c_str(), userName.c_str(), static_cast<int>(sessionId));
}

std::wstring CQuilPrintersManager::MakePortName(DWORD sessionId, int printerIndex) {
  const LONG counter = InterlockedIncrement(&g_portCounter);
  return FormatWide(L"QPRN[%d:%d:%d]", static_cast<int>(sessionId), printerIndex, static_cast<int>(counter));
}

bool CQuilPrintersManager::CreatePrinter() {
  Log(L"AddPort: %s", portName_.c_str());
  if (!AddSessionPort()) return false;
  Log(L"AddPrinter: %s", printerName_.c_str());
  if (!AddUserPrinter()) {
    RemoveSessionPort();
    return false;
  }
  SendPortSettings();
  return true;
}

bool CQuilPrintersManager::SetAsDefaultPrinter() {
  if (SetDefaultPrinterW(printerName_.c_str())) return true;
  LogLastError();
  return false;
}

bool CQuilPrintersManager::RemoveUserPrinter() {
  DeleteUserPrinter();
  return RemoveSessionPort();
}

bool CQuilPrintersManager::AddSessionPort() {
  return Transceive(L"AddPort", portName_.c_str(), StringBytes(portName_));
}

bool CQuilPrintersManager::RemoveSessionPort() {
  return Transceive(L"RemovePort", portName_.c_str(), StringBytes(portName_));
}

bool CQuilPrintersManager::SendPortSettings() {
  const auto block = BuildPortSettingsBlock(
      {ToU16(portName_), ToU16(clientPrinterName_), ToU16(userName_), sessionId_});
  return Transceive(L"PortSettings", block.data(), static_cast<DWORD>(block.size()));
}

// Only the transceive call's own result counts: the monitor's status is not examined.
bool CQuilPrintersManager::Transceive(const wchar_t* command, const void* input, DWORD inputSize) {
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
  UniquePrinter xcv;
  if (!OpenPrinterW(const_cast<LPWSTR>(kMonitorXcvName), xcv.put(), &defaults)) {
    LogLastError();
    return false;
  }
  BYTE output[kXcvOutputSize];
  DWORD needed = 0;
  DWORD status = 0;
  const BOOL done = XcvDataW(xcv.get(), command, static_cast<PBYTE>(const_cast<void*>(input)), inputSize, output,
                             kXcvOutputSize, &needed, &status);
  if (!done) LogLastError();
  return done != FALSE;
}

bool CQuilPrintersManager::AddUserPrinter() {
  Log(L"CQuilPrintersManager::AddUserPrinter");
  PRINTER_INFO_2W info{};
  info.pPrinterName = printerName_.data();
  info.pPortName = portName_.data();
  info.pDriverName = const_cast<LPWSTR>(kDriverName);
  info.pPrintProcessor = const_cast<LPWSTR>(kPrintProcessor);

  // Without a descriptor the printer would get the spooler's default security, which lets every
  // user of the server see it and print to this user's printer: no printer then.
  CQuilPrinterSecurity security;
  HRESULT failure = S_OK;
  if (!security.Build(CQuilPrinterSecurity::AccountName(userName_, domainName_), failure)) {
    Log(L"AddPrinter can't get CSecurityDesc: [%d]", static_cast<int>(failure));
    Log(L"AddPrinter: %s not added, its user's account is unknown", printerName_.c_str());
    return false;
  }
  info.pSecurityDescriptor = security.Descriptor();

  Log(L"AddPrinter: %s  port: %s", printerName_.c_str(), portName_.c_str());
  printer_.reset(AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
  if (!printer_) LogLastError();
  return static_cast<bool>(printer_);
}

bool CQuilPrintersManager::DeleteUserPrinter() {
  if (!printer_) return false;
  if (!SetPrinterW(printer_.get(), 0, nullptr, PRINTER_CONTROL_PURGE)) LogLastError();
  const bool deleted = DeletePrinter(printer_.get()) != FALSE;
  if (!deleted) LogLastError();
  printer_.reset();
  return deleted;
}

}  // namespace quil
