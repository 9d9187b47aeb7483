// The monitor's tables and handle entry points.
#include "MonitorEntryPoints.h"
#include "MonitorTableSizes.h"
#include "MonitorTestSupport.h"

namespace quil::test {
namespace {

constexpr DWORD kSeed = 0xdeadbeef;
const std::wstring kPort = L"QPRN[3:0:1]";

using MonitorEntryTest = MonitorTest;

TEST_F(MonitorEntryTest, TableHoldsTheMonitorsEntryPointsInSlotOrder) {
  MONITORINIT init{};
  HANDLE monitor = reinterpret_cast<HANDLE>(kSeed);
  const MONITOR2* table = InitializePrintMonitor2(&init, &monitor);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(monitor, static_cast<HANDLE>(&init)) << "the monitor handle is the initialisation block";
  // Wine reports a version after 5.0, so the whole table up to SendRecvBidiDataFromPort counts.
  EXPECT_EQ(table->cbSize, kMonitor2Size);
  EXPECT_NE(table->pfnEnumPorts, nullptr);
  EXPECT_NE(table->pfnOpenPort, nullptr);
  EXPECT_EQ(table->pfnOpenPortEx, nullptr);
  EXPECT_NE(table->pfnStartDocPort, nullptr);
  EXPECT_NE(table->pfnWritePort, nullptr);
  EXPECT_NE(table->pfnReadPort, nullptr);
  EXPECT_NE(table->pfnEndDocPort, nullptr);
  EXPECT_NE(table->pfnClosePort, nullptr);
  EXPECT_EQ(table->pfnAddPort, nullptr);
  EXPECT_EQ(table->pfnAddPortEx, nullptr);
  EXPECT_EQ(table->pfnConfigurePort, nullptr);
  EXPECT_EQ(table->pfnDeletePort, nullptr);
  EXPECT_EQ(table->pfnGetPrinterDataFromPort, nullptr);
  EXPECT_NE(table->pfnSetPortTimeOuts, nullptr);
  EXPECT_NE(table->pfnXcvOpenPort, nullptr);
  EXPECT_NE(table->pfnXcvDataPort, nullptr);
  EXPECT_NE(table->pfnXcvClosePort, nullptr);
  EXPECT_NE(table->pfnShutdown, nullptr);
  EXPECT_EQ(table->pfnSendRecvBidiDataFromPort, nullptr);
}

TEST_F(MonitorEntryTest, UserInterfaceRefusesEverything) {
  const MONITORUI* ui = InitializePrintMonitorUI();
  ASSERT_NE(ui, nullptr);
  EXPECT_EQ(ui->dwMonitorUISize, kMonitorUISize);
  PWSTR out = reinterpret_cast<PWSTR>(kSeed);
  SetLastError(kSeed);
  EXPECT_FALSE(ui->pfnAddPortUI(nullptr, nullptr, L"QPRN[3:0:1]", &out));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  SetLastError(kSeed);
  EXPECT_FALSE(ui->pfnConfigurePortUI(nullptr, nullptr, L"QPRN[3:0:1]"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  SetLastError(kSeed);
  EXPECT_FALSE(ui->pfnDeletePortUI(nullptr, nullptr, L"QPRN[3:0:1]"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
}

TEST_F(MonitorEntryTest, OpenPortGivesAHandlePerOpenOfAKnownName) {
  ASSERT_EQ(AddPort(kPort), 0u);
  HANDLE first = reinterpret_cast<HANDLE>(kSeed);
  HANDLE second = reinterpret_cast<HANDLE>(kSeed);
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &first));
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &second));
  EXPECT_NE(first, reinterpret_cast<HANDLE>(kSeed));
  EXPECT_NE(first, second);
  EXPECT_TRUE(Monitor().pfnClosePort(first));
  EXPECT_TRUE(Monitor().pfnClosePort(second));
}

TEST_F(MonitorEntryTest, OpenPortRefusesUnknownAndRemovedNames) {
  HANDLE port = reinterpret_cast<HANDLE>(kSeed);
  SetLastError(kSeed);
  EXPECT_FALSE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  ASSERT_EQ(AddPort(kPort), 0u);
  ASSERT_EQ(RemovePort(kPort), 0u);
  SetLastError(kSeed);
  EXPECT_FALSE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  // Names are compared exactly.
  ASSERT_EQ(AddPort(kPort), 0u);
  SetLastError(kSeed);
  EXPECT_FALSE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(L"qprn[3:0:1]"), &port));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  SetLastError(kSeed);
  EXPECT_FALSE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(MonitorEntryTest, ShutdownKeepsThePorts) {
  ASSERT_EQ(AddPort(kPort), 0u);
  Monitor().pfnShutdown(MonitorHandle());
  EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{kPort});
}

}  // namespace
}  // namespace quil::test
