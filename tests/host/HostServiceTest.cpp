// The server host under the real service: QuillonService.exe and QuillonNotify.dll copied into a
// folder with the host's wtsapi32.dll, winspool.drv and spoolss.dll, loaded there through the
// service's DllOverrides, the real QPortMonitor.dll in the system folder, and Wine's own service
// control manager starting the service. A scripted client computer on a channel link of the "wan"
// profile answers the printer-list and spool messages; the control connection raises the session
// changes.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "HostTestSupport.h"
#include "SimLinkShape.h"
#include "SimLinkShaper.h"
#include "SpoolDataFixtures.h"
#include "WaitUntil.h"
#include "WideText.h"

namespace quil::test {
namespace {

const std::string kSessionPrinter = "Office Laser (alice : 3)";

// Seconds on the performance counter's clock.
double Seconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}
// The service handles a session change after the request that raised it has been answered.
const DWORD kSessionChangeMs = WaitBound(10000);

using HostServiceTest = HostServiceFixture;

TEST_F(HostServiceTest, SessionPrintersComeAndGoAndAJobReachesTheClientThroughTheRealServiceAndMonitor) {
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));

  EXPECT_EQ(control.Ask("session 3 alice"), Lines{"ok"});
  EXPECT_EQ(control.Ask("setdefault alice Old Printer"), Lines{"ok"});
  ScriptedClientComputer client(linkPort_, 3, u"Office Laser", "wan");
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
  const double printStart = Seconds();
  EXPECT_EQ(control.Ask("print " + kSessionPrinter + "|Quarterly report|" + Narrow(spoolFile)),
            (Lines{"sent 1", "sent 2", "ok sent 2 pages"}));
  // The host shapes its direction by the client's profile, as the client shapes its own: each of
  // the job's four messages waits a round trip for its acknowledgement, and the pages cross at the
  // rate, less what the token bucket lets through at once.
  const double printSeconds = Seconds() - printStart;
  const sim::SimLinkShape wan = *sim::LinkProfile("wan");
  const double rate = static_cast<double>(wan.bytesPerSecond);
  const double pageBytes = static_cast<double>(pages[0].size() + pages[1].size());
  EXPECT_GE(printSeconds, 4 * 2 * wan.delayMs / 1000.0 + pageBytes / rate - sim::SimLinkShaper::kBurstSeconds);
  const Lines link = control.Ask("link 3");
  ASSERT_EQ(link.size(), 1u);
  EXPECT_EQ(link[0].rfind("ok profile wan rate 250000 delay 40 to-client ", 0), 0u) << link[0];
  EXPECT_GT(std::stod(link[0].substr(link[0].find("to-client ") + 10)), pageBytes) << link[0];
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
