// The service with no notification library to be found.
#include <gmock/gmock.h>

#include "ServiceTestSupport.h"
#include "TestLogFile.h"

namespace quil::test {
namespace {

using ::testing::ElementsAre;

TEST_F(ServiceTest, WithoutTheLibraryTheServiceStillStartsRunsAndStops) {
  EXPECT_EQ(GetModuleHandleW(L"QuillonNotify.dll"), nullptr);
  sessions_.AddSession(1, L"RDP-Tcp#0", L"alice");
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGON, 1), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGOFF, 1), static_cast<DWORD>(NO_ERROR));
  scm_.SendControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(program.WaitForExit());

  std::vector<DWORD> states;
  for (const auto& report : scm_.Reports()) states.push_back(report.status.dwCurrentState);
  EXPECT_THAT(states, ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING,
                                  SERVICE_STOPPED))
      << "the stop, then the logoff of the one session";
  EXPECT_EQ(scm_.Reports().back().status.dwWin32ExitCode, 0u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logon Session id: 1"), 2u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logoff session id: 1"), 2u);
}

}  // namespace
}  // namespace quil::test
