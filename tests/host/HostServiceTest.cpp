// The server host under the real service: QuillonService.exe and QuillonNotify.dll copied into a
// folder with the host's wtsapi32.dll, winspool.drv and spoolss.dll, loaded there through the
// service's DllOverrides, the real QPortMonitor.dll in the system folder, and Wine's own service
// control manager starting the service. A scripted client computer on a channel link answers the
// printer-list and spool messages; the control connection raises the session changes.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "HostTestSupport.h"
#include "SpoolDataFixtures.h"
#include "WideText.h"

namespace quil::test {
namespace {

using Lines = std::vector<std::string>;

constexpr wchar_t kServiceName[] = L"QuillonHostTest";
constexpr DWORD kConnectWaitMs = 20000;
const std::string kSessionPrinter = "Office Laser (alice : 3)";

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"quillon-host-test";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

bool CopyInto(const std::wstring& folder, const char* unixPath) {
  const std::wstring source = WindowsPath(unixPath);
  return CopyFileW(source.c_str(), (folder + source.substr(source.rfind(L'\\'))).c_str(), FALSE) != FALSE;
}

bool WriteFileBytes(const std::wstring& path, const Bytes& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class HostServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(winsock_.Started());
    for (const char* file : {QUIL_SERVICE_EXE, QUIL_NOTIFY_DLL, QUIL_HOST_WTSAPI32, QUIL_HOST_WINSPOOL, QUIL_HOST_SPOOLSS}) {
      ASSERT_TRUE(CopyInto(folder_, file)) << file << ": error " << GetLastError();
    }
    ASSERT_TRUE(CopyInto(SystemFolder(), QUIL_MONITOR_DLL)) << "error " << GetLastError();
    ASSERT_TRUE(settings_.SetDword(L"ControlPort", controlPort_) && settings_.SetDword(L"LinkPort", linkPort_));
    for (const wchar_t* dll : {L"wtsapi32", L"winspool.drv", L"spoolss"}) {
      ASSERT_TRUE(overrides_.SetText(dll, L"native,builtin"));
    }
  }

  sim::WinsockSession winsock_;
  std::wstring folder_ = TempFolder();
  uint16_t controlPort_ = FreePort();
  uint16_t linkPort_ = FreePort();
  ScopedRegistryKey settings_{HKEY_LOCAL_MACHINE, L"Software\\Quillon Simulation"};
  ScopedRegistryKey overrides_{HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\QuillonService.exe\\DllOverrides"};
};

TEST_F(HostServiceTest, SessionPrintersComeAndGoAndAJobReachesTheClientThroughTheRealServiceAndMonitor) {
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ASSERT_TRUE(service.Registered()) << GetLastError();
  ASSERT_TRUE(service.StartAndWaitUntilRunning()) << GetLastError();
  ControlClient control;
  ASSERT_TRUE(control.Connect(controlPort_, kConnectWaitMs));

  EXPECT_EQ(control.Ask("session 3 alice"), Lines{"ok"});
  EXPECT_EQ(control.Ask("setdefault alice Old Printer"), Lines{"ok"});
  ScriptedClientComputer client(linkPort_, 3, u"Office Laser");
  ASSERT_TRUE(client.Connected());
  ASSERT_EQ(control.Ask("wait-client 3"), Lines{"ok"});

  EXPECT_EQ(control.Ask("logon 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 1"), Lines{"ok"});
  EXPECT_EQ(control.Ask("printers"),
            (Lines{"printer Old Printer|LPT1:|", "printer " + kSessionPrinter + "|QPRN[3:0:1]|alice", "ok"}));
  EXPECT_EQ(control.Ask("default alice"), Lines{"ok " + kSessionPrinter});

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
  EXPECT_EQ(control.Ask("default alice"), Lines{"ok Old Printer"});
  EXPECT_EQ(control.Ask("connect 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 1"), Lines{"ok"});
  EXPECT_EQ(control.Ask("printers"),
            (Lines{"printer Old Printer|LPT1:|", "printer " + kSessionPrinter + "|QPRN[3:0:2]|alice", "ok"}));

  EXPECT_EQ(control.Ask("logoff 3"), Lines{"ok"});
  EXPECT_EQ(control.Ask("wait-printers 3 0"), Lines{"ok"});
  EXPECT_EQ(control.Ask("printers"), (Lines{"printer Old Printer|LPT1:|", "ok"}));
  EXPECT_EQ(control.Ask("default alice"), Lines{"ok Old Printer"});
  EXPECT_EQ(control.Ask("quit"), Lines{"ok"});
  EXPECT_TRUE(service.StopAndWaitUntilStopped());
}

}  // namespace
}  // namespace quil::test
