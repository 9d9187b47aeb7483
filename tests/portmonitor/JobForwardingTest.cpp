// Jobs as the spooler drives them: the simulated spooler hosts each job ("printer,Job N",
// GetJobW, ReadPrinter in pieces of varying size, SetJobW), the monitor forwards it over "QSpl"
// and the scripted client answers, stays silent or fails.
#include <windows.h>

#include <tlhelp32.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "CQuilServerVirtChannel.h"
#include "FontMessages.h"
#include "MonitorTestSupport.h"
#include "SendWindow.h"
#include "SessionEvents.h"
#include "ShortAnswerWait.h"
#include "SpoolDataFixtures.h"
#include "JobDevMode.h"
#include "PageCompression.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "TestFonts.h"
#include "TestLogFile.h"
#include "WideText.h"

namespace quil::test {
namespace {

const std::wstring kPort = L"QPRN[3:0:1]";
const std::wstring kPrinter = L"Laser on PRINTSRV (alice : 3)";
const std::wstring kClientPrinter = L"\\\\PRINTSRV\\Laser";
const std::wstring kDocument = L"Quarterly report.docx";
constexpr DWORD kJob = 7;

size_t ProcessThreads() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  return count;
}

// Spool data whose header states another size than it has.
std::vector<uint8_t> HeaderSize(std::vector<uint8_t> spool, uint32_t size) {
  for (int i = 0; i < 4; ++i) spool[4 + i] = static_cast<uint8_t>(size >> 8 * i);
  return spool;
}

std::vector<uint32_t> Codes(const std::vector<ReceivedMessage>& messages) {
  std::vector<uint32_t> codes;
  for (const auto& message : messages) codes.push_back(message.code);
  return codes;
}

class JobForwardingTest : public MonitorTest {
 public:
  void SetUp() override {
    MonitorTest::SetUp();
    channels_.SetClient(kSession, &client_);
    ASSERT_EQ(AddPort(kPort), 0u);
    ASSERT_EQ(SetPortSettings(kPort, kClientPrinter, L"alice", kSession), 0u);
    for (int i = 1; i <= 3; ++i) pages_.push_back(RecordedPage(i));
  }

  void TearDown() override {
    channels_.SetClient(kSession, nullptr);
    MonitorTest::TearDown();
  }

  // Three pages with records of other types before, between and after them.
  std::vector<uint8_t> ThreePageSpool() const {
    return SpoolFile()
        .Record(kDevModeRecord, JobDevMode(220, 32))
        .Page(pages_[0])
        .Record(kMetafileOffsetsRecord, std::vector<uint8_t>(8, 1))
        .Page(pages_[1])
        .Record(kFontRecord, std::vector<uint8_t>(300, 2))
        .Record(kDevModeRecord, JobDevMode(220, 0))
        .Page(pages_[2])
        .Record(kMetafileOffsetsRecord, std::vector<uint8_t>(8, 3))
        .Bytes();
  }

  void AddJob(std::vector<uint8_t> spool, std::optional<std::vector<uint8_t>> devMode = JobDevMode(220, 64),
              DWORD jobId = kJob) {
    sim::SimJob job;
    job.devMode = std::move(devMode);
    job.documentName = kDocument;
    job.data = std::make_shared<sim::SimSpoolBytes>(std::move(spool));
    spooler_.AddJob(kPrinter, jobId, std::move(job));
  }

  struct JobRun {
    BOOL opened = FALSE;
    BOOL started = FALSE;
    BOOL written = FALSE;
    DWORD reportedWritten = 0;
    BOOL ended = FALSE;
    BOOL closed = FALSE;
  };

  // The spooler's calls for one job on the port.
  JobRun RunJob(DWORD jobId = kJob, const std::wstring& port = kPort, const std::wstring& printer = kPrinter) {
    JobRun run;
    HANDLE handle = nullptr;
    run.opened = Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(port.c_str()), &handle);
    if (!run.opened) return run;
    DOC_INFO_1W info{const_cast<LPWSTR>(kDocument.c_str()), nullptr, const_cast<LPWSTR>(L"NT EMF 1.008")};
    run.started = Monitor().pfnStartDocPort(handle, const_cast<LPWSTR>(printer.c_str()), jobId, 1,
                                            reinterpret_cast<LPBYTE>(&info));
    BYTE driverOutput[100] = {};
    run.reportedWritten = 0xdeadbeef;
    run.written = Monitor().pfnWritePort(handle, driverOutput, sizeof(driverOutput), &run.reportedWritten);
    run.ended = Monitor().pfnEndDocPort(handle);
    run.closed = Monitor().pfnClosePort(handle);
    return run;
  }

  static void ExpectCompleted(const JobRun& run) {
    EXPECT_TRUE(run.opened);
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.written);
    EXPECT_EQ(run.reportedWritten, 100u);
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(run.closed);
  }

  std::vector<uint8_t> DevModeSent() {
    const auto received = client_.Received();
    if (received.empty()) return {};
    const auto start = ParseJobStart(received[0].bytes);
    if (!start) return {};
    return {start->devMode.begin(), start->devMode.end()};
  }

  ScriptedSpoolClient client_;
  std::vector<std::vector<uint8_t>> pages_;
};

// The client here speaks the original protocol: the device settings records in the spool data
// never reach it, and every message is byte for byte the original one.
TEST_F(JobForwardingTest, ThreePagesGoOutInFileOrderEachAfterTheLastWasAnswered) {
  const std::vector<uint8_t> devMode = JobDevMode(220, 64);
  AddJob(ThreePageSpool(), devMode);
  ExpectCompleted(RunJob());

  const auto received = client_.Received();
  ASSERT_EQ(Codes(received), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_END_DOC}));
  EXPECT_EQ(received[0].bytes, BuildJobStart(std::span<const uint8_t, 220>(devMode.data(), 220), ToU16(kClientPrinter),
                                             ToU16(kDocument)));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(received[1 + i].bytes, BuildPage(pages_[i])) << "page " << i + 1;
  EXPECT_EQ(received[4].bytes, BuildJobEnd());
  for (const auto& message : received) {
    EXPECT_TRUE(message.previousAnswerRead) << "a message went out before the previous answer was read";
    EXPECT_EQ(message.sessionId, kSession);
  }
  EXPECT_EQ(spooler_.JobBytesRead(kJob), ThreePageSpool().size());
  EXPECT_EQ(spooler_.JobJournal(),
            (std::vector<std::wstring>{L"OpenPrinter " + kPrinter, L"OpenPrinter " + kPrinter + L",Job 7",
                                       L"GetJob 7 0", L"GetJob 7 " + std::to_wstring(sizeof(JOB_INFO_2W) + 284 + 44),
                                       L"GetJob 7 0", L"GetJob 7 " + std::to_wstring(sizeof(JOB_INFO_2W) + 284 + 44),
                                       L"ClosePrinter " + kPrinter + L",Job 7", L"SetJob 7 6",
                                       L"ClosePrinter " + kPrinter}));
  const auto setJobs = spooler_.SetJobCalls();
  ASSERT_EQ(setJobs.size(), 1u);
  EXPECT_EQ(setJobs[0].level, 0u);
  EXPECT_FALSE(setJobs[0].withInfo);
  EXPECT_EQ(setJobs[0].command, static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER));
  EXPECT_EQ(channels_.Opens(), 1u);
  EXPECT_EQ(channels_.Closes(), 1u);
  EXPECT_EQ(channels_.InvalidCloses(), 0u);
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
}

TEST_F(JobForwardingTest, AClientThatAnnouncedPageSettingsGetsThemBeforeThePagesTheyApplyTo) {
  client_.Announce(kCapPageSettings | 0x80000000);  // a flag this server does not know is ignored
  AddJob(ThreePageSpool());
  ExpectCompleted(RunJob());

  const auto received = client_.Received();
  ASSERT_EQ(Codes(received), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE_SETTINGS, MSG_PAGE, MSG_PAGE,
                                                    MSG_PAGE_SETTINGS, MSG_PAGE, MSG_END_DOC}));
  EXPECT_EQ(received[1].bytes, BuildPageSettings(DevModeBlockOf(JobDevMode(220, 32))));
  EXPECT_EQ(received[4].bytes, BuildPageSettings(DevModeBlockOf(JobDevMode(220, 0))));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(received[i < 2 ? 2 + i : 5].bytes, BuildPage(pages_[i])) << "page " << i + 1;
  for (const auto& message : received) EXPECT_TRUE(message.previousAnswerRead);
}

// Each pairing of announced capabilities: compressed pages inflate to the very pages, and only a
// client that announced the window gets a message before the answer to the one before it. The
// job end always waits for every earlier answer.
TEST_F(JobForwardingTest, WhatAClientAnnouncedDecidesThePagesFormAndWhetherTheyWaitForAnswers) {
  const struct {
    const char* what;
    uint32_t capabilities;
    uint32_t pageCode;
    bool windowed;
  } cases[] = {
      {"compressed pages", kCapCompressedPages, MSG_COMPRESSED_PAGE, false},
      {"window", kCapPageWindow, MSG_PAGE, true},
      {"both", kCapCompressedPages | kCapPageWindow, MSG_COMPRESSED_PAGE, true},
  };
  DWORD jobId = kJob;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedSpoolClient client;
    client.Announce(c.capabilities);
    channels_.SetClient(kSession, &client);
    AddJob(ThreePageSpool(), JobDevMode(220, 0), ++jobId);
    ExpectCompleted(RunJob(jobId));

    const auto received = client.Received();
    ASSERT_EQ(Codes(received), (std::vector<uint32_t>{MSG_START_DOC, c.pageCode, c.pageCode, c.pageCode, MSG_END_DOC}));
    for (int i = 0; i < 3; ++i) {
      const auto& page = received[1 + i];
      if (c.pageCode == MSG_PAGE) {
        EXPECT_EQ(page.bytes, BuildPage(pages_[i])) << "page " << i + 1;
      } else {
        std::vector<uint8_t> metafile;
        EXPECT_TRUE(InflateCompressedPage(page.bytes, metafile) && metafile == pages_[i]) << "page " << i + 1;
        EXPECT_LT(page.size, pages_[i].size()) << "page " << i + 1;
      }
      EXPECT_EQ(page.previousAnswerRead, !c.windowed || i == 0) << "page " << i + 1;
    }
    EXPECT_TRUE(received[4].previousAnswerRead);
  }
  channels_.SetClient(kSession, &client_);
}

// The server's fonts: loaded into the test's process from memory, where the monitor's GDI finds
// them as it finds an installed font. Wine keeps such a font until the process ends.
bool InstallServerFont(const test::FontBytes& font) {
  DWORD loaded = 0;
  return AddFontMemResourceEx(const_cast<uint8_t*>(font.data()), static_cast<DWORD>(font.size()), nullptr, &loaded) &&
         loaded == 1;
}

FontReference Regular(const std::wstring& face) { return {ToU16(face), FW_NORMAL, false, 0}; }

size_t LogLinesWith(const std::string& text) {
  const auto messages = TestLogFile::Messages();
  return std::count_if(messages.begin(), messages.end(),
                       [&](const std::string& message) { return message.find(text) != std::string::npos; });
}

// A client that announced the fonts is asked, ahead of each page and once every earlier message is
// answered, about the page's fonts the job has not named before; of those it lacks, the server
// sends the one it has with an editable embedding permission (compressed where the client
// announced compressed pages and that makes it smaller), but neither a restricted one nor a face
// it has not. Any other client gets the original messages byte for byte.
TEST_F(JobForwardingTest, FontsTheClientLacksGoAheadOfTheFirstPageUsingThemWhereItAnnouncedThem) {
  const std::wstring editable = L"Quillon Editable Face", known = L"Quillon Known Face",
                     restricted = L"Quillon Restricted Face", missing = L"Quillon Face Nobody Has";
  const test::FontBytes editableFont = test::BuildTestFont(ToU16(editable), 0x0008);
  ASSERT_TRUE(InstallServerFont(editableFont));
  ASSERT_TRUE(InstallServerFont(test::BuildTestFont(ToU16(known), 0)));
  ASSERT_TRUE(InstallServerFont(test::BuildTestFont(ToU16(restricted), 0x0002)));
  const std::vector<std::vector<uint8_t>> pages = {RecordedTextPage(1, {editable, known}),
                                                   RecordedTextPage(2, {editable, restricted, missing}),
                                                   RecordedPage(3)};
  const std::vector<std::vector<uint8_t>> queries = {BuildFontQuery(std::vector{Regular(editable), Regular(known)}),
                                                     BuildFontQuery(std::vector{Regular(restricted), Regular(missing)})};
  const std::vector<uint8_t> fontData = BuildFontData(Regular(editable), editableFont);
  const uint32_t Q = MSG_FONT_QUERY, P = MSG_PAGE, C = MSG_COMPRESSED_PAGE;
  const struct {
    const char* what;
    std::optional<uint32_t> capabilities;
    std::vector<uint32_t> codes;
  } cases[] = {
      {"original client", std::nullopt, {MSG_START_DOC, P, P, P, MSG_END_DOC}},
      {"no fonts announced", kCapPageSettings | kCapPageWindow, {MSG_START_DOC, P, P, P, MSG_END_DOC}},
      {"fonts", kCapFonts, {MSG_START_DOC, Q, MSG_FONT_DATA, P, Q, P, P, MSG_END_DOC}},
      {"fonts and the window", kCapFonts | kCapPageWindow, {MSG_START_DOC, Q, MSG_FONT_DATA, P, Q, P, P, MSG_END_DOC}},
      {"fonts, compressed", kCapFonts | kCapCompressedPages,
       {MSG_START_DOC, Q, MSG_COMPRESSED_FONT_DATA, C, Q, C, C, MSG_END_DOC}},
  };
  SpoolFile spool;
  for (const auto& page : pages) spool.Page(page);
  DWORD jobId = kJob;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedSpoolClient client;
    if (c.capabilities) client.Announce(*c.capabilities);
    client.HaveFaces({ToU16(known)});
    channels_.SetClient(kSession, &client);
    AddJob(spool.Bytes(), JobDevMode(220, 0), ++jobId);
    ExpectCompleted(RunJob(jobId));

    const auto received = client.Received();
    ASSERT_EQ(Codes(received), c.codes);
    size_t page = 0, query = 0;
    for (const auto& message : received) {
      std::vector<uint8_t> inflated;
      switch (message.code) {
        case MSG_PAGE:
          EXPECT_EQ(message.bytes, BuildPage(pages[page++]));
          break;
        case MSG_COMPRESSED_PAGE:
          EXPECT_TRUE(InflateCompressedPage(message.bytes, inflated) && inflated == pages[page++]);
          break;
        case MSG_FONT_QUERY:
          EXPECT_EQ(message.bytes, queries[query++]);
          EXPECT_TRUE(message.previousAnswerRead) << "the query went out before every answer was in";
          break;
        case MSG_FONT_DATA:
          EXPECT_EQ(message.bytes, fontData);
          break;
        case MSG_COMPRESSED_FONT_DATA:
          EXPECT_TRUE(InflateCompressedFontData(message.bytes, UINT32_MAX, inflated) && inflated == fontData);
          EXPECT_LT(message.size, fontData.size());
          break;
      }
    }
  }
  channels_.SetClient(kSession, &client_);
  EXPECT_EQ(LogLinesWith("Font \"Quillon Editable Face\" sent: " + std::to_string(editableFont.size()) + " bytes"), 3u);
  EXPECT_EQ(LogLinesWith("Font \"Quillon Restricted Face\" not sent: its embedding permission is restricted-license"),
            3u);
  EXPECT_EQ(LogLinesWith("Font \"Quillon Face Nobody Has\" not sent: the server has no face of that name"), 3u);
  EXPECT_EQ(LogLinesWith("Font \"Quillon Known Face\""), 0u);
}

// Font data that would take the job past its budget stays on the server; the page that uses the
// font prints all the same, with the client's substitute.
TEST_F(JobForwardingTest, AFontPastTheJobsFontBudgetIsNotSentAndThePagesStillGo) {
  const std::wstring first = L"Quillon Large One", second = L"Quillon Large Two";
  const auto largeFont = [](const std::wstring& face) {
    auto tables = test::TestFontTables(ToU16(face), 0);
    tables.push_back({test::Tag("zzzz"), test::FontBytes(kJobFontBudget / 2 + 1024, 0)});
    return test::BuildSfnt(0x00010000, tables);
  };
  const test::FontBytes firstFont = largeFont(first);
  ASSERT_TRUE(InstallServerFont(firstFont));
  ASSERT_TRUE(InstallServerFont(largeFont(second)));
  client_.Announce(kCapFonts | kCapCompressedPages);
  AddJob(SpoolFile().Page(RecordedTextPage(1, {first})).Page(RecordedTextPage(2, {second})).Bytes());
  ExpectCompleted(RunJob());

  EXPECT_EQ(Codes(client_.Received()),
            (std::vector<uint32_t>{MSG_START_DOC, MSG_FONT_QUERY, MSG_COMPRESSED_FONT_DATA, MSG_COMPRESSED_PAGE,
                                   MSG_FONT_QUERY, MSG_COMPRESSED_PAGE, MSG_END_DOC}));
  EXPECT_EQ(LogLinesWith("Font \"Quillon Large One\" sent: " + std::to_string(firstFont.size()) + " bytes"), 1u);
  EXPECT_EQ(LogLinesWith("Font \"Quillon Large Two\" not sent: its " + std::to_string(firstFont.size()) +
                         " bytes are past the job's font budget (" +
                         std::to_string(kJobFontBudget - firstFont.size()) + " bytes left)"),
            1u);
}

TEST_F(JobForwardingTest, ChannelIsOpenedAsTheSpoolerAndTheCallersIdentityRestored) {
  AddJob(ThreePageSpool());
  {
    ActAsSessionUser alice(kSession);
    ExpectCompleted(RunJob());
    EXPECT_EQ(sessions_.CallingAccount(), std::wstring(kAccount));
  }
  EXPECT_EQ(channels_.Events(), (std::vector<std::wstring>{L"open 3 QSpl as ", L"close 3 QSpl"}));
  const RouterCalls calls = RouterCallCounts();
  EXPECT_EQ(calls.reverts, 2);  // AddPort in the set-up, then the channel's opening
  EXPECT_EQ(calls.impersonations, 1);  // the set-up's AddPort ran as the process: nothing to restore
}

TEST_F(JobForwardingTest, DeviceModeBlockIsThePublicPartWithoutDriverPrivateBytes) {
  const std::vector<uint8_t> devMode = JobDevMode(220, 500);
  AddJob(ThreePageSpool(), devMode);
  ExpectCompleted(RunJob());
  EXPECT_EQ(DevModeSent(), std::vector<uint8_t>(devMode.begin(), devMode.begin() + 220));
}

TEST_F(JobForwardingTest, ShorterDeviceModeIsCopiedAsFarAsItGoesAndZeroFilled) {
  const std::vector<uint8_t> devMode = JobDevMode(156, 40);
  AddJob(ThreePageSpool(), devMode);
  ExpectCompleted(RunJob());
  std::vector<uint8_t> expected(devMode.begin(), devMode.begin() + 156);
  expected.resize(220, 0);
  EXPECT_EQ(DevModeSent(), expected);
}

TEST_F(JobForwardingTest, JobWithoutDeviceModeSendsZeros) {
  AddJob(ThreePageSpool(), std::nullopt);
  ExpectCompleted(RunJob());
  EXPECT_EQ(DevModeSent(), std::vector<uint8_t>(220, 0));
  EXPECT_EQ(client_.ReceivedCount(), 5u);
}

TEST_F(JobForwardingTest, SpoolDataWithoutPagesSendsStartAndEnd) {
  AddJob(SpoolFile().Record(kDevModeRecord, JobDevMode(220, 0)).Record(kFontRecord, {1, 2, 3}).Bytes());
  ExpectCompleted(RunJob());
  EXPECT_EQ(Codes(client_.Received()), (std::vector<uint32_t>{MSG_START_DOC, MSG_END_DOC}));
}

TEST_F(JobForwardingTest, ZeroSizeRecordEndsThePages) {
  AddJob(SpoolFile().Page(pages_[0]).Record(kFontRecord, {}).Page(pages_[1]).Bytes());
  ExpectCompleted(RunJob());
  const auto received = client_.Received();
  ASSERT_EQ(Codes(received), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_END_DOC}));
  EXPECT_EQ(received[1].bytes, BuildPage(pages_[0]));
}

TEST_F(JobForwardingTest, DataThatIsNotEmfSpoolDataHasNoPages) {
  const std::vector<std::vector<uint8_t>> malformed = {
      SpoolFile(0x20000).Page(pages_[0]).Bytes(),                      // other version
      SpoolFile(0x10000, 12).Page(pages_[0]).Bytes(),                  // header declares less than 16
      SpoolFile(0x10000, 16).BytesWithout(4),                          // header cut short
      HeaderSize(SpoolFile(0x10000, 16).Page(pages_[0]).Bytes(), 1 << 20),  // header longer than the data
  };
  DWORD jobId = 20;
  for (const auto& spool : malformed) {
    AddJob(spool, JobDevMode(220, 0), jobId);
    const size_t before = client_.ReceivedCount();
    ExpectCompleted(RunJob(jobId));
    const auto received = client_.Received();
    ASSERT_EQ(received.size(), before + 2) << "job " << jobId;
    EXPECT_EQ(received[before].code, MSG_START_DOC);
    EXPECT_EQ(received[before + 1].code, MSG_END_DOC);
    ++jobId;
  }
  EXPECT_EQ(spooler_.SetJobCalls().size(), malformed.size());
}

TEST_F(JobForwardingTest, DataEndingInsideARecordSendsThePagesBeforeIt) {
  AddJob(SpoolFile().Page(pages_[0]).Page(pages_[1]).BytesWithout(10));
  ExpectCompleted(RunJob());
  EXPECT_EQ(Codes(client_.Received()), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_END_DOC}));
}

TEST_F(JobForwardingTest, ReadFailingMidJobDropsTheRestButStillEndsTheJob) {
  const std::vector<uint8_t> spool = ThreePageSpool();
  sim::SimJob job;
  job.devMode = JobDevMode(220, 0);
  job.documentName = kDocument;
  job.data = std::make_shared<sim::SimSpoolBytes>(spool);
  job.failReadsAt = spool.size() / 2;  // inside the second page
  spooler_.AddJob(kPrinter, kJob, std::move(job));
  ExpectCompleted(RunJob());
  EXPECT_EQ(Codes(client_.Received()), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_END_DOC}));
  EXPECT_EQ(spooler_.SetJobCalls().size(), 1u);
}

TEST_F(JobForwardingTest, ClientFailingAtAPageEndsThePagesAndTheJobEndStillGoesOut) {
  client_.FailAt(2);
  AddJob(ThreePageSpool());
  ExpectCompleted(RunJob());
  EXPECT_EQ(Codes(client_.Received()), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_END_DOC}));
  EXPECT_EQ(channels_.Closes(), 1u);
}

TEST_F(JobForwardingTest, ClientFailingAtTheJobStartEndsTheExchange) {
  client_.FailAt(0);
  AddJob(ThreePageSpool());
  ExpectCompleted(RunJob());
  EXPECT_EQ(Codes(client_.Received()), std::vector<uint32_t>{MSG_START_DOC});
  EXPECT_EQ(spooler_.JobBytesRead(kJob), 0u);
  EXPECT_EQ(channels_.Closes(), 1u);
  EXPECT_EQ(spooler_.SetJobCalls().size(), 1u);
}

TEST_F(JobForwardingTest, SessionWithoutClientGetsNothingAndTheJobStillEnds) {
  channels_.SetClient(kSession, nullptr);
  AddJob(ThreePageSpool());
  ExpectCompleted(RunJob());
  EXPECT_EQ(channels_.Opens(), 0u);
  EXPECT_EQ(spooler_.JobBytesRead(kJob), 0u);
  EXPECT_EQ(spooler_.SetJobCalls().size(), 1u);
}

TEST_F(JobForwardingTest, PortRemovedWhileTheSpoolerHoldsItsHandle) {
  AddJob(ThreePageSpool());
  HANDLE handle = nullptr;
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &handle));
  ASSERT_EQ(RemovePort(kPort), 0u);
  EXPECT_TRUE(Monitor().pfnStartDocPort(handle, const_cast<LPWSTR>(kPrinter.c_str()), kJob, 1, nullptr));
  EXPECT_TRUE(Monitor().pfnEndDocPort(handle));
  EXPECT_TRUE(Monitor().pfnClosePort(handle));
  EXPECT_EQ(channels_.Opens(), 0u);
  EXPECT_EQ(spooler_.JobBytesRead(kJob), 0u);
  ASSERT_EQ(spooler_.SetJobCalls().size(), 1u);
  EXPECT_EQ(spooler_.SetJobCalls()[0].jobId, kJob);
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
}

TEST_F(JobForwardingTest, PrinterThatCannotBeOpenedEndsWithoutMarkingTheJob) {
  AddJob(ThreePageSpool());
  ExpectCompleted(RunJob(kJob, kPort, L"No such printer"));
  HANDLE handle = nullptr;
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &handle));
  EXPECT_TRUE(Monitor().pfnStartDocPort(handle, nullptr, kJob, 1, nullptr)) << "no printer name";
  EXPECT_TRUE(Monitor().pfnEndDocPort(handle));
  EXPECT_TRUE(Monitor().pfnClosePort(handle));
  EXPECT_TRUE(spooler_.SetJobCalls().empty());
  EXPECT_EQ(channels_.Opens(), 0u);
}

TEST_F(JobForwardingTest, JobThatCannotBeOpenedOrDescribedIsNotForwarded) {
  sim::SimJob job;
  job.data = std::make_shared<sim::SimSpoolBytes>(ThreePageSpool());
  job.getJobError = ERROR_ACCESS_DENIED;
  spooler_.AddJob(kPrinter, kJob, std::move(job));
  ExpectCompleted(RunJob(99));  // no such job: its path does not open
  ExpectCompleted(RunJob());
  EXPECT_EQ(channels_.Opens(), 0u);
  const auto journal = spooler_.JobJournal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), L"SetJob 99 6"), 1);
  EXPECT_EQ(std::count(journal.begin(), journal.end(), L"SetJob 7 6"), 1);
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
}

TEST_F(JobForwardingTest, DriverOutputAndTheOtherJobEntryPointsAreAnsweredAsFixed) {
  ASSERT_EQ(AddPort(L"QPRN[3:1:2]"), 0u);
  HANDLE handle = nullptr;
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(L"QPRN[3:1:2]"), &handle));
  BYTE data[10] = {};
  DWORD count = 0xdeadbeef;
  EXPECT_TRUE(Monitor().pfnWritePort(handle, data, 10, &count));
  EXPECT_EQ(count, 10u);
  EXPECT_FALSE(Monitor().pfnWritePort(handle, data, 10, nullptr));
  count = 0xdeadbeef;
  EXPECT_FALSE(Monitor().pfnReadPort(handle, data, 10, &count));
  EXPECT_FALSE(Monitor().pfnSetPortTimeOuts(handle, nullptr, 0));
  EXPECT_FALSE(Monitor().pfnStartDocPort(nullptr, const_cast<LPWSTR>(kPrinter.c_str()), kJob, 1, nullptr));
  EXPECT_FALSE(Monitor().pfnEndDocPort(nullptr));
  EXPECT_TRUE(Monitor().pfnClosePort(handle));
}

TEST_F(JobForwardingTest, JobIsLoggedWithPrinterJobAndDocumentName) {
  AddJob(ThreePageSpool());
  ExpectCompleted(RunJob());
  EXPECT_EQ(TestLogFile::CountMessage("QPStartDocPort printer: Laser on PRINTSRV (alice : 3) job id: 7 Level: 1"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPStartDocPort Print Job Name: Quarterly report.docx [21]"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPWritePort"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPEndDocPort"), 1u);
}

// A job run on a thread of its own, as a spooler thread would run it.
struct JobOnThread {
  JobForwardingTest* test;
  DWORD jobId;
  std::wstring port;
  bool entered = false;
  JobForwardingTest::JobRun run;
};

constexpr DWORD kNotAnswered = 0xFFFFFFFF;

class JobThreadsTest : public JobForwardingTest {
 public:
  static DWORD RunJobOnThread(void* context) {
    auto* job = static_cast<JobOnThread*>(context);
    job->entered = true;
    job->run = job->test->RunJob(job->jobId, job->port);
    return 0;
  }

  // Another session's logon adds and configures its port, then its user prints.
  struct OtherSession {
    JobThreadsTest* test;
    DWORD added = kNotAnswered, configured = kNotAnswered;
    JobOnThread job;
  };
  static DWORD RunOtherSession(void* context) {
    auto* session = static_cast<OtherSession*>(context);
    session->added = session->test->AddPort(session->job.port);
    session->configured = session->test->SetPortSettings(session->job.port, L"Ink", L"bob", 4);
    return RunJobOnThread(&session->job);
  }
};

TEST_F(JobThreadsTest, SilentClientHoldsTheJobOnlyUntilTheDisconnectEvent) {
  const std::wstring eventName = CQuilServerVirtChannel::DisconnectEventName(L"QuillonPort", kSession);
  ASSERT_EQ(eventName, L"Global\\QuillonPort-3-Disconnect");
  client_.StayQuiet();
  AddJob(ThreePageSpool());
  const size_t threadsBefore = ProcessThreads();
  JobOnThread job{this, kJob, kPort, false, {}};
  {
    TestThread spoolerThread(&JobThreadsTest::RunJobOnThread, &job);
    ASSERT_TRUE(WaitUntil([this] { return channels_.BlockedReads() == 1; }));
    EXPECT_EQ(client_.ReceivedCount(), 1u);
    EXPECT_EQ(spooler_.JobBytesRead(kJob), 0u) << "no page is read while the job start is unanswered";
    UniqueHandle disconnect(CreateEventW(nullptr, FALSE, FALSE, eventName.c_str()));
    ASSERT_TRUE(SetEvent(disconnect.get()));
    ASSERT_TRUE(spoolerThread.Join());
  }
  ExpectCompleted(job.run);
  EXPECT_EQ(Codes(client_.Received()), std::vector<uint32_t>{MSG_START_DOC});
  EXPECT_EQ(ProcessThreads(), threadsBefore) << "no thread of the job stays behind";
  EXPECT_EQ(channels_.Closes(), 1u);
  EXPECT_EQ(channels_.InvalidCloses(), 0u);
  EXPECT_EQ(channels_.OpenChannels(), 0u);
  EXPECT_EQ(spooler_.SetJobCalls().size(), 1u);

  // The port keeps working for the next job.
  ScriptedSpoolClient answering;
  channels_.SetClient(kSession, &answering);
  AddJob(ThreePageSpool(), JobDevMode(220, 0), kJob + 1);
  ExpectCompleted(RunJob(kJob + 1));
  EXPECT_EQ(Codes(answering.Received()),
            (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_END_DOC}));
  channels_.SetClient(kSession, &client_);
}

// A page whose answer never comes ends the job at the session's disconnect, or after the bound on
// the wait: the job end is not sent, and the job's own thread closes the channel once. A client
// with the window has had the rest of the pages meanwhile.
TEST_F(JobThreadsTest, LostPageAnswerEndsTheJobWithoutAJobEndAtADisconnectOrAfterTheBound) {
  const struct {
    const char* what;
    bool disconnect;
    uint32_t capabilities;
    std::vector<uint32_t> codes;
  } cases[] = {
      {"disconnect", true, 0, {MSG_START_DOC, MSG_PAGE}},
      {"bound", false, 0, {MSG_START_DOC, MSG_PAGE}},
      {"disconnect with the window", true, kCapPageWindow, {MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_PAGE}},
  };
  DWORD jobId = kJob;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedSpoolClient holding;
    if (c.capabilities) holding.Announce(c.capabilities);
    holding.HoldAt(1);  // the first page
    channels_.SetClient(kSession, &holding);
    AddJob(ThreePageSpool(), JobDevMode(220, 0), ++jobId);
    ShortAnswerWait shortWait(c.disconnect ? 0 : 300);
    JobOnThread job{this, jobId, kPort, false, {}};
    {
      TestThread spoolerThread(&JobThreadsTest::RunJobOnThread, &job);
      ASSERT_TRUE(WaitUntil([&] { return holding.ReceivedCount() == c.codes.size() && channels_.BlockedReads() == 1; }));
      if (c.disconnect) SignalSessionEvent(L"Global\\QuillonPort-3-Disconnect");
      ASSERT_TRUE(spoolerThread.Join());
    }
    ExpectCompleted(job.run);
    EXPECT_EQ(Codes(holding.Received()), c.codes);
    channels_.SetClient(kSession, &client_);
  }
  EXPECT_EQ(channels_.Closes(), 3u);
  EXPECT_EQ(channels_.OpenChannels(), 0u);
}

// A client that holds its answer to a page gets more only while the bytes not yet answered stay
// within the window; once answered, the rest follows in order.
TEST_F(JobThreadsTest, TheWindowBoundsTheBytesInFlightWhileAnAnswerIsHeld) {
  ScriptedSpoolClient holding;
  holding.Announce(kCapPageWindow);
  holding.HoldAt(1);  // the first page
  channels_.SetClient(kSession, &holding);
  std::vector<std::vector<uint8_t>> pages;
  SpoolFile spool;
  for (int i = 1; i <= 5; ++i) spool.Page(pages.emplace_back(RecordedPage(i, 300 * 1024)));
  // The pages that fit in the window one after the other; the next one waits for an answer.
  size_t fitting = 0;
  for (size_t bytes = 0; fitting < pages.size() && bytes + BuildPage(pages[fitting]).size() <= CQuilSendWindow::kWindowBytes;) {
    bytes += BuildPage(pages[fitting++]).size();
  }
  ASSERT_GE(fitting, 2u);
  ASSERT_LT(fitting, pages.size());
  AddJob(spool.Bytes());
  JobOnThread job{this, kJob, kPort, false, {}};
  {
    TestThread spoolerThread(&JobThreadsTest::RunJobOnThread, &job);
    ASSERT_TRUE(WaitUntil([&] { return holding.ReceivedCount() == 1 + fitting && channels_.BlockedReads() == 1; }))
        << holding.ReceivedCount() << " messages";
    holding.Release();
    ASSERT_TRUE(spoolerThread.Join());
  }
  ExpectCompleted(job.run);
  const auto received = holding.Received();
  ASSERT_EQ(Codes(received), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_END_DOC}));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(received[1 + i].bytes, BuildPage(pages[i])) << "page " << i + 1;
  channels_.SetClient(kSession, &client_);
}

// A client that stays connected but stops answering holds up its own session's job only: the port
// commands of other sessions' logons and their jobs go on meanwhile.
TEST_F(JobThreadsTest, SilentClientHoldsUpNeitherThePortCommandsNorOtherSessionsJobs) {
  client_.StayQuiet();
  AddJob(ThreePageSpool());
  JobOnThread stuck{this, kJob, kPort, false, {}};
  TestThread stuckThread(&JobThreadsTest::RunJobOnThread, &stuck);
  ASSERT_TRUE(WaitUntil([this] { return channels_.BlockedReads() == 1; }));

  OtherSession other{this, kNotAnswered, kNotAnswered, {this, kJob + 1, L"QPRN[4:0:2]", false, {}}};
  ScriptedSpoolClient answering;
  channels_.SetClient(4, &answering);
  AddJob(ThreePageSpool(), JobDevMode(220, 0), kJob + 1);
  TestThread otherThread(&JobThreadsTest::RunOtherSession, &other);
  ASSERT_TRUE(otherThread.Join(10000)) << "the other session waited for the silent client";
  EXPECT_EQ(other.added, 0u);
  EXPECT_EQ(other.configured, 0u);
  ExpectCompleted(other.job.run);
  EXPECT_EQ(Codes(answering.Received()),
            (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_END_DOC}));

  UniqueHandle disconnect(CreateEventW(nullptr, FALSE, FALSE, L"Global\\QuillonPort-3-Disconnect"));
  ASSERT_TRUE(SetEvent(disconnect.get()));
  ASSERT_TRUE(stuckThread.Join());
  channels_.SetClient(4, nullptr);
}

TEST_F(JobThreadsTest, SecondJobOfASessionWaitsForTheFirstJobsChannelToClose) {
  const std::wstring secondPort = L"QPRN[3:1:2]";
  ASSERT_EQ(AddPort(secondPort), 0u);
  ASSERT_EQ(SetPortSettings(secondPort, L"\\\\PRINTSRV\\Ink", L"alice", kSession), 0u);
  AddJob(ThreePageSpool(), JobDevMode(220, 0), kJob);
  AddJob(SpoolFile().Page(pages_[0]).Bytes(), JobDevMode(220, 0), kJob + 1);
  client_.HoldAt(0);
  JobOnThread first{this, kJob, kPort, false, {}};
  JobOnThread second{this, kJob + 1, secondPort, false, {}};
  {
    TestThread firstThread(&JobThreadsTest::RunJobOnThread, &first);
    ASSERT_TRUE(WaitUntil([this] { return client_.ReceivedCount() == 1; }));
    TestThread secondThread(&JobThreadsTest::RunJobOnThread, &second);
    ASSERT_TRUE(WaitUntil([&second] { return second.entered; }));
    EXPECT_EQ(channels_.Opens(), 1u);
    client_.Release();
    ASSERT_TRUE(firstThread.Join());
    ASSERT_TRUE(secondThread.Join());
  }
  ExpectCompleted(first.run);
  ExpectCompleted(second.run);
  EXPECT_EQ(channels_.Events(),
            (std::vector<std::wstring>{L"open 3 QSpl as ", L"close 3 QSpl", L"open 3 QSpl as ", L"close 3 QSpl"}));
  const auto received = client_.Received();
  ASSERT_EQ(Codes(received), (std::vector<uint32_t>{MSG_START_DOC, MSG_PAGE, MSG_PAGE, MSG_PAGE, MSG_END_DOC,
                                                    MSG_START_DOC, MSG_PAGE, MSG_END_DOC}));
  EXPECT_EQ(ParseJobStart(received[0].bytes)->printerName, ToU16(kClientPrinter));
  EXPECT_EQ(ParseJobStart(received[5].bytes)->printerName, u"\\\\PRINTSRV\\Ink");
}

// Pages are held one at a time: a long job of large pages needs no more memory than a short one.
TEST_F(JobForwardingTest, MemoryStaysWithinAFewPagesWhateverThePageCount) {
  const std::vector<uint8_t> page = RecordedPage(1, 3 * 1024 * 1024);
  ASSERT_GT(page.size(), 3u * 1024 * 1024);
  client_.KeepNoBytes();
  channels_.KeepWritten(false);
  const auto peak = [] {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
  };
  const auto runPages = [&](DWORD jobId, uint32_t pages) {
    sim::SimJob job;
    job.devMode = JobDevMode(220, 0);
    job.documentName = kDocument;
    job.data = std::make_shared<sim::SimRepeatedPages>(page, pages);
    spooler_.AddJob(kPrinter, jobId, std::move(job));
    ExpectCompleted(RunJob(jobId));
  };

  runPages(30, 2);
  const size_t afterShortJob = peak();
  constexpr uint32_t kLongJobPages = 40;
  runPages(31, kLongJobPages);
  const size_t afterLongJob = peak();

  const auto received = client_.Received();
  ASSERT_EQ(received.size(), 2u + 2 + 2 + kLongJobPages);
  const uint32_t expectedPage = ScriptedSpoolClient::Checksum(BuildPage(page));
  for (const auto& message : received) {
    if (message.code == MSG_PAGE) {
      EXPECT_EQ(message.checksum, expectedPage);
    }
  }
  const size_t growth = afterLongJob > afterShortJob ? afterLongJob - afterShortJob : 0;
  std::printf("page %zu bytes; %u pages (%.1f MB) forwarded; peak working set %.1f MB after 2 pages, %.1f MB after "
              "%u pages: growth %.2f MB (%.2f pages)\n",
              page.size(), kLongJobPages, kLongJobPages * page.size() / 1048576.0, afterShortJob / 1048576.0,
              afterLongJob / 1048576.0, kLongJobPages, growth / 1048576.0, static_cast<double>(growth) / page.size());
  EXPECT_LT(growth, 4 * page.size()) << "memory grew with the number of pages";
}

// A job goes out only to a session whose user is the port's user. A leftover port that names a
// session someone else has logged on to since, a session that is gone, or no user at all (a port
// that never got its settings names session 0) gets nothing, and the job ends as when no client
// is there.
TEST_F(JobForwardingTest, JobGoesOutOnlyToASessionOfThePortsUser) {
  struct Case {
    const char* what;
    const wchar_t* user;  // null: the port gets no settings
    DWORD session;
    bool sent;
  };
  const Case cases[] = {
      {"the port's user in her session", L"alice", kSession, true},
      {"her name in other letter case", L"ALICE", kSession, true},
      {"a session another user has logged on to since", L"alice", kSession + 1, false},
      {"a session that is gone", L"alice", 9, false},
      {"a port without settings", nullptr, 0, false},
  };
  sessions_.AddSession(0, L"Services");
  ScriptedSpoolClient otherClient;
  const DWORD otherSessions[] = {0, kSession + 1, 9};
  for (DWORD session : otherSessions) channels_.SetClient(session, &otherClient);
  const auto notSentLines = [] {
    const auto messages = TestLogFile::Messages();
    return std::count_if(messages.begin(), messages.end(), [](const std::string& message) {
      return message.find("the job is not sent") != std::string::npos;
    });
  };
  DWORD jobId = 40;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    const std::wstring port = L"QPRN[" + std::to_wstring(test.session) + L":0:" + std::to_wstring(jobId) + L"]";
    ASSERT_EQ(AddPort(port), 0u);
    if (test.user) {
      ASSERT_EQ(SetPortSettings(port, kClientPrinter, test.user, test.session), 0u);
    }
    AddJob(ThreePageSpool(), JobDevMode(220, 0), jobId);
    const size_t received = client_.ReceivedCount() + otherClient.ReceivedCount();
    const size_t opens = channels_.Opens();
    const auto notSent = notSentLines();
    ExpectCompleted(RunJob(jobId, port));
    EXPECT_EQ(client_.ReceivedCount() + otherClient.ReceivedCount(), received + (test.sent ? 5 : 0));
    EXPECT_EQ(channels_.Opens(), opens + (test.sent ? 1 : 0));
    EXPECT_EQ(spooler_.JobBytesRead(jobId) != 0, test.sent);
    EXPECT_EQ(notSentLines(), notSent + (test.sent ? 0 : 1)) << "the reason is logged";
    const auto journal = spooler_.JobJournal();
    EXPECT_EQ(std::count(journal.begin(), journal.end(), L"SetJob " + std::to_wstring(jobId) + L" 6"), 1);
    ++jobId;
  }
  EXPECT_EQ(otherClient.ReceivedCount(), 0u);
  for (DWORD session : otherSessions) channels_.SetClient(session, nullptr);
}

}  // namespace
}  // namespace quil::test
