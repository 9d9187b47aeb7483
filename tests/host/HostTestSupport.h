// What the server host's test needs around the real service: registry values and a service that
// are removed again, a control connection, and a scripted client computer on a channel link.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "JobSettings.h"
#include "MessageAssembler.h"
#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SimLock.h"
#include "SimSocket.h"
#include "SpoolMessages.h"

namespace quil::test {

using Bytes = std::vector<uint8_t>;

// Wine's drive Z: is the root of the Unix file system.
std::wstring WindowsPath(const char* unixPath);
// A loopback port that nothing listens on at the moment.
uint16_t FreePort();

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
  std::vector<std::string> Ask(const std::string& request);

 private:
  std::optional<std::string> ReadLine();

  sim::UniqueSocket socket_;
  std::string received_;
};

// A client computer on a channel link: it sends its session id, then answers the printer-list
// requests with one printer, its default, and acknowledges each job message, recording what came.
class ScriptedClientComputer {
 public:
  ScriptedClientComputer(uint16_t linkPort, DWORD sessionId, std::u16string printerName);
  bool Connected() const { return connected_; }

  std::optional<JobStart> JobStarted();
  std::vector<Bytes> Pages();
  bool JobEnded();

 private:
  void OnChunk(const std::string& channel, uint32_t total, uint32_t flags, std::span<const uint8_t> data);
  void Answer(const std::string& channel, const Bytes& message);
  Bytes PrinterListAnswer(const Bytes& request);
  Bytes SpoolAnswer(const Bytes& request);

  DWORD sessionId_;
  std::u16string printerName_;
  sim::CriticalSection lock_;
  std::map<std::string, CQuilMessageAssembler> assemblers_;
  std::optional<JobStart> jobStart_;
  std::vector<Bytes> pages_;
  bool jobEnded_ = false;
  bool connected_ = false;
  std::optional<sim::SimLinkSender> sender_;
  std::optional<sim::SimLinkReceiver> receiver_;
};

}  // namespace quil::test
