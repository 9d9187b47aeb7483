#include "CQuilUserSession.h"

#include <algorithm>

#include "CQuilImpersonation.h"
#include "CQuilServerVirtChannel.h"
#include "PrinterListMessages.h"
#include "QuilLog.h"
#include "SessionEventNames.h"
#include "UserDefaultPrinter.h"
#include "WideText.h"

namespace quil {
namespace {

constexpr char kPrinterListChannel[] = "QPrn";
constexpr DWORD kChannelReleaseInterval = 100;  // ms
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
      stopEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

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
  SetEvent(stopEvent_.get());
  // A printer-list exchange whose client never answers would hold the logoff, and with it every
  // later session change, for good: its channel is released the way a disconnect releases it,
  // asked again until the thread ends, since a channel just opened may not be watched yet.
  while (WaitForSingleObject(thread_.get(), kChannelReleaseInterval) == WAIT_TIMEOUT) {
    SignalIfWaitedOn(ChannelDisconnectEventName(kNotifyChannelOwner, sessionId_));
  }
  thread_.reset();
}

DWORD WINAPI CQuilUserSession::ThreadMain(LPVOID self) {
  static_cast<CQuilUserSession*>(self)->Run();
  return 0;
}

// An event that nobody can signal stands in for a named event that cannot be created (its name
// taken by another kind of object), so that the session still ends cleanly at stop.
UniqueHandle CQuilUserSession::CreateSessionEvent(const std::wstring& name) {
  Log(L"Init %s event", name.c_str());
  UniqueHandle event(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
  if (!event) {
    LogErrorText(GetLastError());
    event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  return event;
}

void CQuilUserSession::Run() {
  GetPrinters();
  const UniqueHandle disconnect = CreateSessionEvent(DisconnectEventName(sessionId_));
  const UniqueHandle reconnect = CreateSessionEvent(ReconnectEventName(sessionId_));
  const HANDLE events[] = {disconnect.get(), reconnect.get(), stopEvent_.get()};
  for (;;) {
    switch (WaitForMultipleObjects(3, events, FALSE, INFINITE)) {
      case WAIT_OBJECT_0:
        Log(L"Disconnect. SessionId: %u", sessionId_);
        DeletePrinters();
        break;
      case WAIT_OBJECT_0 + 1:
        Log(L"Reconnect. SessionId: %u", sessionId_);
        if (printers_.empty()) GetPrinters();
        break;
      case WAIT_OBJECT_0 + 2:
        Log(L"Stop. SessionId: %u", sessionId_);
        DeletePrinters();
        return;
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
  CQuilServerVirtChannel channel(kNotifyChannelOwner);
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
