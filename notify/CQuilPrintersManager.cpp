#include "CQuilPrintersManager.h"

#include "CQuilPrinterSecurity.h"
#include "Installation.h"
#include "MonitorTransceive.h"
#include "PortSettingsBlock.h"
#include "QuilLog.h"
#include "SessionPrinterNames.h"
#include "WideFormat.h"
#include "WideText.h"

namespace quil {
namespace {

constexpr wchar_t kPrintProcessor[] = L"WinPrint";

// Ports formed since the library was loaded, shared by all sessions.
volatile LONG g_portCounter = 0;

void LogLastError() { LogErrorText(GetLastError()); }

}  // namespace

CQuilPrintersManager::CQuilPrintersManager(DWORD sessionId, const std::wstring& userName, HANDLE userToken,
                                           const std::wstring& clientPrinterName, int printerIndex)
    : sessionId_(sessionId),
      userName_(userName),
      userToken_(userToken),
      printerName_(MakePrinterName(clientPrinterName, userName, sessionId)),
      clientPrinterName_(clientPrinterName),
      portName_(MakePortName(sessionId, printerIndex)),
      printerIndex_(printerIndex) {}

std::wstring CQuilPrintersManager::MakePrinterName(const std::wstring& clientPrinterName,
                                                   const std::wstring& userName, DWORD sessionId) {
  return ToWide(ClientPrinterDisplayName(ToU16(clientPrinterName))) + PrinterNameSuffix(userName, sessionId);
}

std::wstring CQuilPrintersManager::PrinterNameSuffix(const std::wstring& userName, DWORD sessionId) {
  return FormatWide(L" (%s : %d)", userName.c_str(), static_cast<int>(sessionId));
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
  if (!SendPortSettings()) {
    Log(L"PortSettings: %s refused, its printer is removed again", portName_.c_str());
    RemoveUserPrinter();
    return false;
  }
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

// A port of that name that the monitor still holds (left by an earlier run of the service) is
// refused: neither it nor its settings are taken over.
bool CQuilPrintersManager::AddSessionPort() { return SendPortCommand(L"AddPort", portName_); }

bool CQuilPrintersManager::RemoveSessionPort() { return SendPortCommand(L"RemovePort", portName_); }

bool CQuilPrintersManager::SendPortSettings() {
  const auto block = BuildPortSettingsBlock(
      {ToU16(portName_), ToU16(clientPrinterName_), ToU16(userName_), sessionId_});
  return SendPortCommand(L"PortSettings", block.data(), static_cast<DWORD>(block.size()));
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
  if (!security.Build(userToken_, failure)) {
    Log(L"AddPrinter can't get CSecurityDesc: [%d]", static_cast<int>(failure));
    Log(L"AddPrinter: %s not added, its user is unknown", printerName_.c_str());
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
