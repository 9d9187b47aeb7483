// The server host under the real service: QuillonService.exe and QuillonNotify.dll copied into a
// folder with the host's wtsapi32.dll, winspool.drv and spoolss.dll, loaded there through the
// service's DllOverrides, the real QPortMonitor.dll in the system folder, and Wine's own service
// control manager starting the service. A scripted client computer on a channel link answers the
// printer-list and spool messages; the control connection raises the session changes.
#include <gtest/gtest.h>
#include <windows.h>

#include "HostTestSupport.h"
#include "SpoolDataFixtures.h"
#include "WaitUntil.h"
#include "WideText.h"

namespace quil::test {
namespace {

const std::string kSessionPrinter = "Office Laser (alice : 3)";
// The service handles a session change after the request that raised it has been answered.
constexpr DWORD kSessionChangeMs = 10000;

using HostServiceTest = HostServiceFixture;

TEST_F(HostServiceTest, SessionPrintersComeAndGoAndAJobReachesTheClientThroughTheRealServiceAndMonitor) {
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));

  EXPECT_EQ(control.Ask("session 3 alice"), Lines{"ok"});
  EXPECT_EQ(control.Ask("setdefault alice Old Printer"), Lines{"ok"});
  ScriptedClientComputer client(linkPort_, 3, u"Office Laser");
  ASSERT_TRUE(client.Connected());
  ASSERT_EQ(control.Ask("wait-client 3"), Lines{"ok"});

  EXPECT_EQ(control.Ask("logon 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 1"), Lines{"ok"});
  EXPECT_EQ(control.Ask("printers"),
            (Lines{"printer Old Printer|LPT1:|", "printer " + kSessionPrinter + "|QPRN[3:0:1]|alice", "ok"}));
  EXPECT_TRUE(
      WaitUntil([&] { return control.Ask("default alice") == Lines{"ok " + kSessionPrinter}; }, kSessionChangeMs));

  const std::vector<Bytes> pages = {RecordedPage(1), RecordedPage(2, 20000)};
  const std::wstring spoolFile = folder_ + L"\\job.spl";
  ASSERT_TRUE(WriteFileBytes(spoolFile, SpoolFile().Page(pages[0]).Page(pages[1]).Bytes()));
  EXPECT_EQ(control.Ask("print " + kSessionPrinter + "|Quarterly report|" + Narrow(spoolFile)),
            (Lines{"sent 1", "sent 2", "ok sent 2 pages"}));
  const auto job = client.JobStarted();
  ASSERT_TRUE(job.has_value());
  EXPECT_EQ(job->printerName, u"Office Laser");
  EXPECT_EQ(job->documentName, u"Quarterly report");
  EXPECT_EQ(client.Pages(), pages);
  EXPECT_TRUE(client.JobEnded());

  EXPECT_EQ(control.Ask("disconnect 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 0"), Lines{"ok"});
  EXPECT_TRUE(WaitUntil([&] { return control.Ask("default alice") == Lines{"ok Old Printer"}; }, kSessionChangeMs));
  EXPECT_EQ(control.Ask("connect 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 1"), Lines{"ok"});
  EXPECT_EQ(control.Ask("printers"),
            (Lines{"printer Old Printer|LPT1:|", "printer " + kSessionPrinter + "|QPRN[3:0:2]|alice", "ok"}));

  EXPECT_EQ(control.Ask("logoff 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 0"), Lines{"ok"});
  EXPECT_EQ(control.Ask("printers"), (Lines{"printer Old Printer|LPT1:|", "ok"}));
  EXPECT_TRUE(WaitUntil([&] { return control.Ask("default alice") == Lines{"ok Old Printer"}; }, kSessionChangeMs));
  EXPECT_EQ(control.Ask("quit"), Lines{"ok"});
  EXPECT_TRUE(service.StopAndWaitUntilStopped());
}

}  // namespace
}  // namespace quil::test
