#include "HostTestSupport.h"

#include <fstream>

#include "E2eLinkSocket.h"
#include "MessageCodes.h"
#include "PrinterListMessages.h"
#include "SimLinkFrame.h"
#include "WaitBound.h"

namespace quil::test {
namespace {

const DWORD kServiceWaitMs = WaitBound(20000);
const DWORD kReplyWaitMs = WaitBound(60000);
const DWORD kConnectWaitMs = WaitBound(20000);

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

bool CopyInto(const std::wstring& folder, const char* unixPath) {
  const std::wstring source = WindowsPath(unixPath);
  return CopyFileW(source.c_str(), (folder + source.substr(source.rfind(L'\\'))).c_str(), FALSE) != FALSE;
}

}  // namespace

std::wstring HostTestFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"quillon-host-test";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

uint16_t FreePort() {
  uint16_t port = 0;
  const sim::UniqueSocket listener = sim::ListenOnLoopback(port);
  return listener ? port : 0;
}

bool WriteFileBytes(const std::wstring& path, const Bytes& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

ScopedRegistryKey::ScopedRegistryKey(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {}

ScopedRegistryKey::~ScopedRegistryKey() { RegDeleteTreeW(root_, path_.c_str()); }

bool ScopedRegistryKey::SetDword(const wchar_t* name, DWORD value) {
  return RegSetKeyValueW(root_, path_.c_str(), name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS;
}

bool ScopedRegistryKey::SetText(const wchar_t* name, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetKeyValueW(root_, path_.c_str(), name, REG_SZ, value.c_str(), bytes) == ERROR_SUCCESS;
}

ScopedService::ScopedService(const wchar_t* name, const std::wstring& binary)
    : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
  if (!manager_) return;
  if (SC_HANDLE old = OpenServiceW(manager_, name, SERVICE_ALL_ACCESS)) {  // left by an aborted run
    service_ = old;
    StopAndWaitUntilStopped();
    DeleteService(old);
    CloseServiceHandle(old);
    service_ = nullptr;
  }
  service_ = CreateServiceW(manager_, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                            SERVICE_ERROR_IGNORE, binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
}

ScopedService::~ScopedService() {
  if (service_) {
    StopAndWaitUntilStopped();
    DeleteService(service_);
    CloseServiceHandle(service_);
  }
  if (manager_) CloseServiceHandle(manager_);
}

bool ScopedService::StartAndWaitUntilRunning() {
  return StartServiceW(service_, 0, nullptr) && WaitForState(SERVICE_RUNNING);
}

// Also waits for the service's process to end: it still has the monitor loaded from the system
// folder after it reported the stop.
bool ScopedService::StopAndWaitUntilStopped() {
  SERVICE_STATUS_PROCESS process{};
  DWORD size = 0;
  if (!QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof(process),
                            &size)) {
    return false;
  }
  if (process.dwCurrentState == SERVICE_STOPPED) return true;
  const UniqueHandle running(OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId));
  SERVICE_STATUS status{};
  return ControlService(service_, SERVICE_CONTROL_STOP, &status) && WaitForState(SERVICE_STOPPED) &&
         (!running || WaitForSingleObject(running.get(), kServiceWaitMs) == WAIT_OBJECT_0);
}

UniqueHandle ScopedService::OpenProcessOfService(DWORD access) {
  SERVICE_STATUS_PROCESS process{};
  DWORD size = 0;
  if (!QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof(process),
                            &size) ||
      process.dwCurrentState == SERVICE_STOPPED) {
    return UniqueHandle();
  }
  return UniqueHandle(OpenProcess(access, FALSE, process.dwProcessId));
}

bool ScopedService::WaitForState(DWORD state) {
  SERVICE_STATUS status{};
  for (DWORD waited = 0; waited < kServiceWaitMs; waited += 50) {
    if (QueryServiceStatus(service_, &status) && status.dwCurrentState == state) return true;
    Sleep(50);
  }
  return false;
}

bool ControlClient::Connect(uint16_t port, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 100) {
    socket_ = sim::ConnectToLoopback(port);
    if (socket_) break;
    Sleep(100);
  }
  return static_cast<bool>(socket_);
}

Lines ControlClient::Ask(const std::string& request) {
  if (!Send(request)) return {};
  auto reply = Reply(kReplyWaitMs);
  if (reply) return *reply;
  return std::exchange(partial_, {});
}

bool ControlClient::Send(const std::string& request) {
  const std::string line = request + "\n";
  return sim::SendAll(socket_.get(), {reinterpret_cast<const uint8_t*>(line.data()), line.size()});
}

std::optional<Lines> ControlClient::Reply(DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (auto answer = ReadLine(deadline)) {
    partial_.push_back(*answer);
    if (answer->rfind("ok", 0) == 0 || answer->rfind("error", 0) == 0) return std::exchange(partial_, {});
  }
  return std::nullopt;
}

// A line that arrives before the deadline; nullopt at the deadline or when the connection ends.
std::optional<std::string> ControlClient::ReadLine(ULONGLONG deadline) {
  size_t end = 0;
  while ((end = received_.find('\n')) == std::string::npos) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return std::nullopt;
    const ULONGLONG left = deadline - now;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_.get(), &readable);
    timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return std::nullopt;
    char buffer[1024];
    const int got = recv(socket_.get(), buffer, sizeof(buffer), 0);
    if (got <= 0) return std::nullopt;
    received_.append(buffer, static_cast<size_t>(got));
  }
  std::string line = received_.substr(0, end);
  received_.erase(0, end + 1);
  return line;
}

ScriptedClientComputer::ScriptedClientComputer(uint16_t linkPort, DWORD sessionId, std::u16string printerName,
                                               std::string_view linkProfile)
    : sessionId_(sessionId), printerName_(std::move(printerName)) {
  const auto shape = sim::LinkProfile(linkProfile);
  sim::UniqueSocket link = shape ? sim::ConnectClientLink(linkPort, sessionId, linkProfile) : sim::UniqueSocket();
  sim::UniqueSocket sending = link ? sim::DuplicateSocket(link.get()) : sim::UniqueSocket();
  if (!sending) return;
  sender_.emplace(std::move(sending), *shape);
  receiver_.emplace(std::move(link), [this](DWORD, const std::string& channel, uint32_t total, uint32_t flags,
                                            std::span<const uint8_t> data) { OnChunk(channel, total, flags, data); });
  connected_ = true;
}

std::optional<JobStart> ScriptedClientComputer::JobStarted() {
  sim::Guard guard(lock_);
  return jobStart_;
}

std::vector<Bytes> ScriptedClientComputer::Pages() {
  sim::Guard guard(lock_);
  return pages_;
}

bool ScriptedClientComputer::JobEnded() {
  sim::Guard guard(lock_);
  return jobEnded_;
}

void ScriptedClientComputer::HoldPageAcks() {
  sim::Guard guard(lock_);
  holdPageAcks_ = true;
}

void ScriptedClientComputer::Disconnect() {
  receiver_.reset();
  sender_.reset();
}

std::optional<Bytes> ChannelAssemblers::Add(const std::string& channel, uint32_t total, uint32_t flags,
                                            std::span<const uint8_t> data) {
  auto& assembler = assemblers_.try_emplace(channel, CQuilMessageAssembler::StartRule::kFirstFlag).first->second;
  if (assembler.AddChunk(data, total, flags) != CQuilMessageAssembler::Result::kComplete) return std::nullopt;
  return assembler.TakeMessage();
}

void ScriptedClientComputer::OnChunk(const std::string& channel, uint32_t total, uint32_t flags,
                                     std::span<const uint8_t> data) {
  Bytes message;
  {
    sim::Guard guard(lock_);
    auto whole = assemblers_.Add(channel, total, flags, data);
    if (!whole) return;
    message = std::move(*whole);
  }
  Answer(channel, message);
}

void ScriptedClientComputer::Answer(const std::string& channel, const Bytes& message) {
  const Bytes answer = channel == "QPrn" ? PrinterListAnswer(message) : SpoolAnswer(message);
  if (!answer.empty()) sender_->Deliver(sessionId_, channel, answer);
}

Bytes ScriptedClientComputer::PrinterListAnswer(const Bytes& request) {
  if (IsMessage(request, MSG_GET_PRINTERS)) return BuildPrinterCountReply(1);
  if (ParsePrinterRequest(request) == 0u) return BuildPrinterRecord(printerName_, true);
  return {};
}

Bytes ScriptedClientComputer::SpoolAnswer(const Bytes& request) {
  sim::Guard guard(lock_);
  if (auto start = ParseJobStart(request)) {
    jobStart_ = start;
    return BuildJobStartAck();
  }
  if (auto page = ParsePage(request)) {
    pages_.emplace_back(page->begin(), page->end());
    return holdPageAcks_ ? Bytes() : BuildPageAck();
  }
  if (IsMessage(request, MSG_END_DOC)) {
    jobEnded_ = true;
    return BuildJobEndAck();
  }
  return {};
}

Frames MessageFrames(const std::string& channel, const Bytes& message) {
  Frames frames;
  for (const sim::SimChunk& chunk : sim::SplitIntoChunks(message)) {
    frames.push_back({channel, static_cast<uint32_t>(message.size()), chunk.flags, Bytes(chunk.data.begin(), chunk.data.end())});
  }
  return frames;
}

HostileClientComputer::HostileClientComputer(uint16_t linkPort, DWORD sessionId, Script script)
    : sessionId_(sessionId), script_(std::move(script)) {
  sim::UniqueSocket link = sim::ConnectClientLink(linkPort, sessionId);
  sending_ = link ? sim::DuplicateSocket(link.get()) : sim::UniqueSocket();
  if (!sending_) return;
  receiver_.emplace(std::move(link), [this](DWORD, const std::string& channel, uint32_t total, uint32_t flags,
                                            std::span<const uint8_t> data) { OnChunk(channel, total, flags, data); });
  connected_ = true;
}

void HostileClientComputer::SetScript(Script script) {
  sim::Guard guard(lock_);
  script_ = std::move(script);
}

bool HostileClientComputer::Send(const Frames& frames) {
  sim::Guard guard(sendLock_);
  for (const RawFrame& frame : frames) {
    const auto name = sim::KnownChannelName(frame.channel);
    if (!name) return false;
    const auto header = sim::EncodeFrameHeader(
        {sessionId_, *name, frame.total, frame.flags, static_cast<uint32_t>(frame.data.size())});
    if (!sim::SendAll(sending_.get(), header) || !sim::SendAll(sending_.get(), frame.data)) return false;
  }
  return true;
}

std::vector<Bytes> HostileClientComputer::Received(const std::string& channel) {
  sim::Guard guard(lock_);
  return received_[channel];
}

void HostileClientComputer::OnChunk(const std::string& channel, uint32_t total, uint32_t flags,
                                    std::span<const uint8_t> data) {
  Script script;
  Bytes message;
  {
    sim::Guard guard(lock_);
    auto whole = assemblers_.Add(channel, total, flags, data);
    if (!whole) return;
    message = std::move(*whole);
    received_[channel].push_back(message);
    script = script_;
  }
  Send(script(channel, message));
}

void HostServiceFixture::SetUp() {
  ASSERT_TRUE(winsock_.Started());
  for (const char* file : {QUIL_SERVICE_EXE, QUIL_NOTIFY_DLL, QUIL_HOST_WTSAPI32, QUIL_HOST_WINSPOOL, QUIL_HOST_SPOOLSS}) {
    ASSERT_TRUE(CopyInto(folder_, file)) << file << ": error " << GetLastError();
  }
  ASSERT_TRUE(CopyInto(SystemFolder(), QUIL_MONITOR_DLL)) << "error " << GetLastError();
  ASSERT_TRUE(settings_.SetDword(L"ControlPort", controlPort_) && settings_.SetDword(L"LinkPort", linkPort_));
  for (const wchar_t* dll : {L"wtsapi32", L"winspool.drv", L"spoolss"}) {
    ASSERT_TRUE(overrides_.SetText(dll, L"native,builtin"));
  }
}

bool HostServiceFixture::StartService(ScopedService& service, ControlClient& control) {
  EXPECT_TRUE(service.Registered()) << GetLastError();
  EXPECT_TRUE(service.Registered() && service.StartAndWaitUntilRunning()) << GetLastError();
  EXPECT_TRUE(control.Connect(controlPort_, kConnectWaitMs));
  // The service answers the manager before its worker lists the sessions, once for the library's
  // clean-up and once for the replayed logons: a session added before that would be logged on
  // by the replay, before its client computer connects.
  EXPECT_EQ(control.Ask("wait-enumerations 2"), std::vector<std::string>{"ok"});
  return !::testing::Test::HasFailure();
}

}  // namespace quil::test
