// What the server host's tests need around the real service: the host installed beside it in a
// temporary folder, registry values and a service that are removed again, a control connection,
// a scripted client computer on a channel link, and a hostile one that sends whatever frames its
// script makes.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JobSettings.h"
#include "MessageAssembler.h"
#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SimLock.h"
#include "SimSocket.h"
#include "SpoolMessages.h"
#include "UniqueHandle.h"

namespace quil::test {

using Bytes = std::vector<uint8_t>;

using Lines = std::vector<std::string>;

// Wine's drive Z: is the root of the Unix file system.
std::wstring WindowsPath(const char* unixPath);
// The folder in the temporary folder where the tests install the host.
std::wstring HostTestFolder();
// A loopback port that nothing listens on at the moment.
uint16_t FreePort();
bool WriteFileBytes(const std::wstring& path, const Bytes& bytes);
// ASCII paths only, as the tests' temporary folder has.
std::string Narrow(const std::wstring& text);

// A registry key created for the test and deleted with everything below it at the end.
class ScopedRegistryKey {
 public:
  ScopedRegistryKey(HKEY root, std::wstring path);
  ~ScopedRegistryKey();
  ScopedRegistryKey(const ScopedRegistryKey&) = delete;
  ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

  bool SetDword(const wchar_t* name, DWORD value);
  bool SetText(const wchar_t* name, const std::wstring& value);

 private:
  HKEY root_;
  std::wstring path_;
};

// A service registered with Wine's service control manager, stopped and deleted at the end.
class ScopedService {
 public:
  ScopedService(const wchar_t* name, const std::wstring& binary);
  ~ScopedService();
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;

  bool Registered() const { return service_ != nullptr; }
  bool StartAndWaitUntilRunning();
  bool StopAndWaitUntilStopped();
  // The running service's process; null if it does not run.
  UniqueHandle OpenProcessOfService(DWORD access);

 private:
  bool WaitForState(DWORD state);

  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

// The host's control connection: one request line, then reply lines up to "ok..." or "error...".
class ControlClient {
 public:
  // Connects, retrying while the service starts; false if nothing listened within the time.
  bool Connect(uint16_t port, DWORD timeoutMs);
  // The reply, or the lines that came within a minute.
  Lines Ask(const std::string& request);
  // A request whose reply Reply collects later, for requests that wait on other events.
  bool Send(const std::string& request);
  // The whole reply; nullopt if it did not end within `timeoutMs` (the lines read so far stay
  // for the next call).
  std::optional<Lines> Reply(DWORD timeoutMs);

 private:
  std::optional<std::string> ReadLine(ULONGLONG deadline);

  sim::UniqueSocket socket_;
  std::string received_;
  Lines partial_;
};

// Joins each channel's chunks into whole messages, as the add-in on a client computer does.
class ChannelAssemblers {
 public:
  // The message once its last chunk is in; nothing before, nor for a chunk that is refused.
  std::optional<Bytes> Add(const std::string& channel, uint32_t total, uint32_t flags, std::span<const uint8_t> data);

 private:
  std::map<std::string, CQuilMessageAssembler> assemblers_;
};

// A client computer on a channel link: it sends its hello (session id and link profile, which
// shapes its own direction), then answers the printer-list requests with one printer, its
// default, and acknowledges each job message, recording what came.
class ScriptedClientComputer {
 public:
  ScriptedClientComputer(uint16_t linkPort, DWORD sessionId, std::u16string printerName,
                         std::string_view linkProfile = {});
  bool Connected() const { return connected_; }

  std::optional<JobStart> JobStarted();
  std::vector<Bytes> Pages();
  bool JobEnded();
  // Pages that come from now on are recorded but not acknowledged.
  void HoldPageAcks();
  // Closes the link, as a client computer that goes away; nothing is answered after it.
  void Disconnect();

 private:
  void OnChunk(const std::string& channel, uint32_t total, uint32_t flags, std::span<const uint8_t> data);
  void Answer(const std::string& channel, const Bytes& message);
  Bytes PrinterListAnswer(const Bytes& request);
  Bytes SpoolAnswer(const Bytes& request);

  DWORD sessionId_;
  std::u16string printerName_;
  sim::CriticalSection lock_;
  ChannelAssemblers assemblers_;
  std::optional<JobStart> jobStart_;
  std::vector<Bytes> pages_;
  bool jobEnded_ = false;
  bool holdPageAcks_ = false;
  bool connected_ = false;
  std::optional<sim::SimLinkSender> sender_;
  std::optional<sim::SimLinkReceiver> receiver_;  // destroyed first: its thread uses the sender
};

// One link frame exactly as given: the channel, the total it claims, the flags and the data.
struct RawFrame {
  std::string channel;
  uint32_t total = 0;
  uint32_t flags = 0;
  Bytes data;
};
using Frames = std::vector<RawFrame>;

// The frames of a well-formed message, as the platform splits it.
Frames MessageFrames(const std::string& channel, const Bytes& message);

// A client computer under a script that maps each whole message from the server to the frames it
// sends back (none: it never answers). It can also send frames nobody asked for.
class HostileClientComputer {
 public:
  using Script = std::function<Frames(const std::string& channel, const Bytes& message)>;

  HostileClientComputer(uint16_t linkPort, DWORD sessionId, Script script);
  bool Connected() const { return connected_; }

  void SetScript(Script script);
  bool Send(const Frames& frames);
  // The whole messages received on the channel so far.
  std::vector<Bytes> Received(const std::string& channel);

 private:
  void OnChunk(const std::string& channel, uint32_t total, uint32_t flags, std::span<const uint8_t> data);

  DWORD sessionId_;
  sim::CriticalSection lock_;
  Script script_;
  ChannelAssemblers assemblers_;
  std::map<std::string, std::vector<Bytes>> received_;
  sim::CriticalSection sendLock_;  // the frames of one Send go out together
  sim::UniqueSocket sending_;
  bool connected_ = false;
  std::optional<sim::SimLinkReceiver> receiver_;
};

// The host installed beside the real service: QuillonService.exe and QuillonNotify.dll copied
// into a temporary folder with the host's wtsapi32.dll, winspool.drv and spoolss.dll, loaded
// there through the service's DllOverrides, and the real QPortMonitor.dll in the system folder.
class HostServiceFixture : public ::testing::Test {
 protected:
  static constexpr wchar_t kServiceName[] = L"QuillonHostTest";

  void SetUp() override;
  // Starts the service and connects `control`; false (with a failure reported) if either fails.
  bool StartService(ScopedService& service, ControlClient& control);

  sim::WinsockSession winsock_;
  std::wstring folder_ = HostTestFolder();
  uint16_t controlPort_ = FreePort();
  uint16_t linkPort_ = FreePort();
  ScopedRegistryKey settings_{HKEY_LOCAL_MACHINE, L"Software\\Quillon Simulation"};
  ScopedRegistryKey overrides_{HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\QuillonService.exe\\DllOverrides"};
};

}  // namespace quil::test
