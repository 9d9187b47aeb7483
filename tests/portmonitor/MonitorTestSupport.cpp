#include "MonitorTestSupport.h"

#include <cstring>

#include "MonitorEntryPoints.h"
#include "TestLogFile.h"
#include "UniqueHandle.h"
#include "WideText.h"

namespace quil::test {

std::vector<uint8_t> PortNameInput(const std::wstring& name) {
  std::vector<uint8_t> input((name.size() + 1) * sizeof(wchar_t));
  std::memcpy(input.data(), name.c_str(), input.size());
  return input;
}

std::vector<uint8_t> SettingsInput(const std::wstring& port, const std::wstring& clientPrinter,
                                   const std::wstring& user, DWORD sessionId) {
  return BuildPortSettingsBlock({ToU16(port), ToU16(clientPrinter), ToU16(user), sessionId});
}

TestThread::TestThread(Body body, void* context)
    : body_(body), context_(context), thread_(CreateThread(nullptr, 0, &TestThread::Run, this, 0, nullptr)) {}

TestThread::~TestThread() { Join(); }

bool TestThread::Join(DWORD timeoutMs) {
  return !thread_ || WaitForSingleObject(thread_.get(), WaitBound(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD WINAPI TestThread::Run(LPVOID self) {
  auto* thread = static_cast<TestThread*>(self);
  return thread->body_(thread->context_);
}

ActAsSessionUser::ActAsSessionUser(DWORD sessionId) {
  UniqueHandle token;
  if (WTSQueryUserToken(sessionId, token.put())) ImpersonateLoggedOnUser(token.get());
}

ActAsSessionUser::~ActAsSessionUser() { RevertToSelf(); }

void MonitorTest::SetUp() {
  sessions_.Reset();
  channels_.Reset();
  spooler_.Reset();
  TestLogFile::Remove();
  sessions_.AddSession(kSession, L"RDP-Tcp#1", L"alice", L"DOM");
  sessions_.AddSession(kSession + 1, L"RDP-Tcp#2", L"bob", L"DOM");
  router_ = LoadLibraryW(L"SPOOLSS.DLL");
  ASSERT_NE(router_, nullptr);
  ASSERT_NE(GetProcAddress(router_, "SimSpoolssSetPorts"), nullptr) << "the replacement router is not loaded";
  SetSpoolerPorts({});
  FailSpoolerEnumPorts(0, 0);
  monitor_ = InitializePrintMonitor2(&init_, &monitorHandle_);
  ASSERT_NE(monitor_, nullptr);
}

void MonitorTest::TearDown() {
  for (HANDLE xcv : xcvHandles_) monitor_->pfnXcvClosePort(xcv);
  if (router_) FreeLibrary(router_);
  EXPECT_EQ(channels_.Misuses(), std::vector<std::wstring>{}) << "channel handles used after their close";
}

HANDLE MonitorTest::OpenXcv(ACCESS_MASK access) {
  HANDLE xcv = nullptr;
  EXPECT_TRUE(monitor_->pfnXcvOpenPort(monitorHandle_, L",XcvMonitor Quillon Port", access, &xcv));
  xcvHandles_.push_back(xcv);
  return xcv;
}

DWORD MonitorTest::Xcv(HANDLE xcv, const wchar_t* command, const std::vector<uint8_t>& input, BYTE* output,
                       DWORD outputSize, DWORD* needed) {
  std::vector<uint8_t> copy = input;  // the monitor must not rely on reading past the stated size
  return monitor_->pfnXcvDataPort(xcv, command, copy.empty() ? nullptr : copy.data(),
                                  static_cast<DWORD>(copy.size()), output, outputSize, needed);
}

DWORD MonitorTest::AddPort(const std::wstring& name) { return Xcv(OpenXcv(), L"AddPort", PortNameInput(name)); }

DWORD MonitorTest::RemovePort(const std::wstring& name) {
  return Xcv(OpenXcv(), L"RemovePort", PortNameInput(name));
}

DWORD MonitorTest::SetPortSettings(const std::wstring& port, const std::wstring& clientPrinter,
                                   const std::wstring& user, DWORD sessionId) {
  return Xcv(OpenXcv(), L"PortSettings", SettingsInput(port, clientPrinter, user, sessionId));
}

std::vector<std::wstring> MonitorTest::EnumeratedPorts() {
  DWORD needed = 0;
  DWORD returned = 0;
  monitor_->pfnEnumPorts(monitorHandle_, nullptr, 1, nullptr, 0, &needed, &returned);
  std::vector<BYTE> buffer(needed);
  std::vector<std::wstring> names;
  if (!monitor_->pfnEnumPorts(monitorHandle_, nullptr, 1, buffer.data(), needed, &needed, &returned)) return names;
  const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) names.emplace_back(ports[i].pName);
  return names;
}

void MonitorTest::SetSpoolerPorts(const std::vector<std::wstring>& ports) {
  std::wstring list;
  for (const auto& port : ports) list += port + L'\0';
  list += L'\0';
  using SetPorts = void(WINAPI*)(const wchar_t*);
  reinterpret_cast<SetPorts>(reinterpret_cast<void*>(GetProcAddress(router_, "SimSpoolssSetPorts")))(list.c_str());
}

void MonitorTest::FailSpoolerEnumPorts(DWORD everyCall, DWORD callWithBuffer) {
  using Fail = void(WINAPI*)(DWORD, DWORD);
  reinterpret_cast<Fail>(reinterpret_cast<void*>(GetProcAddress(router_, "SimSpoolssFailEnumPorts")))(
      everyCall, callWithBuffer);
}

MonitorTest::RouterCalls MonitorTest::RouterCallCounts() {
  RouterCalls calls;
  using Counts = void(WINAPI*)(LONG*, LONG*, LONG*);
  reinterpret_cast<Counts>(reinterpret_cast<void*>(GetProcAddress(router_, "SimSpoolssCounts")))(
      &calls.reverts, &calls.impersonations, &calls.enumPorts);
  return calls;
}

}  // namespace quil::test
