// The exported logon and logoff entry points and the session registry behind them.
#include <gmock/gmock.h>

#include <algorithm>

#include "CQuilSessionRegistry.h"
#include "Installation.h"
#include "NotifyModule.h"
#include "NotifyTestSupport.h"
#include "QuillonNotify.h"
#include "TestLogFile.h"

namespace quil::test {
namespace {

using ::testing::ElementsAre;

class EntryPointsTest : public NotifyTest {
 protected:
  void SetUp() override {
    NotifyTest::SetUp();
    sessions_.AddSession(1, L"RDP-Tcp#0", L"alice", L"CORP");
    sessions_.AddSession(2, L"RDP-Tcp#1", L"bob");
    channels_.SetClient(1, &client_);
    channels_.SetClient(2, &client_);
  }
  void TearDown() override {
    QuilEventLogoff(1, nullptr);
    QuilEventLogoff(2, nullptr);
  }
  // The session keeps a copy of its own; the fixture closes these at the end.
  HANDLE Token(DWORD sessionId) {
    HANDLE token = nullptr;
    EXPECT_TRUE(WTSQueryUserToken(sessionId, &token));
    tokens_.emplace_back(token);
    return token;
  }
  bool WaitForExchanges(size_t count) {
    return WaitUntil([&] { return channels_.Closes() >= count && channels_.OpenChannels() == 0; });
  }

  sim::SimScriptedClient client_{{{u"Inkjet", true}}};
  std::vector<UniqueHandle> tokens_;
};

TEST_F(EntryPointsTest, LogonQueriesUserAndDomainAndStartsTheSession) {
  QuilEventLogon(1, Token(1));
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_TRUE(spooler_.Printer(L"Inkjet (alice : 1)"));
  EXPECT_EQ(sessions_.OutstandingAllocations(), 0u) << "both session texts are freed";
  EXPECT_EQ(TestLogFile::CountMessage("Logon session 1"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Session 1 user is alice"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Session 1 domain is CORP"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("CQuilUserSession::Logon"), 1u);
}

TEST_F(EntryPointsTest, SessionWithoutADomainGetsItsPrinters) {
  QuilEventLogon(2, Token(2));
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_TRUE(spooler_.Printer(L"Inkjet (bob : 2)"));
  EXPECT_EQ(spooler_.DefaultPrinterOf(L"bob"), L"Inkjet (bob : 2)");
}

TEST_F(EntryPointsTest, SecondLogonForARegisteredSessionIsIgnored) {
  QuilEventLogon(1, Token(1));
  QuilEventLogon(1, Token(1));
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_EQ(client_.CountRequests(), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("CQuilUserSession::Logon"), 1u);
  EXPECT_EQ(spooler_.Printers().size(), 1u);
}

TEST_F(EntryPointsTest, LogoffOfAnUnknownSessionOnlyLogs) {
  QuilEventLogoff(9, nullptr);
  EXPECT_EQ(TestLogFile::CountMessage("Logoff session 9"), 1u);
  EXPECT_TRUE(spooler_.Journal().empty());
  EXPECT_FALSE(CQuilSessionRegistry::Instance().IsRegistered(9));
}

TEST_F(EntryPointsTest, SessionWithoutAUserNameIsNotRegistered) {
  QuilEventLogon(7, nullptr);
  EXPECT_EQ(TestLogFile::CountMessage("Logon session 7"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("CQuilUserSession::Logon"), 0u);
  EXPECT_FALSE(CQuilSessionRegistry::Instance().IsRegistered(7));
}

TEST_F(EntryPointsTest, LogonLogoffLogonRequestsThePrintersAnew) {
  QuilEventLogon(1, Token(1));
  ASSERT_TRUE(WaitForExchanges(1));
  QuilEventLogoff(1, nullptr);
  EXPECT_FALSE(CQuilSessionRegistry::Instance().IsRegistered(1));
  EXPECT_TRUE(spooler_.Printers().empty());

  QuilEventLogon(1, Token(1));
  ASSERT_TRUE(WaitForExchanges(2));
  EXPECT_EQ(client_.CountRequests(), 2u);
  EXPECT_EQ(spooler_.Printer(L"Inkjet (alice : 1)")->port, L"QPRN[1:0:2]");
  EXPECT_EQ(TestLogFile::CountMessage("CQuilUserSession::Logon"), 2u);
}

TEST_F(EntryPointsTest, TwoSessionsAtOnceShareThePortCounter) {
  QuilEventLogon(1, Token(1));
  ASSERT_TRUE(WaitForExchanges(1));
  QuilEventLogon(2, Token(2));
  ASSERT_TRUE(WaitForExchanges(2));
  EXPECT_EQ(spooler_.Printer(L"Inkjet (alice : 1)")->port, L"QPRN[1:0:1]");
  EXPECT_EQ(spooler_.Printer(L"Inkjet (bob : 2)")->port, L"QPRN[2:0:2]");
  EXPECT_EQ(spooler_.DefaultPrinterOf(L"CORP\\alice"), L"Inkjet (alice : 1)");
  EXPECT_EQ(spooler_.DefaultPrinterOf(L"bob"), L"Inkjet (bob : 2)");
  QuilEventLogoff(1, nullptr);
  EXPECT_EQ(spooler_.Printers().size(), 1u) << "only the session's own printers go";
}

TEST_F(EntryPointsTest, WithoutAUsableTokenNoPrinterIsMadeAndNoDefaultPrinterIsTouched) {
  spooler_.AddExistingPrinter(L"System Printer");
  spooler_.SetDefaultPrinterOf(L"", L"System Printer");
  QuilEventLogon(1, nullptr);
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_FALSE(spooler_.Printer(L"Inkjet (alice : 1)")) << "a printer nobody's token makes hers";
  QuilEventLogoff(1, nullptr);
  EXPECT_EQ(spooler_.DefaultPrinterOf(L""), L"System Printer") << "the service's own default is not the user's";
  EXPECT_FALSE(spooler_.DefaultPrinterOf(L"CORP\\alice"));
  for (const auto& entry : spooler_.Journal()) EXPECT_NE(entry.rfind(L"SetDefault", 0), 0u) << entry;
}

// Wine reports session 1 for every token. Winlogon may close its token once the logon
// notification returns: the session impersonates the user with a handle of its own.
TEST_F(EntryPointsTest, WinlogonEntriesTakeTheSessionFromTheToken) {
  WLX_NOTIFICATION_INFO info{};
  info.Size = sizeof(info);
  UniqueHandle winlogonToken;
  ASSERT_TRUE(WTSQueryUserToken(1, winlogonToken.put()));
  info.hToken = winlogonToken.get();
  DWORD sessionId = 0;
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(info.hToken, TokenSessionId, &sessionId, sizeof(sessionId), &size));
  ASSERT_EQ(sessionId, 1u);

  WLEventLogon(&info);
  info.hToken = Token(1);  // taken first, so that it cannot reuse the handle value closed next
  winlogonToken.reset();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_TRUE(spooler_.Printer(L"Inkjet (alice : 1)"));
  EXPECT_EQ(spooler_.DefaultPrinterOf(L"CORP\\alice"), L"Inkjet (alice : 1)") << "the token is the user's";
  WLEventLogoff(&info);
  EXPECT_FALSE(CQuilSessionRegistry::Instance().IsRegistered(1));
  EXPECT_TRUE(spooler_.Printers().empty());
  EXPECT_EQ(TestLogFile::CountMessage("Logoff session 1"), 1u);
}

TEST_F(EntryPointsTest, WinlogonEntriesWithAnUnreadableTokenDoNothing) {
  const UniqueHandle notAToken(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  WLX_NOTIFICATION_INFO info{};
  info.hToken = notAToken.get();
  WLEventLogon(&info);
  WLEventLogoff(&info);
  info.hToken = nullptr;
  WLEventLogon(&info);
  WLEventLogon(nullptr);
  EXPECT_FALSE(TestLogFile::Exists());
  EXPECT_FALSE(CQuilSessionRegistry::Instance().IsRegistered(1));
}

// After the service ended abnormally while sessions lived, its printers and ports stay in the
// spooler and the monitor. At the next start those of sessions that are gone, or that another user
// has now, are removed before any logon; the other sessions' ones and other printers stay.
TEST_F(EntryPointsTest, OrphanedPrintersAndPortsAreRemovedAndThoseOfLiveSessionsStay) {
  const std::wstring driver = L"Quillon Driver v.0.1";
  const struct {
    const wchar_t* printer;  // null: a port without a printer
    const wchar_t* port;
    bool stays;
  } leftovers[] = {
      {L"Inkjet (carol : 5)", L"QPRN[5:0:1]", false},     // session 5 is gone
      {L"Laser (mallory : 2)", L"QPRN[2:0:2]", false},    // session 2 is bob's now
      {L"Plotter (alice : 1)", L"QPRN[1:0:3]", true},     // alice is still logged on
      {L"Odd (carol : 5)", L"LPT2:", false},              // on the driver, but no session's port
      {nullptr, L"QPRN[7:1:4]", false},
      {nullptr, L"QPRN[2:1:5]", true},
  };
  for (const auto& leftover : leftovers) {
    if (leftover.printer) spooler_.AddPrinterOnDriver(leftover.printer, leftover.port, driver);
    if (leftover.port[0] == L'Q') spooler_.AddMonitorPort(leftover.port, std::nullopt);
  }
  spooler_.AddPrinterOn(L"Office Laser", L"QPRN[9:0:9]");  // another driver: not a session printer

  sessions_.FailEnumeration(ERROR_ACCESS_DENIED);
  QuilRemoveOrphanedPrinters();
  EXPECT_TRUE(spooler_.Journal().empty()) << "unknown which sessions live: nothing goes";
  sessions_.FailEnumeration(0);
  QuilRemoveOrphanedPrinters();

  for (const auto& leftover : leftovers) {
    const std::string port(leftover.port, leftover.port + wcslen(leftover.port));
    if (leftover.printer) {
      EXPECT_EQ(spooler_.Printer(leftover.printer).has_value(), leftover.stays) << port;
    }
    if (leftover.port[0] == L'Q') {
      EXPECT_EQ(spooler_.Ports().count(leftover.port), leftover.stays ? 1u : 0u) << port;
    }
  }
  EXPECT_TRUE(spooler_.Printer(L"Office Laser"));
  const auto journal = spooler_.Journal();
  EXPECT_NE(std::find(journal.begin(), journal.end(), L"Purge Inkjet (carol : 5)"), journal.end());
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
  EXPECT_EQ(sessions_.OutstandingAllocations(), 0u);
}

TEST(NotifyModule, DirectoryOfTheModuleEndsInABackslash) {
  RecordModule(GetModuleHandleW(nullptr));
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, length);
  EXPECT_EQ(Module(), GetModuleHandleW(nullptr));
  EXPECT_EQ(ModuleDirectory(), file.substr(0, file.rfind(L'\\') + 1));
  EXPECT_EQ(ModuleDirectory().back(), L'\\');
}

// The spooler refuses to delete a driver that a printer uses: Uninstall reports the refusal,
// whatever installer handle it is given, after going on to the monitor.
TEST_F(EntryPointsTest, UninstallWhileASessionPrinterUsesTheDriverFailsAndKeepsThePrinter) {
  QuilEventLogon(1, Token(1));
  ASSERT_TRUE(WaitForExchanges(1));
  ASSERT_EQ(spooler_.Printer(L"Inkjet (alice : 1)")->driver, L"Quillon Driver v.0.1");
  EXPECT_EQ(Uninstall(0x1234), static_cast<UINT>(ERROR_INSTALL_FAILURE));
  EXPECT_TRUE(spooler_.Printer(L"Inkjet (alice : 1)"));
  EXPECT_EQ(TestLogFile::CountMessage("Uninstall print driver."), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Uninstall print monitor."), 1u);
  // The session's thread may still be logging: the refusal is the first result after the step.
  const std::vector<std::string> messages = TestLogFile::Messages();
  const auto step = std::find(messages.begin(), messages.end(), "Uninstall print driver.");
  ASSERT_NE(step, messages.end());
  const auto result = std::find_if(step, messages.end(), [](const std::string& m) { return m.starts_with("Result: "); });
  ASSERT_NE(result, messages.end());
  EXPECT_TRUE(result->ends_with(" [3001]")) << *result;
}

}  // namespace
}  // namespace quil::test
