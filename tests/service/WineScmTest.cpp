// The real service executable, registered, started and stopped by Wine's own service control
// manager.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "WaitBound.h"

namespace {

constexpr wchar_t kServiceName[] = L"QuillonService";
const DWORD kBoundedWaitMs = quil::test::WaitBound(20000);

struct ServiceHandle {
  explicit ServiceHandle(SC_HANDLE h) : handle(h) {}
  ~ServiceHandle() {
    if (handle) CloseServiceHandle(handle);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE handle;
};

// Wine's drive Z: is the root of the Unix file system.
std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* c = unixPath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
  return path;
}

bool WaitForState(SC_HANDLE service, DWORD state, SERVICE_STATUS& status) {
  for (DWORD waited = 0; waited < kBoundedWaitMs; waited += 50) {
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) return true;
    Sleep(50);
  }
  return false;
}

void DeleteLeftover(SC_HANDLE manager) {
  ServiceHandle old(OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS));
  if (!old.handle) return;
  SERVICE_STATUS status;
  ControlService(old.handle, SERVICE_CONTROL_STOP, &status);
  WaitForState(old.handle, SERVICE_STOPPED, status);
  DeleteService(old.handle);
}

TEST(WineScmTest, TheServiceExecutableStartsRunsAndStopsUnderTheRealManager) {
  ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_NE(manager.handle, nullptr) << GetLastError();
  DeleteLeftover(manager.handle);

  const std::wstring binary = WindowsPath(QUIL_SERVICE_EXE);
  ServiceHandle service(CreateServiceW(manager.handle, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_NE(service.handle, nullptr) << GetLastError();

  SERVICE_STATUS status{};
  EXPECT_TRUE(StartServiceW(service.handle, 0, nullptr)) << GetLastError();
  EXPECT_TRUE(WaitForState(service.handle, SERVICE_RUNNING, status)) << status.dwCurrentState;
  EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE));

  EXPECT_TRUE(ControlService(service.handle, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(WaitForState(service.handle, SERVICE_STOPPED, status)) << status.dwCurrentState;
  EXPECT_EQ(status.dwWin32ExitCode, 0u);
  EXPECT_TRUE(DeleteService(service.handle)) << GetLastError();
}

}  // namespace
