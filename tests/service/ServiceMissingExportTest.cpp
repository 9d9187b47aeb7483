// The service beside a notification library that lacks the logon export.
#include <gmock/gmock.h>

#include "ServiceTestSupport.h"
#include "TestLogFile.h"

namespace quil::test {
namespace {

using ::testing::ElementsAre;

TEST_F(ServiceTest, AMissingExportDropsOnlyThatEvent) {
  ASSERT_TRUE(LibraryCalls::Observe()) << "the stand-in library should be loaded";
  sessions_.AddSession(1, L"RDP-Tcp#0", L"alice");
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGON, 1), static_cast<DWORD>(NO_ERROR));
  scm_.SendControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(program.WaitForExit());

  EXPECT_TRUE(LibraryCalls::SessionsOf(StandInEntry::Logon).empty());
  EXPECT_THAT(LibraryCalls::SessionsOf(StandInEntry::Logoff), ElementsAre(1u));
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logon Session id: 1"), 2u);
  EXPECT_EQ(scm_.Reports().back().status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

}  // namespace
}  // namespace quil::test
