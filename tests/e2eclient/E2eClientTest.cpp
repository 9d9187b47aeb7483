// quil_e2e_client as the end-to-end run starts it: a process of its own in this prefix, with
// pipes for its stdin and stdout, joined over a loopback channel link to a peer in the test that
// plays the server host, the link shaped by the "lan" profile both ways. The peer takes the hello
// (session id and profile), asks for the printers on "QPrn" and sends a one-page job on "QSpl";
// the program must report the printers it created, print the page into its job file and end on
// "quit".
#include <winsock2.h>

#include <windows.h>

#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <ostream>

#include "ClientTestSupport.h"
#include "E2eJobOutputs.h"
#include "E2eLinkSocket.h"
#include "MessageAssembler.h"
#include "PrinterListMessages.h"
#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "WaitBound.h"
#include "WideText.h"

namespace quil::test {
namespace {

using sim::SimLinkEnd;
using sim::UniqueSocket;

constexpr DWORD kE2eSession = 7;
const DWORD kWaitMs = WaitBound(30000);
const std::wstring kLaser = L"Quillon E2E Laser";
const std::wstring kInkjet = L"Quillon E2E Inkjet";

// The program's stdout and stderr, line by line, read on a thread of its own until the program's
// end closes the pipe. Each line is echoed into the test's output.
class ProgramOutput {
 public:
  explicit ProgramOutput(UniqueHandle pipe)
      : pipe_(std::move(pipe)), arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    thread_.reset(CreateThread(nullptr, 0, &ReadThread, this, 0, nullptr));
  }
  ~ProgramOutput() {
    if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
  }
  ProgramOutput(const ProgramOutput&) = delete;
  ProgramOutput& operator=(const ProgramOutput&) = delete;

  // The first line that starts with `prefix`, waiting for it; empty if none came in time.
  std::string WaitForLine(const std::string& prefix, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
      {
        sim::Guard hold(lock_);
        for (const auto& line : lines_) {
          if (line.rfind(prefix, 0) == 0) return line;
        }
      }
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return {};
      WaitForSingleObject(arrived_.get(), static_cast<DWORD>(deadline - now));
    }
  }

 private:
  static DWORD WINAPI ReadThread(LPVOID output) {
    static_cast<ProgramOutput*>(output)->Read();
    return 0;
  }
  void Read() {
    std::string pending;
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(pipe_.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      pending.append(buffer, got);
      for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        Add(pending.substr(0, end));
        pending.erase(0, end + 1);
      }
    }
  }
  void Add(const std::string& line) {
    std::printf("quil_e2e_client: %s\n", line.c_str());
    std::fflush(stdout);
    {
      sim::Guard hold(lock_);
      lines_.push_back(line);
    }
    SetEvent(arrived_.get());
  }

  UniqueHandle pipe_;
  sim::CriticalSection lock_;
  std::vector<std::string> lines_;
  UniqueHandle arrived_;
  UniqueHandle thread_;
};

// A pipe whose one end a child process inherits.
struct Pipe {
  UniqueHandle read;
  UniqueHandle write;
};

Pipe MakePipe(bool childReads) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  Pipe pipe;
  if (!CreatePipe(pipe.read.put(), pipe.write.put(), &inherit, 0)) return {};
  const HANDLE ours = childReads ? pipe.write.get() : pipe.read.get();
  SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

// The program as a child process; one still running at the end is terminated.
class ClientProgram {
 public:
  ~ClientProgram() {
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), kWaitMs);
    }
  }

  bool Start(std::wstring commandLine) {
    Pipe input = MakePipe(true);
    Pipe output = MakePipe(false);
    if (!input.read || !output.read) return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.read.get();
    startup.hStdOutput = output.write.get();
    startup.hStdError = output.write.get();
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
      return false;
    }
    process_.reset(started.hProcess);
    CloseHandle(started.hThread);
    input_ = std::move(input.write);
    output_ = std::make_unique<ProgramOutput>(std::move(output.read));
    return true;
  }

  void Send(const std::string& text) {
    DWORD written = 0;
    WriteFile(input_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  ProgramOutput& Output() { return *output_; }
  // The exit code once the program ended in time; nullopt while it runs.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs) {
    DWORD code = 0;
    if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.get(), &code)) {
      return std::nullopt;
    }
    return code;
  }

 private:
  UniqueHandle process_;
  UniqueHandle input_;
  std::unique_ptr<ProgramOutput> output_;
};

// The server host's side of the link: accepts the program's connection, takes its session id,
// then sends messages as frames and joins the frames that come back into messages per channel.
class ServerPeer {
 public:
  ServerPeer()
      : listener_(sim::ListenOnLoopback(port_)),
        arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  uint16_t Port() const { return port_; }

  // The hello the program sent first; nullopt if it did not connect in time. The peer's direction
  // is shaped by the profile the hello names, as the server host's is.
  std::optional<sim::ClientHello> Accept() {
    UniqueSocket connection = sim::AcceptConnection(listener_.get(), kWaitMs);
    if (!connection) return std::nullopt;
    const auto hello = sim::ReceiveClientHello(connection.get(), kWaitMs);
    UniqueSocket sending = sim::DuplicateSocket(connection.get());
    if (!hello || !sending) return std::nullopt;
    sender_ = std::make_unique<sim::SimLinkSender>(std::move(sending), hello->shape);
    receiver_ = std::make_unique<sim::SimLinkReceiver>(
        std::move(connection),
        [this](DWORD sessionId, const std::string& channelName, uint32_t totalLength,
               uint32_t flags, std::span<const uint8_t> data) {
          Join(sessionId, channelName, totalLength, flags, data);
        });
    return hello;
  }

  // Sends a request and returns the next message on that channel (empty if none came in time).
  Bytes Ask(const std::string& channelName, const Bytes& request) {
    const size_t before = Received(channelName).size();
    sender_->Deliver(kE2eSession, channelName, request);
    const ULONGLONG deadline = GetTickCount64() + kWaitMs;
    for (auto received = Received(channelName); received.size() <= before;
         received = Received(channelName)) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return {};
      WaitForSingleObject(arrived_.get(), static_cast<DWORD>(deadline - now));
    }
    return Received(channelName)[before];
  }

  std::vector<DWORD> SessionsSeen() {
    sim::Guard hold(lock_);
    return sessions_;
  }
  SimLinkEnd WaitForEnd(DWORD timeoutMs) { return receiver_->WaitForEnd(timeoutMs); }

 private:
  std::vector<Bytes> Received(const std::string& channelName) {
    sim::Guard hold(lock_);
    return messages_[channelName];
  }

  void Join(DWORD sessionId, const std::string& channelName, uint32_t totalLength, uint32_t flags,
            std::span<const uint8_t> data) {
    {
      sim::Guard hold(lock_);
      sessions_.push_back(sessionId);
      auto& assembler =
          assemblers_.try_emplace(channelName, CQuilMessageAssembler::StartRule::kWhenIdle)
              .first->second;
      if (assembler.AddChunk(data, totalLength, flags) !=
          CQuilMessageAssembler::Result::kComplete) {
        return;
      }
      messages_[channelName].push_back(assembler.TakeMessage());
    }
    SetEvent(arrived_.get());
  }

  sim::WinsockSession winsock_;
  uint16_t port_ = 0;
  UniqueSocket listener_;
  sim::CriticalSection lock_;  // guards the three below
  std::map<std::string, CQuilMessageAssembler> assemblers_;
  std::map<std::string, std::vector<Bytes>> messages_;
  std::vector<DWORD> sessions_;
  UniqueHandle arrived_;
  std::unique_ptr<sim::SimLinkSender> sender_;
  std::unique_ptr<sim::SimLinkReceiver> receiver_;
};

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

std::wstring DefaultPrinterName() {
  wchar_t name[MAX_PATH];
  DWORD characters = MAX_PATH;
  return GetDefaultPrinterW(name, &characters) ? name : L"";
}

// Removes the program's printers and brings the earlier default printer back.
class SpoolerRestorer {
 public:
  ~SpoolerRestorer() {
    DeletePrinterNamed(kLaser);
    DeletePrinterNamed(kInkjet);
    SetDefaultPrinterEntry(previousDefault_);
  }

 private:
  const std::wstring previousDefault_ = DefaultPrinterName();
};

class E2eClientTest : public ::testing::Test {
 protected:
  std::wstring CommandLine() const {
    return Quoted(sim::UnixFile(QUIL_E2E_CLIENT_EXE)) + L" " + std::to_wstring(server_.Port()) +
           L" " + std::to_wstring(kE2eSession) + L" " + Quoted(folder_) + L" " + Quoted(kLaser) +
           L" " + Quoted(kInkjet) + L" --default " + Quoted(kInkjet) + L" --addin " +
           Quoted(AddinPath()) + L" --link lan";
  }

  // The printer list as the server asks for it, checked against the spooler's.
  void CheckPrinterList() {
    const auto expected = EnumeratedPrinters();
    ASSERT_NE(std::find(expected.begin(), expected.end(), kLaser), expected.end());
    ASSERT_NE(std::find(expected.begin(), expected.end(), kInkjet), expected.end());
    const auto count = ParsePrinterCountReply(server_.Ask("QPrn", BuildPrinterCountRequest()));
    ASSERT_EQ(count.value_or(0), expected.size());
    for (uint32_t index = 0; index < expected.size(); ++index) {
      const auto record = ParsePrinterRecord(server_.Ask("QPrn", BuildPrinterRequest(index)));
      ASSERT_TRUE(record) << index;
      EXPECT_EQ(record->name, ToU16(expected[index]));
      EXPECT_EQ(record->isDefault, expected[index] == kInkjet) << sim::Utf8(expected[index]);
    }
  }

  const std::wstring folder_ = TestFolder() + L"e2e-client-out";
  SpoolerRestorer restorer_;
  ServerPeer server_;
  ClientProgram program_;
};

TEST_F(E2eClientTest, ReportsItsPrintersAndPrintsAJobSentOverTheShapedLink) {
  const std::wstring jobFile = sim::JobFile(folder_, kInkjet, 1);
  DeleteFileW(jobFile.c_str());
  ASSERT_TRUE(program_.Start(CommandLine()));
  const auto hello = server_.Accept();
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->sessionId, kE2eSession);
  EXPECT_EQ(hello->linkProfile, "lan");
  ASSERT_EQ(program_.Output().WaitForLine("ready", kWaitMs), "ready");
  CheckPrinterList();

  const auto devMode = JobDevMode(DM_ORIENTATION, DMORIENT_PORTRAIT);
  const std::span<const uint8_t, JobStartLayout::kDevModeSize> jobSettings(
      devMode.data(), JobStartLayout::kDevModeSize);
  const auto start = BuildJobStart(jobSettings, ToU16(kInkjet), u"Quillon E2E report");
  EXPECT_EQ(server_.Ask("QSpl", start), BuildJobStartAck(kCapPageSettings | kCapCompressedPages | kCapPageWindow | kCapFonts));
  EXPECT_EQ(server_.Ask("QSpl", BuildPage(MakePageMetafile(1))), BuildPageAck());
  EXPECT_EQ(server_.Ask("QSpl", BuildJobEnd()), BuildJobEndAck());
  EXPECT_EQ(program_.Output().WaitForLine("printed", kWaitMs),
            "printed Quillon E2E report on Quillon E2E Inkjet: 1 pages -> " + sim::Utf8(jobFile));
  EXPECT_EQ(CountPostScriptPages(ReadFileText(jobFile)), 1);
  const std::string settings = ReadFileText(sim::JobSettingsFile(folder_, kInkjet, 1));
  EXPECT_EQ(Bytes(settings.begin(), settings.end()), Bytes(jobSettings.begin(), jobSettings.end()));
  for (const DWORD session : server_.SessionsSeen()) EXPECT_EQ(session, kE2eSession);

  program_.Send("quit\n");
  EXPECT_EQ(program_.WaitForExit(kWaitMs), std::optional<DWORD>(0));
  EXPECT_EQ(server_.WaitForEnd(kWaitMs), SimLinkEnd::kClosed);
}

}  // namespace
}  // namespace quil::test
