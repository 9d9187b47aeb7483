// A session's whole life through the library's entry points: the printer-list exchange with a
// scripted client, the session's named events, and logoff.
#include <gmock/gmock.h>

#include <algorithm>

#include "NotifyTestSupport.h"
#include "PrinterListMessages.h"
#include "QuillonNotify.h"
#include "SessionEvents.h"
#include "SquattedObjects.h"
#include "TestLogFile.h"
#include "UniquePrinter.h"

namespace quil::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kSession = 3;
constexpr wchar_t kUser[] = L"CORP\\alice";

class UserSessionTest : public NotifyTest {
 protected:
  void SetUp() override {
    NotifyTest::SetUp();
    sessions_.AddSession(kSession, L"RDP-Tcp#0", L"alice", L"CORP");
    spooler_.AddExistingPrinter(L"Office Laser");
    spooler_.AddExistingPrinter(L"System Printer");
    spooler_.SetDefaultPrinterOf(kUser, L"Office Laser");
    spooler_.SetDefaultPrinterOf(L"", L"System Printer");
    channels_.SetClient(kSession, &client_);
  }
  void TearDown() override {
    QuilEventLogoff(kSession, nullptr);
    EXPECT_EQ(channels_.OpenChannels(), 0u);
    EXPECT_EQ(channels_.InvalidCloses(), 0u);
    EXPECT_EQ(spooler_.InvalidCloses(), 0u);
    NotifyTest::TearDown();
  }

  void Logon() {
    UniqueHandle token;
    ASSERT_TRUE(WTSQueryUserToken(kSession, token.put()));
    QuilEventLogon(kSession, token.get());
  }
  // Waits until `count` printer-list exchanges have ended (each closes its channel).
  bool WaitForExchanges(size_t count) {
    return WaitUntil([&] { return channels_.Closes() >= count && channels_.OpenChannels() == 0; });
  }
  bool WaitForJournalEntries(size_t count) {
    return WaitUntil([&] { return spooler_.Journal().size() >= count; });
  }
  std::vector<std::wstring> SessionPrinters() {
    std::vector<std::wstring> names;
    for (const auto& printer : spooler_.Printers()) {
      if (printer.name != L"Office Laser" && printer.name != L"System Printer") names.push_back(printer.name);
    }
    return names;
  }

  sim::SimScriptedClient client_{{{u"Inkjet", false}, {u"\\\\PRINTSRV\\Laser", true}, {u"Plotter", false}}};
  UniqueHandle disconnect_ = NamedEvent(L"Global\\Quillon-3-Disconnect");
  UniqueHandle reconnect_ = NamedEvent(L"Global\\Quillon-3-Reconnect");
};

TEST_F(UserSessionTest, ThreePrintersAreCreatedInOrderAndTheClientsDefaultBecomesTheUsersDefault) {
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_EQ(client_.CountRequests(), 1u);
  EXPECT_THAT(client_.PrinterRequests(), ElementsAre(0u, 1u, 2u));
  EXPECT_THAT(SessionPrinters(),
              ElementsAre(L"Inkjet (alice : 3)", L"Laser on PRINTSRV (alice : 3)", L"Plotter (alice : 3)"));
  EXPECT_EQ(spooler_.Printer(L"Inkjet (alice : 3)")->port, L"QPRN[3:0:1]");
  EXPECT_EQ(spooler_.Printer(L"Laser on PRINTSRV (alice : 3)")->port, L"QPRN[3:1:2]");
  EXPECT_EQ(spooler_.Printer(L"Plotter (alice : 3)")->port, L"QPRN[3:2:3]");
  const auto ports = spooler_.Ports();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports.at(L"QPRN[3:1:2]"), (PortSettings{u"QPRN[3:1:2]", u"\\\\PRINTSRV\\Laser", u"alice", kSession}));

  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Laser on PRINTSRV (alice : 3)");
  EXPECT_EQ(spooler_.DefaultPrinterOf(L""), L"System Printer") << "the service's own default stays";
  EXPECT_EQ(channels_.Written(kSession, "QPrn"),
            (std::vector<std::vector<uint8_t>>{BuildPrinterCountRequest(), BuildPrinterRequest(0),
                                               BuildPrinterRequest(1), BuildPrinterRequest(2)}));
}

TEST_F(UserSessionTest, LogoffRemovesEverythingInCreationOrderAndRestoresTheUsersOwnDefault) {
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  const size_t before = spooler_.Journal().size();
  QuilEventLogoff(kSession, nullptr);

  const auto journal = spooler_.Journal();
  EXPECT_THAT(std::vector<std::wstring>(journal.begin() + before, journal.end()),
              ElementsAre(L"Purge Inkjet (alice : 3)", L"DeletePrinter Inkjet (alice : 3)", L"RemovePort QPRN[3:0:1]",
                          L"Purge Laser on PRINTSRV (alice : 3)", L"DeletePrinter Laser on PRINTSRV (alice : 3)",
                          L"RemovePort QPRN[3:1:2]", L"Purge Plotter (alice : 3)",
                          L"DeletePrinter Plotter (alice : 3)", L"RemovePort QPRN[3:2:3]",
                          L"SetDefault CORP\\alice: Office Laser"));
  EXPECT_THAT(SessionPrinters(), IsEmpty());
  EXPECT_TRUE(spooler_.Ports().empty());
  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Office Laser");
  EXPECT_EQ(spooler_.DefaultPrinterOf(L""), L"System Printer");
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
  EXPECT_EQ(TestLogFile::CountMessage("Stop. SessionId: 3"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Logoff session 3"), 1u);
}

TEST_F(UserSessionTest, ClientWithoutPrintersGetsNoneAndReconnectAsksAgain) {
  sim::SimScriptedClient empty;
  channels_.SetClient(kSession, &empty);
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_THAT(empty.PrinterRequests(), IsEmpty());
  EXPECT_THAT(SessionPrinters(), IsEmpty());

  SetEvent(reconnect_.get());
  ASSERT_TRUE(WaitUntil([&] { return empty.CountRequests() == 2; }));
  ASSERT_TRUE(WaitForExchanges(2));
  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Office Laser");
}

TEST_F(UserSessionTest, DisconnectRemovesThePrintersAndRestoresTheDefaultAndReconnectFetchesThemAnew) {
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  SetEvent(disconnect_.get());
  ASSERT_TRUE(WaitUntil([&] { return SessionPrinters().empty() && spooler_.Ports().empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return spooler_.DefaultPrinterOf(kUser) == L"Office Laser"; }));
  EXPECT_EQ(spooler_.DefaultPrinterOf(L""), L"System Printer");

  SetEvent(reconnect_.get());
  ASSERT_TRUE(WaitForExchanges(2));
  ASSERT_TRUE(WaitUntil([&] { return SessionPrinters().size() == 3; }));
  EXPECT_EQ(spooler_.Printer(L"Inkjet (alice : 3)")->port, L"QPRN[3:0:4]") << "new port numbers";
  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Laser on PRINTSRV (alice : 3)");

  QuilEventLogoff(kSession, nullptr);
  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Office Laser") << "the default saved before the second exchange";
}

// A default that is itself a session printer (one an earlier run of the service left, or one a
// failed restore kept) is not the user's earlier default: it is never recorded nor restored.
TEST_F(UserSessionTest, ADefaultThatIsASessionPrinterIsNeverRecordedAsTheEarlierDefault) {
  spooler_.AddPrinterOnDriver(L"Inkjet (alice : 9)", L"QPRN[9:0:1]", L"Quillon Driver v.0.1");
  spooler_.SetDefaultPrinterOf(kUser, L"Inkjet (alice : 9)");
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  QuilEventLogoff(kSession, nullptr);

  for (const auto& entry : spooler_.Journal()) EXPECT_NE(entry, L"SetDefault CORP\\alice: Inkjet (alice : 9)");
  EXPECT_NE(spooler_.DefaultPrinterOf(kUser), L"Inkjet (alice : 9)");
  EXPECT_EQ(
      TestLogFile::CountMessage("Default printer Inkjet (alice : 9) is not recorded: it may be a session printer"), 1u);
}

TEST_F(UserSessionTest, ARestoreOfTheEarlierDefaultThatFailsIsLogged) {
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  UniquePrinter earlier;
  PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
  ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"Office Laser"), earlier.put(), &all));
  ASSERT_TRUE(DeletePrinter(earlier.get())) << "the earlier default goes during the session";
  QuilEventLogoff(kSession, nullptr);

  const auto messages = TestLogFile::Messages();
  const auto failed =
      std::find(messages.begin(), messages.end(), "Default printer Office Laser could not be set again");
  ASSERT_NE(failed, messages.end());
  ASSERT_NE(failed + 1, messages.end());
  EXPECT_TRUE((failed + 1)->ends_with(" [1801]")) << *(failed + 1);
}

TEST_F(UserSessionTest, ReconnectWhilePrintersExistChangesNothing) {
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  const auto journal = spooler_.Journal();
  SetEvent(reconnect_.get());
  ASSERT_TRUE(WaitUntil([] { return TestLogFile::CountMessage("Reconnect. SessionId: 3") == 1; }));
  EXPECT_EQ(client_.CountRequests(), 1u);
  EXPECT_EQ(spooler_.Journal(), journal);
}

TEST_F(UserSessionTest, SecondDisconnectOnlyRestoresTheDefaultAgain) {
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  SetEvent(disconnect_.get());
  ASSERT_TRUE(WaitUntil([] { return TestLogFile::CountMessage("Delete printers") == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return spooler_.Journal().back() == L"SetDefault CORP\\alice: Office Laser"; }));
  const size_t before = spooler_.Journal().size();
  SetEvent(disconnect_.get());
  ASSERT_TRUE(WaitForJournalEntries(before + 1));
  EXPECT_EQ(spooler_.Journal().back(), L"SetDefault CORP\\alice: Office Laser");
  EXPECT_EQ(spooler_.Journal().size(), before + 1);
}

TEST_F(UserSessionTest, PrinterThatCannotBeCreatedIsSkipped) {
  spooler_.AddExistingPrinter(L"Laser on PRINTSRV (alice : 3)");
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_THAT(client_.PrinterRequests(), ElementsAre(0u, 1u, 2u));
  EXPECT_THAT(SessionPrinters(), ElementsAre(L"Laser on PRINTSRV (alice : 3)", L"Inkjet (alice : 3)",
                                             L"Plotter (alice : 3)"));
  EXPECT_EQ(spooler_.Printer(L"Plotter (alice : 3)")->port, L"QPRN[3:2:3]");
  EXPECT_EQ(spooler_.Ports().count(L"QPRN[3:1:2]"), 0u) << "the port of the failed printer is removed again";
  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Office Laser") << "the failed printer was the client's default";
}

// The logoff itself ends an exchange whose client never answers, even where another user holds
// the channel's disconnect event.
TEST_F(UserSessionTest, LogoffWhileTheClientNeverAnswersEndsTheExchange) {
  const UniqueHandle squatter = ForeignOwnedEvent(L"Global\\QuillonNotify-3-Disconnect");
  ASSERT_TRUE(squatter);
  client_.StayQuiet();
  Logon();
  ASSERT_TRUE(WaitUntil([&] { return channels_.BlockedReads() == 1; }));

  struct Logoff {
    static DWORD WINAPI Run(LPVOID) {
      QuilEventLogoff(kSession, nullptr);
      return 0;
    }
  };
  UniqueHandle logoff(CreateThread(nullptr, 0, &Logoff::Run, nullptr, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(logoff.get(), WaitBound(10000)), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(TestLogFile::CountMessage("CQuilServerVirtChannel::CheckDisconnect - released"), 1u);
  EXPECT_EQ(channels_.Opens(), 1u);
  EXPECT_EQ(channels_.Closes(), 1u);
  EXPECT_THAT(SessionPrinters(), IsEmpty());
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
  EXPECT_EQ(spooler_.DefaultPrinterOf(kUser), L"Office Laser");
}

// The session's events exist before the first exchange: a disconnect or a reconnect that the
// service signals while the exchange waits for the client is handled after it.
TEST_F(UserSessionTest, DisconnectOrReconnectDuringTheFirstExchangeIsNotLost) {
  disconnect_.reset();
  reconnect_.reset();
  client_.ReplyToPrinterWithChunks(1, {});  // the second printer's request is never answered
  const struct {
    const wchar_t* event;
    const char* handled;
    size_t printersLeft;
  } cases[] = {{L"Global\\Quillon-3-Disconnect", "Disconnect. SessionId: 3", 0},
               {L"Global\\Quillon-3-Reconnect", "Reconnect. SessionId: 3", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.handled);
    const size_t requests = client_.PrinterRequests().size();
    Logon();
    ASSERT_TRUE(WaitUntil([&] { return client_.PrinterRequests().size() == requests + 2; }));
    ASSERT_TRUE(WaitUntil([&] { return channels_.BlockedReads() == 1; }));
    SignalSessionEvent(c.event);
    SignalSessionEvent(L"Global\\QuillonNotify-3-Disconnect");  // the service's disconnect ends the exchange
    EXPECT_TRUE(WaitUntil([&] { return TestLogFile::CountMessage(c.handled) == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return SessionPrinters().size() == c.printersLeft; }));
    QuilEventLogoff(kSession, nullptr);
  }
}

// Another user who made the session's events first can neither remove the session's printers
// nor stop the session: it runs without those events, and its logoff removes the printers.
TEST_F(UserSessionTest, SessionEventsHeldByAnotherOwnerOrKindAreNotUsed) {
  disconnect_.reset();
  reconnect_.reset();
  const UniqueHandle foreignDisconnect = ForeignOwnedEvent(L"Global\\Quillon-3-Disconnect");
  const UniqueHandle mutexReconnect = SquattingMutex(L"Global\\Quillon-3-Reconnect");
  ASSERT_TRUE(foreignDisconnect && mutexReconnect);
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  ASSERT_EQ(SessionPrinters().size(), 3u);
  ASSERT_TRUE(SetEvent(foreignDisconnect.get()));
  QuilEventLogoff(kSession, nullptr);
  EXPECT_EQ(TestLogFile::CountMessage("Disconnect. SessionId: 3"), 0u);
  EXPECT_EQ(TestLogFile::CountMessage("Event Global\\Quillon-3-Disconnect exists with another owner: not used"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Event Global\\Quillon-3-Reconnect cannot be created"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Stop. SessionId: 3"), 1u);
  EXPECT_THAT(SessionPrinters(), IsEmpty());
}

TEST_F(UserSessionTest, CountReplyShorterThanEightBytesEndsTheExchange) {
  client_.ReplyToCountWith({0, 0, 0, 0, 3, 0, 0});
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_THAT(client_.PrinterRequests(), IsEmpty());
  EXPECT_THAT(SessionPrinters(), IsEmpty());
}

TEST_F(UserSessionTest, RecordWhoseNameLiesOutsideTheMessageSkipsThatPrinter) {
  auto outside = BuildPrinterRecord(u"Inkjet", false);
  outside[4] = 0x10;  // name offset past the end
  auto unterminated = BuildPrinterRecord(u"Plotter", false);
  unterminated.resize(unterminated.size() - 2);  // no NUL inside the message
  client_.ReplyToPrinterWith(0, outside);
  client_.ReplyToPrinterWith(2, unterminated);
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_THAT(client_.PrinterRequests(), ElementsAre(0u, 1u, 2u));
  EXPECT_THAT(SessionPrinters(), ElementsAre(L"Laser on PRINTSRV (alice : 3)"));
  EXPECT_EQ(spooler_.Printer(L"Laser on PRINTSRV (alice : 3)")->port, L"QPRN[3:1:1]");
}

TEST_F(UserSessionTest, ChunksCarryingMoreThanAnnouncedEndTheExchange) {
  const auto record = BuildPrinterRecord(u"Laser", true);
  client_.ReplyToPrinterWithChunks(1, {{4, 0x1, std::vector<uint8_t>(record.begin(), record.begin() + 4)},
                                       {4, 0x2, std::vector<uint8_t>(record.begin() + 4, record.end())}});
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_THAT(client_.PrinterRequests(), ElementsAre(0u, 1u)) << "no request after the failed read";
  EXPECT_THAT(SessionPrinters(), ElementsAre(L"Inkjet (alice : 3)"));
}

TEST_F(UserSessionTest, FirstChunkAnnouncingNoBytesEndsTheExchange) {
  client_.ReplyToPrinterWithChunks(0, {{0, 0x3, {}}});
  Logon();
  ASSERT_TRUE(WaitForExchanges(1));
  EXPECT_THAT(client_.PrinterRequests(), ElementsAre(0u));
  EXPECT_THAT(SessionPrinters(), IsEmpty());
}

TEST_F(UserSessionTest, WithoutAClientTheSessionHasNoPrintersUntilAReconnectFindsOne) {
  channels_.SetClient(kSession, nullptr);
  Logon();
  ASSERT_TRUE(WaitUntil([] { return TestLogFile::CountMessage("Can't open virtual channel.") == 1; }));
  ASSERT_TRUE(WaitUntil([] { return TestLogFile::CountMessage("Init Global\\Quillon-3-Reconnect event") == 1; }));
  EXPECT_EQ(channels_.Opens(), 0u);

  channels_.SetClient(kSession, &client_);
  SetEvent(reconnect_.get());
  ASSERT_TRUE(WaitUntil([&] { return SessionPrinters().size() == 3; }));
}

}  // namespace
}  // namespace quil::test
