#include "HostTestSupport.h"

#include "E2eLinkSocket.h"
#include "MessageCodes.h"
#include "PrinterListMessages.h"
#include "UniqueHandle.h"

namespace quil::test {
namespace {

constexpr DWORD kServiceWaitMs = 20000;
constexpr DWORD kReplyWaitMs = 60000;

}  // namespace

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
  if (!socket_) return false;
  const DWORD timeout = kReplyWaitMs;
  setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  return true;
}

std::vector<std::string> ControlClient::Ask(const std::string& request) {
  const std::string line = request + "\n";
  std::vector<std::string> reply;
  if (!sim::SendAll(socket_.get(), {reinterpret_cast<const uint8_t*>(line.data()), line.size()})) return reply;
  while (auto answer = ReadLine()) {
    reply.push_back(*answer);
    if (answer->rfind("ok", 0) == 0 || answer->rfind("error", 0) == 0) break;
  }
  return reply;
}

std::optional<std::string> ControlClient::ReadLine() {
  size_t end = 0;
  while ((end = received_.find('\n')) == std::string::npos) {
    char buffer[1024];
    const int got = recv(socket_.get(), buffer, sizeof(buffer), 0);
    if (got <= 0) return std::nullopt;
    received_.append(buffer, static_cast<size_t>(got));
  }
  std::string line = received_.substr(0, end);
  received_.erase(0, end + 1);
  return line;
}

ScriptedClientComputer::ScriptedClientComputer(uint16_t linkPort, DWORD sessionId, std::u16string printerName)
    : sessionId_(sessionId), printerName_(std::move(printerName)) {
  sim::UniqueSocket link = sim::ConnectClientLink(linkPort, sessionId);
  sim::UniqueSocket sending = link ? sim::DuplicateSocket(link.get()) : sim::UniqueSocket();
  if (!sending) return;
  sender_.emplace(std::move(sending));
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

void ScriptedClientComputer::OnChunk(const std::string& channel, uint32_t total, uint32_t flags,
                                     std::span<const uint8_t> data) {
  Bytes message;
  {
    sim::Guard guard(lock_);
    auto& assembler =
        assemblers_.try_emplace(channel, CQuilMessageAssembler::StartRule::kFirstFlag).first->second;
    if (assembler.AddChunk(data, total, flags) != CQuilMessageAssembler::Result::kComplete) return;
    message = assembler.TakeMessage();
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
    return BuildPageAck();
  }
  if (IsMessage(request, MSG_END_DOC)) {
    jobEnded_ = true;
    return BuildJobEndAck();
  }
  return {};
}

}  // namespace quil::test
