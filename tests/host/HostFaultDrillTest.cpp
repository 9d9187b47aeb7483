// Fault drills against the real service and monitor under the server host: a client computer that
// goes away in the middle of a job, a logoff while the printer-list exchange hangs, many logon and
// logoff cycles, one user reaching for another's printer, another user who makes a session's
// events first, and hostile traffic on both channels. Every wait is bounded.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "HostTestSupport.h"
#include "MessageCodes.h"
#include "PrinterListMessages.h"
#include "SpoolDataFixtures.h"
#include "SquattedObjects.h"
#include "WaitUntil.h"

namespace quil::test {
namespace {

const DWORD kEventWaitMs = WaitBound(10000);  // for a reply that a session change or a job brings about
constexpr DWORD kStillWaitingMs = 1000;  // for a reply that must not come yet
constexpr uint32_t kFirst = kChunkFlagFirst;
constexpr uint32_t kLast = kChunkFlagLast;
constexpr char kPrn[] = "QPrn";
constexpr char kSpl[] = "QSpl";
const Lines kOk{"ok"};
const Lines kNoChannels{"ok open 0 blocked 0 misused 0"};
// One channel open, with a read waiting for the client.
const Lines kOneWaiting{"ok open 1 blocked 1 misused 0"};

std::string SessionPrinter(const std::string& printer, const std::string& user, DWORD session) {
  return printer + " (" + user + " : " + std::to_string(session) + ")";
}

// The printers and ports that still carry the session's id.
Lines LeftOfSession(ControlClient& control, DWORD session) {
  const std::string printerMark = " : " + std::to_string(session) + ")|";
  const std::string portMark = "port QPRN[" + std::to_string(session) + ":";
  Lines left;
  for (const std::string& line : control.Ask("printers")) {
    if (line.find(printerMark) != std::string::npos) left.push_back(line);
  }
  for (const std::string& line : control.Ask("ports")) {
    if (line.rfind(portMark, 0) == 0) left.push_back(line);
  }
  return left;
}

// The service handles a session change after the request that raised it has been answered: what
// the change brings about is awaited (bounded), and the last answer returned.
Lines Eventually(const std::function<Lines()>& ask, const Lines& expected) {
  Lines last;
  WaitUntil([&] { return (last = ask()) == expected; }, kEventWaitMs);
  return last;
}

bool HasClient(ControlClient& control, DWORD session) {
  const Lines clients = control.Ask("clients");
  return std::find(clients.begin(), clients.end(), "client " + std::to_string(session)) != clients.end();
}

// A job of `pages` recorded pages written into the test's folder.
std::wstring WriteJob(const std::wstring& folder, int pages) {
  SpoolFile file;
  for (int page = 1; page <= pages; ++page) file.Page(RecordedPage(page));
  const std::wstring path = folder + L"\\job" + std::to_wstring(pages) + L".spl";
  return WriteFileBytes(path, file.Bytes()) ? path : std::wstring();
}

Lines SentPages(int pages) {
  Lines reply;
  for (int page = 1; page <= pages; ++page) reply.push_back("sent " + std::to_string(page));
  reply.push_back("ok sent " + std::to_string(pages) + " pages");
  return reply;
}

struct ProcessCounts {
  long handles = -1;
  long threads = -1;
  std::string reply;  // with the handles by object type
};

ProcessCounts CountsOf(ControlClient& control) {
  const Lines reply = control.Ask("process-counts");
  ProcessCounts counts;
  if (reply.size() != 1) return counts;
  sscanf(reply[0].c_str(), "ok handles %ld threads %ld", &counts.handles, &counts.threads);
  counts.reply = reply[0];
  return counts;
}

using FaultDrill = HostServiceFixture;

// Drill 1: the client computer goes away while it owes the answer to a page.
TEST_F(FaultDrill, ClientGoneMidJobEndsTheJobAtTheDisconnectAndTheNextJobPrintsAfterReconnect) {
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));
  const std::string printer = SessionPrinter("Office Laser", "alice", 3);
  const std::wstring job = WriteJob(folder_, 3);
  ASSERT_FALSE(job.empty());
  const std::string print = "print " + printer + "|Drill|" + Narrow(job);

  EXPECT_EQ(control.Ask("session 3 alice"), kOk);
  {
    ScriptedClientComputer leaving(linkPort_, 3, u"Office Laser");
    ASSERT_TRUE(leaving.Connected());
    ASSERT_EQ(control.Ask("wait-client 3"), kOk);
    EXPECT_EQ(control.Ask("logon 3"), kOk);
    ASSERT_EQ(control.Ask("wait-printers 3 1"), kOk);

    leaving.HoldPageAcks();
    ControlClient printing;
    ASSERT_TRUE(printing.Connect(controlPort_, kEventWaitMs));
    ASSERT_TRUE(printing.Send(print));
    ASSERT_TRUE(WaitUntil([&] { return leaving.Pages().size() == 1; }, kEventWaitMs));
    leaving.Disconnect();
    ASSERT_TRUE(WaitUntil([&] { return !HasClient(control, 3); }, kEventWaitMs));
    EXPECT_FALSE(printing.Reply(kStillWaitingMs)) << "the job waits for the page's answer until the disconnect";
    EXPECT_TRUE(WaitUntil([&] { return control.Ask("channels") == kOneWaiting; }, kEventWaitMs))
        << "the monitor's read of the answer";

    EXPECT_EQ(control.Ask("disconnect 3"), kOk);
    const auto reply = printing.Reply(kEventWaitMs);
    ASSERT_TRUE(reply.has_value()) << "the disconnect did not end the job; "
                                   << ::testing::PrintToString(control.Ask("channels"));
    EXPECT_EQ(*reply, (Lines{"sent 1", "ok sent 1 pages"}));
    EXPECT_EQ(control.Ask("channels"), kNoChannels) << "no read is left waiting";
    EXPECT_EQ(control.Ask("wait-printers 3 0"), kOk);
  }

  ScriptedClientComputer back(linkPort_, 3, u"Office Laser");
  ASSERT_TRUE(back.Connected());
  ASSERT_EQ(control.Ask("wait-client 3"), kOk);
  EXPECT_EQ(control.Ask("connect 3"), kOk);
  ASSERT_EQ(control.Ask("wait-printers 3 1"), kOk);
  EXPECT_EQ(control.Ask(print), SentPages(3));
  EXPECT_EQ(back.Pages().size(), 3u);
  EXPECT_TRUE(back.JobEnded());

  EXPECT_EQ(control.Ask("logoff 3"), kOk);
  EXPECT_EQ(control.Ask("wait-printers 3 0"), kOk);
  EXPECT_EQ(Eventually([&] { return LeftOfSession(control, 3); }, Lines{}), Lines{});
  EXPECT_EQ(control.Ask("channels"), kNoChannels);
}

// Drill 2: the client's link stays up but it never answers the printer-count request.
TEST_F(FaultDrill, LogoffWhileThePrinterListExchangeHangsEndsAndLeavesNothingOfTheSession) {
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));

  EXPECT_EQ(control.Ask("session 5 bob"), kOk);
  HostileClientComputer silent(linkPort_, 5, [](const std::string&, const Bytes&) { return Frames{}; });
  ASSERT_TRUE(silent.Connected());
  ASSERT_EQ(control.Ask("wait-client 5"), kOk);
  EXPECT_EQ(control.Ask("logon 5"), kOk);
  ASSERT_TRUE(WaitUntil([&] { return control.Ask("channels") == kOneWaiting; }, kEventWaitMs))
      << "the exchange waits for the count";

  ASSERT_TRUE(control.Send("logoff 5"));
  const auto reply = control.Reply(kEventWaitMs);
  ASSERT_TRUE(reply.has_value()) << "the logoff waits for the client that never answers";
  EXPECT_EQ(*reply, kOk);
  EXPECT_EQ(Eventually([&] { return control.Ask("channels"); }, kNoChannels), kNoChannels);
  EXPECT_EQ(Eventually([&] { return LeftOfSession(control, 5); }, Lines{}), Lines{});
}

// Drill 3: two users log on and off many times with a job in between.
TEST_F(FaultDrill, ManyLogonLogoffCyclesOfTwoUsersLeaveNoPrinterPortHandleOrThreadBehind) {
  constexpr int kCycles = 200;
  constexpr long kHandleSlack = 10;
  constexpr long kThreadSlack = 2;
  struct User {
    DWORD session;
    std::string name;
    std::u16string clientPrinter;
    std::string sessionPrinter;
    std::string ownDefault;
  };
  const User users[] = {{3, "alice", u"Office Laser", SessionPrinter("Office Laser", "alice", 3), "Alice Old"},
                        {4, "bob", u"Desk Inkjet", SessionPrinter("Desk Inkjet", "bob", 4), "Bob Old"}};

  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));
  const std::wstring job = WriteJob(folder_, 1);
  ASSERT_FALSE(job.empty());
  std::vector<std::unique_ptr<ScriptedClientComputer>> clients;
  for (const User& user : users) {
    const std::string session = std::to_string(user.session);
    ASSERT_EQ(control.Ask("session " + session + " " + user.name), kOk);
    ASSERT_EQ(control.Ask("setdefault " + user.name + " " + user.ownDefault), kOk);
    clients.push_back(std::make_unique<ScriptedClientComputer>(linkPort_, user.session, user.clientPrinter));
    ASSERT_TRUE(clients.back()->Connected());
    ASSERT_EQ(control.Ask("wait-client " + session), kOk);
  }

  ProcessCounts start;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    for (const User& user : users) ASSERT_EQ(control.Ask("logon " + std::to_string(user.session)), kOk);
    for (const User& user : users) {
      const std::string session = std::to_string(user.session);
      ASSERT_EQ(control.Ask("wait-printers " + session + " 1"), kOk);
      ASSERT_EQ(control.Ask("print " + user.sessionPrinter + "|Cycle|" + Narrow(job)), SentPages(1));
    }
    for (const User& user : users) ASSERT_EQ(control.Ask("logoff " + std::to_string(user.session)), kOk);
    for (const User& user : users) ASSERT_EQ(control.Ask("wait-printers " + std::to_string(user.session) + " 0"), kOk);
    // The first cycle loads what stays loaded (monitor, spooler state): the counts start after it.
    if (cycle == 0) start = CountsOf(control);
  }
  const ProcessCounts end = CountsOf(control);

  for (size_t i = 0; i < std::size(users); ++i) {
    EXPECT_EQ(Eventually([&] { return LeftOfSession(control, users[i].session); }, Lines{}), Lines{}) << users[i].name;
    const Lines ownDefault{"ok " + users[i].ownDefault};
    EXPECT_EQ(Eventually([&] { return control.Ask("default " + users[i].name); }, ownDefault), ownDefault);
    EXPECT_EQ(clients[i]->Pages().size(), static_cast<size_t>(kCycles));
  }
  EXPECT_EQ(control.Ask("channels"), kNoChannels);
  ASSERT_GE(start.handles, 0);
  ASSERT_GE(end.handles, 0);
  EXPECT_LE(end.threads, start.threads + kThreadSlack) << "threads from " << start.threads;
  EXPECT_LE(end.handles, start.handles + kHandleSlack) << "from " << start.reply << " to " << end.reply;
}

// Drill 4: each user sees, opens and prints to her own session printer and port only.
TEST_F(FaultDrill, AUserCanNeitherSeeNorOpenNorPrintToAnotherUsersPrinterOrPort) {
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));
  const std::wstring job = WriteJob(folder_, 1);
  ASSERT_FALSE(job.empty());
  struct User {
    DWORD session;
    std::string name;
    std::string printer;
  };
  const User users[] = {{3, "alice", SessionPrinter("Office Laser", "alice", 3)},
                        {4, "bob", SessionPrinter("Office Laser", "bob", 4)}};
  std::vector<std::unique_ptr<ScriptedClientComputer>> clients;
  for (const User& user : users) {
    const std::string id = std::to_string(user.session);
    ASSERT_EQ(control.Ask("session " + id + " " + user.name), kOk);
    clients.push_back(std::make_unique<ScriptedClientComputer>(linkPort_, user.session, u"Office Laser"));
    ASSERT_TRUE(clients.back()->Connected());
    ASSERT_EQ(control.Ask("wait-client " + id), kOk);
    ASSERT_EQ(control.Ask("logon " + id), kOk);
    ASSERT_EQ(control.Ask("wait-printers " + id + " 1"), kOk);
  }

  for (const User& user : users) {
    SCOPED_TRACE(user.name);
    const User& other = user.session == 3 ? users[1] : users[0];
    const std::string as = "as " + std::to_string(user.session) + " ";
    EXPECT_EQ(control.Ask(as + "enum-printers"), (Lines{"printer " + user.printer, "ok"}));
    const Lines ports = control.Ask(as + "ports");
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].rfind("port QPRN[" + std::to_string(user.session) + ":0:", 0), 0u) << ports[0];
    EXPECT_EQ(control.Ask(as + "print " + other.printer + "|Not hers|" + Narrow(job)),
              Lines{"error cannot open the printer (5)"});
    EXPECT_EQ(control.Ask(as + "print " + user.printer + "|Her own|" + Narrow(job)), SentPages(1));
  }
  for (const auto& client : clients) EXPECT_EQ(client->Pages().size(), 1u) << "only its own user's job";
  for (const User& user : users) {
    EXPECT_EQ(control.Ask("logoff " + std::to_string(user.session)), kOk);
    EXPECT_EQ(Eventually([&] { return LeftOfSession(control, user.session); }, Lines{}), Lines{});
  }
}

// Drill 5: another user made the session's events first, as events of her own or as mutexes.
// Signalling hers aborts nothing: the session keeps its printer, a job prints whole, and the
// logoff removes what the session made.
TEST_F(FaultDrill, SessionEventsMadeFirstByAnotherUserAbortNothing) {
  const UniqueHandle sessionDisconnect = ForeignOwnedEvent(L"Global\\Quillon-3-Disconnect");
  const UniqueHandle portDisconnect = ForeignOwnedEvent(L"Global\\QuillonPort-3-Disconnect");
  const UniqueHandle reconnect = SquattingMutex(L"Global\\Quillon-3-Reconnect");
  const UniqueHandle notifyDisconnect = SquattingMutex(L"Global\\QuillonNotify-3-Disconnect");
  ASSERT_TRUE(sessionDisconnect && portDisconnect && reconnect && notifyDisconnect);
  ScopedService service(kServiceName, folder_ + L"\\QuillonService.exe");
  ControlClient control;
  ASSERT_TRUE(StartService(service, control));
  const std::wstring job = WriteJob(folder_, 3);
  ASSERT_FALSE(job.empty());

  EXPECT_EQ(control.Ask("session 3 alice"), kOk);
  ScriptedClientComputer client(linkPort_, 3, u"Office Laser");
  ASSERT_TRUE(client.Connected());
  ASSERT_EQ(control.Ask("wait-client 3"), kOk);
  EXPECT_EQ(control.Ask("logon 3"), kOk);
  ASSERT_EQ(control.Ask("wait-printers 3 1"), kOk);

  ASSERT_TRUE(SetEvent(sessionDisconnect.get()));
  ASSERT_TRUE(SetEvent(portDisconnect.get()));
  EXPECT_EQ(control.Ask("print " + SessionPrinter("Office Laser", "alice", 3) + "|Drill|" + Narrow(job)),
            SentPages(3));
  EXPECT_EQ(client.Pages().size(), 3u);
  EXPECT_TRUE(client.JobEnded());
  EXPECT_EQ(LeftOfSession(control, 3).size(), 2u) << "the session printer and its port";

  EXPECT_EQ(control.Ask("logoff 3"), kOk);
  EXPECT_EQ(control.Ask("wait-printers 3 0"), kOk);
  EXPECT_EQ(LeftOfSession(control, 3), Lines{});
  EXPECT_EQ(control.Ask("channels"), kNoChannels);
}

// Drill 6: hostile traffic. Each case has a session of its own whose client answers as its script
// says; the exchange or the job it breaks must end (refused), the control connection must still
// answer, and another session's logon must still get its printers, before the hostile session is
// disconnected and logged off.
using Script = HostileClientComputer::Script;

Frames Junk(const std::string& channel, int count) {
  return Frames(static_cast<size_t>(count), RawFrame{channel, 4, kFirst | kLast, {9, 9, 9, 9}});
}

// Answers the count request with `countReply` and each printer request with the record `record` makes.
Script PrinterList(Frames countReply, std::function<Bytes(uint32_t index)> record) {
  return [countReply, record](const std::string& channel, const Bytes& message) {
    if (channel != kPrn) return Frames{};
    if (IsMessage(message, MSG_GET_PRINTERS)) return countReply;
    const auto index = ParsePrinterRequest(message);
    return index ? MessageFrames(kPrn, record(*index)) : Frames{};
  };
}

// "Hostile A" to "Hostile Z", then "Hostile A26" and on: a name of its own for every index.
Bytes ValidRecord(uint32_t index) {
  std::u16string name = u"Hostile ";
  name += static_cast<char16_t>(u'A' + index % 26);
  if (index >= 26) {
    for (const char digit : std::to_string(index)) name += static_cast<char16_t>(digit);
  }
  return BuildPrinterRecord(name, index == 0);
}

struct PrinterListCase {
  const char* name;
  Script script;
  size_t requests;  // the messages the server sends before the exchange ends (0: it hangs)
  size_t printers = 0;  // the session printers made of the replies
};

class HostileDrill : public HostServiceFixture {
 protected:
  void StartWithGoodSession() {
    ASSERT_TRUE(StartService(service_, control_));
    ASSERT_EQ(control_.Ask("session 3 alice"), kOk);
    good_ = std::make_unique<ScriptedClientComputer>(linkPort_, 3, u"Office Laser");
    ASSERT_TRUE(good_->Connected());
    ASSERT_EQ(control_.Ask("wait-client 3"), kOk);
  }

  // A hostile session with its client, logged on.
  std::unique_ptr<HostileClientComputer> HostileSession(DWORD session, Script script) {
    const std::string id = std::to_string(session);
    EXPECT_EQ(control_.Ask("session " + id + " mallory"), kOk);
    auto client = std::make_unique<HostileClientComputer>(linkPort_, session, std::move(script));
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(control_.Ask("wait-client " + id), kOk);
    EXPECT_EQ(control_.Ask("logon " + id), kOk);
    return client;
  }

  void GoodSessionStillGetsItsPrinter() {
    EXPECT_EQ(control_.Ask("logon 3"), kOk);
    EXPECT_EQ(control_.Ask("wait-printers 3 1"), kOk);
    EXPECT_EQ(control_.Ask("logoff 3"), kOk);
    EXPECT_EQ(control_.Ask("wait-printers 3 0"), kOk);
  }

  void EndHostileSession(DWORD session) {
    const std::string id = std::to_string(session);
    EXPECT_EQ(control_.Ask("disconnect " + id), kOk);
    ASSERT_TRUE(control_.Send("logoff " + id));
    EXPECT_EQ(control_.Reply(kEventWaitMs), std::optional<Lines>(kOk)) << "logoff of the hostile session";
    EXPECT_EQ(Eventually([&] { return LeftOfSession(control_, session); }, Lines{}), Lines{});
    EXPECT_EQ(Eventually([&] { return control_.Ask("channels"); }, kNoChannels), kNoChannels);
  }

  ScopedService service_{kServiceName, HostTestFolder() + L"\\QuillonService.exe"};
  ControlClient control_;
  std::unique_ptr<ScriptedClientComputer> good_;
};

TEST_F(HostileDrill, MalformedPrinterListRepliesAreRefusedAndTheServiceServesOtherSessions) {
  constexpr size_t kMaxClientPrinters = 256;
  const Bytes countOfOne = BuildPrinterCountReply(1);
  Bytes outside = ValidRecord(0);
  outside[PrinterRecordLayout::kNameOffset + 3] = 0x7F;  // the name offset points far past the end
  const PrinterListCase cases[] = {
      {"count reply with the record's code",
       PrinterList(MessageFrames(kPrn, {MSG_GET_PRINTER, 0, 0, 0, 1, 0, 0, 0}), ValidRecord), 1},
      {"count reply of 7 bytes", PrinterList(MessageFrames(kPrn, {0, 0, 0, 0, 1, 0, 0}), ValidRecord), 1},
      {"record whose name lies outside", PrinterList(MessageFrames(kPrn, countOfOne), [&](uint32_t) { return outside; }),
       2},
      // Only the first printers of a list longer than any client has are made.
      {"count of 2^32-1 with a record for every index",
       PrinterList(MessageFrames(kPrn, BuildPrinterCountReply(0xFFFFFFFF)), ValidRecord), 1 + kMaxClientPrinters,
       kMaxClientPrinters},
      {"chunks carrying more than their total",
       PrinterList({{kPrn, 8, kFirst, countOfOne}, {kPrn, 8, kLast, countOfOne}}, ValidRecord), 1},
      {"last chunk short of its total", PrinterList({{kPrn, 16, kFirst | kLast, countOfOne}}, ValidRecord), 1},
      {"first chunk announcing 0 bytes", PrinterList({{kPrn, 0, kFirst | kLast, {}}}, ValidRecord), 1},
      {"first chunk announcing 4 GiB", PrinterList({{kPrn, 0xFFFFFFFF, kFirst, Bytes(1600, 7)}}, ValidRecord), 1},
      {"flood of junk chunks instead of the count", PrinterList(Junk(kPrn, 3000), ValidRecord), 1},
      {"never answers", PrinterList({}, ValidRecord), 0},
  };
  ASSERT_NO_FATAL_FAILURE(StartWithGoodSession());
  DWORD session = 10;
  for (const PrinterListCase& drill : cases) {
    SCOPED_TRACE(drill.name);
    ++session;
    const auto hostile = HostileSession(session, drill.script);
    if (drill.requests == 0) {
      EXPECT_TRUE(WaitUntil([&] { return control_.Ask("channels") == kOneWaiting; }, kEventWaitMs));
    } else {
      EXPECT_TRUE(WaitUntil([&] { return !hostile->Received(kPrn).empty(); }, kEventWaitMs)) << "no count request";
      EXPECT_TRUE(WaitUntil([&] { return control_.Ask("channels") == kNoChannels; }, kEventWaitMs))
          << "the exchange did not end";
      EXPECT_EQ(hostile->Received(kPrn).size(), drill.requests);
      // Two lines (printer and port) for each session printer.
      EXPECT_EQ(LeftOfSession(control_, session).size(), 2 * drill.printers);
      // Unasked chunks on both channels, which the session has no channel open for any more.
      Frames unasked = Junk(kSpl, 500);
      const Frames prn = Junk(kPrn, 500);
      unasked.insert(unasked.end(), prn.begin(), prn.end());
      EXPECT_TRUE(hostile->Send(unasked));
    }
    GoodSessionStillGetsItsPrinter();
    EndHostileSession(session);
  }
}

// Answers the printer list with one printer, and each spool message as `spool` says.
Script SpoolScript(std::function<Frames(const Bytes& message)> spool) {
  const Script list = PrinterList(MessageFrames(kPrn, BuildPrinterCountReply(1)), ValidRecord);
  return [list, spool](const std::string& channel, const Bytes& message) {
    return channel == kPrn ? list(channel, message) : spool(message);
  };
}

// A well-formed answer to every spool message but the one of `code`, which gets `frames`.
std::function<Frames(const Bytes&)> BreakAnswerTo(uint32_t code, Frames frames) {
  return [code, frames](const Bytes& message) {
    if (IsMessage(message, code)) return frames;
    if (IsMessage(message, MSG_START_DOC)) return MessageFrames(kSpl, BuildJobStartAck());
    if (IsMessage(message, MSG_PAGE)) return MessageFrames(kSpl, BuildPageAck());
    return MessageFrames(kSpl, BuildJobEndAck());
  };
}

TEST_F(HostileDrill, MalformedSpoolAnswersEndTheJobAndTheServiceServesOtherSessions) {
  const Bytes ack = BuildJobStartAck();
  struct SpoolCase {
    const char* name;
    uint32_t brokenAnswer;
    Frames frames;
    int pagesSent;
  };
  const SpoolCase cases[] = {
      {"job start answered by a chunk of 0 bytes", MSG_START_DOC, {{kSpl, 0, kFirst | kLast, {}}}, 0},
      {"job start answered by chunks carrying more than their total", MSG_START_DOC,
       {{kSpl, 4, kFirst, ack}, {kSpl, 4, kLast, ack}}, 0},
      {"job start answered short of its total", MSG_START_DOC, {{kSpl, 64, kFirst | kLast, ack}}, 0},
      {"job start answered by a chunk announcing 4 GiB", MSG_START_DOC,
       {{kSpl, 0xFFFFFFFF, kFirst, Bytes(1600, 7)}}, 0},
      {"page answered short of its total", MSG_PAGE, {{kSpl, 64, kFirst | kLast, ack}}, 1},
      {"job start answered by a flood of junk chunks", MSG_START_DOC, Junk(kSpl, 3000), 2},
  };
  ASSERT_NO_FATAL_FAILURE(StartWithGoodSession());
  const std::wstring job = WriteJob(folder_, 2);
  ASSERT_FALSE(job.empty());
  DWORD session = 30;
  for (const SpoolCase& drill : cases) {
    SCOPED_TRACE(drill.name);
    ++session;
    const auto hostile = HostileSession(session, SpoolScript(BreakAnswerTo(drill.brokenAnswer, drill.frames)));
    ASSERT_EQ(control_.Ask("wait-printers " + std::to_string(session) + " 1"), kOk);
    const std::string printer = SessionPrinter("Hostile A", "mallory", session);
    ASSERT_TRUE(control_.Send("print " + printer + "|Hostile|" + Narrow(job)));
    const auto reply = control_.Reply(kEventWaitMs);
    ASSERT_TRUE(reply.has_value()) << "the job did not end";
    EXPECT_EQ(*reply, SentPages(drill.pagesSent));
    EXPECT_TRUE(WaitUntil([&] { return control_.Ask("channels") == kNoChannels; }, kEventWaitMs))
        << "the job's channel is closed and nothing reads it";
    GoodSessionStillGetsItsPrinter();
    EndHostileSession(session);
  }

  // A well-behaved job afterwards goes through whole.
  ++session;
  const auto fair = HostileSession(session, SpoolScript(BreakAnswerTo(MSG_END_DOC, MessageFrames(kSpl, BuildJobEndAck()))));
  ASSERT_EQ(control_.Ask("wait-printers " + std::to_string(session) + " 1"), kOk);
  EXPECT_EQ(control_.Ask("print " + SessionPrinter("Hostile A", "mallory", session) + "|Fair|" + Narrow(job)),
            SentPages(2));
  EXPECT_EQ(fair->Received(kSpl).size(), 4u) << "job start, two pages, job end";
  EndHostileSession(session);
}

}  // namespace
}  // namespace quil::test
