// Shared set-up of the port monitor's tests: the monitor's code is linked into the test, the
// simulated sessions, channels and spooler stand in for the platform, and the replacement
// "SPOOLSS.DLL" beside the executable answers the monitor's calls to the spooler router.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#include <string>
#include <vector>

#include "PortSettingsBlock.h"
#include "ScriptedSpoolClient.h"
#include "SimSpooler.h"
#include "SimTerminalServer.h"
#include "SimVirtualChannels.h"
#include "UniqueHandle.h"
#include "WaitUntil.h"

namespace quil::test {

// The port name as "AddPort" and "RemovePort" take it: UTF-16 with its NUL.
std::vector<uint8_t> PortNameInput(const std::wstring& name);
std::vector<uint8_t> SettingsInput(const std::wstring& port, const std::wstring& clientPrinter,
                                   const std::wstring& user, DWORD sessionId);

// Runs a function on a thread of its own and waits for it on destruction.
class TestThread {
 public:
  using Body = DWORD (*)(void*);
  TestThread(Body body, void* context);
  ~TestThread();
  bool Join(DWORD timeoutMs = 20000);

 private:
  static DWORD WINAPI Run(LPVOID self);
  Body body_;
  void* context_;
  UniqueHandle thread_;
};

// Acts as a session's user (through the simulated terminal server's token) for its life.
class ActAsSessionUser {
 public:
  explicit ActAsSessionUser(DWORD sessionId);
  ~ActAsSessionUser();
};

class MonitorTest : public ::testing::Test {
 protected:
  static constexpr DWORD kSession = 3;
  static constexpr const wchar_t* kAccount = L"DOM\\alice";

  void SetUp() override;
  void TearDown() override;

  // The monitor as the spooler starts it.
  MONITOR2& Monitor() { return *monitor_; }
  HANDLE MonitorHandle() const { return monitorHandle_; }

  HANDLE OpenXcv(ACCESS_MASK access = SERVER_ACCESS_ADMINISTER);
  DWORD Xcv(HANDLE xcv, const wchar_t* command, const std::vector<uint8_t>& input, BYTE* output = nullptr,
            DWORD outputSize = 0, DWORD* needed = nullptr);
  DWORD AddPort(const std::wstring& name);
  DWORD RemovePort(const std::wstring& name);
  DWORD SetPortSettings(const std::wstring& port, const std::wstring& clientPrinter, const std::wstring& user,
                        DWORD sessionId);
  // The port names that enumeration at level 1 returns, in order.
  std::vector<std::wstring> EnumeratedPorts();

  // The replacement router's port list and switches.
  void SetSpoolerPorts(const std::vector<std::wstring>& ports);
  void FailSpoolerEnumPorts(DWORD everyCall, DWORD callWithBuffer);
  struct RouterCalls {
    LONG reverts = 0;
    LONG impersonations = 0;
    LONG enumPorts = 0;
  };
  RouterCalls RouterCallCounts();

  sim::SimTerminalServer& sessions_ = sim::SimTerminalServer::Instance();
  sim::SimVirtualChannels& channels_ = sim::SimVirtualChannels::Instance();
  sim::SimSpooler& spooler_ = sim::SimSpooler::Instance();

 private:
  MONITORINIT init_{};
  HANDLE monitorHandle_ = nullptr;
  MONITOR2* monitor_ = nullptr;
  HMODULE router_ = nullptr;
  std::vector<HANDLE> xcvHandles_;
};

}  // namespace quil::test
