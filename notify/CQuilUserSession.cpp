#include "CQuilUserSession.h"

#include <algorithm>

#include "CQuilImpersonation.h"
#include "CQuilServerVirtChannel.h"
#include "PrinterListMessages.h"
#include "QuilLog.h"
#include "SessionEventNames.h"
#include "SessionEvents.h"
#include "UserDefaultPrinter.h"
#include "WideText.h"

namespace quil {
namespace {

constexpr char kPrinterListChannel[] = "QPrn";
// Far more printers than any client computer has; a client that reports more (a count of 2^32-1,
// say, with a record for every index) would otherwise fill the server's spooler with printers.
constexpr uint32_t kMaxClientPrinters = 256;

bool WriteMessage(CQuilServerVirtChannel& channel, const std::vector<uint8_t>& message) {
  return channel.Write(message.data(), static_cast<DWORD>(message.size()));
}

// A handle of this library's own to the token, valid while the session lasts whatever the caller
// does with its handle (the service closes its own at once, Winlogon when it likes).
UniqueHandle CopyOfToken(HANDLE token) {
  UniqueHandle copy;
  if (token && !DuplicateHandle(GetCurrentProcess(), token, GetCurrentProcess(), copy.put(), 0, FALSE,
                                DUPLICATE_SAME_ACCESS)) {
    LogErrorText(GetLastError());
  }
  return copy;
}

}  // namespace

CQuilUserSession::CQuilUserSession(DWORD sessionId, const wchar_t* userName, HANDLE userToken)
    : sessionId_(sessionId),
      userName_(userName ? userName : L""),
      userToken_(CopyOfToken(userToken)),
      stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CQuilUserSession::~CQuilUserSession() { Stop(); }

std::wstring CQuilUserSession::DisconnectEventName(DWORD sessionId) { return SessionDisconnectEventName(sessionId); }

std::wstring CQuilUserSession::ReconnectEventName(DWORD sessionId) { return SessionReconnectEventName(sessionId); }

void CQuilUserSession::Logon() {
  if (thread_) return;
  Log(L"CQuilUserSession::Logon");
  thread_.reset(CreateThread(nullptr, 0, &CQuilUserSession::ThreadMain, this, 0, nullptr));
  if (!thread_) LogErrorText(GetLastError());
}

void CQuilUserSession::Stop() {
  if (!thread_) return;
  // The stop event also releases a printer-list exchange whose client never answers, which would
  // otherwise hold the logoff, and with it every later session change, until its time limit.
  SetEvent(stopEvent_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
}

DWORD WINAPI CQuilUserSession::ThreadMain(LPVOID self) {
  static_cast<CQuilUserSession*>(self)->Run();
  return 0;
}

// An event that nobody can signal stands in for a named event that cannot be had (its name held
// by another owner or another kind of object), so that the session still ends cleanly at stop.
UniqueHandle CQuilUserSession::WatchedEvent(const std::wstring& name) {
  Log(L"Init %s event", name.c_str());
  UniqueHandle event = CreateSessionEvent(name);
  if (!event) event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  return event;
}

// The events exist before the first exchange, so that a disconnect or reconnect during it is
// not lost. The stop event comes first: it wins over any other signal.
void CQuilUserSession::Run() {
  const UniqueHandle disconnect = WatchedEvent(DisconnectEventName(sessionId_));
  const UniqueHandle reconnect = WatchedEvent(ReconnectEventName(sessionId_));
  GetPrinters();
  const HANDLE events[] = {stopEvent_.get(), disconnect.get(), reconnect.get()};
  for (;;) {
    switch (WaitForMultipleObjects(3, events, FALSE, INFINITE)) {
      case WAIT_OBJECT_0:
        Log(L"Stop. SessionId: %u", sessionId_);
        DeletePrinters();
        return;
      case WAIT_OBJECT_0 + 1:
        Log(L"Disconnect. SessionId: %u", sessionId_);
        DeletePrinters();
        break;
      case WAIT_OBJECT_0 + 2:
        Log(L"Reconnect. SessionId: %u", sessionId_);
        if (printers_.empty()) GetPrinters();
        break;
      default:
        // Nothing may be left behind for a user who is about to log off.
        Log(L"Failed. SessionId: %u", sessionId_);
        DeletePrinters();
        return;
    }
  }
}

void CQuilUserSession::RecordDefaultPrinter() {
  if (auto earlier = EarlierDefaultPrinter(userToken_.get())) savedDefaultPrinter_ = std::move(*earlier);
}

void CQuilUserSession::GetPrinters() {
  Log(L"Get printers");
  RecordDefaultPrinter();
  CQuilServerVirtChannel channel(kNotifyChannelOwner, stopEvent_.get());
  if (!channel.Open(sessionId_, kPrinterListChannel)) {
    Log(L"Can't open virtual channel.");
    return;
  }
  std::vector<uint8_t> reply;
  if (!WriteMessage(channel, BuildPrinterCountRequest()) || !channel.Read(reply)) return;
  const auto count = ParsePrinterCountReply(reply);
  if (!count) return;
  if (*count > kMaxClientPrinters) {
    Log(L"The client reports %u printers: only the first %u are made", *count, kMaxClientPrinters);
  }
  for (uint32_t index = 0; index < std::min(*count, kMaxClientPrinters); ++index) {
    if (!GetPrinter(index, channel)) break;
  }
}

bool CQuilUserSession::GetPrinter(uint32_t index, CQuilServerVirtChannel& channel) {
  Log(L"Get printer");
  std::vector<uint8_t> reply;
  if (!WriteMessage(channel, BuildPrinterRequest(index)) || !channel.Read(reply)) return false;
  const auto record = ParsePrinterRecord(reply);
  if (!record) return true;
  auto printer = std::make_unique<CQuilPrintersManager>(
      sessionId_, userName_, userToken_.get(), ToWide(record->name),
      static_cast<int>(index));
  if (!printer->CreatePrinter()) return true;
  printers_.push_back(std::move(printer));
  if (record->isDefault) {
    CQuilImpersonation asUser(userToken_.get());
    if (asUser.Active()) printers_.back()->SetAsDefaultPrinter();
  }
  return true;
}

void CQuilUserSession::DeletePrinters() {
  Log(L"Delete printers");
  for (auto& printer : printers_) printer->RemoveUserPrinter();
  printers_.clear();
  RestoreDefaultPrinter(userToken_.get(), savedDefaultPrinter_);
}

}  // namespace quil
