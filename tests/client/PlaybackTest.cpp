// Job playback through the real add-in on printers of Wine's PostScript driver: what the printer
// puts into its output file, and the acknowledgement of every message.
#include "AddinCallHooks.h"
#include "AddinThreadGate.h"
#include "ClientTestSupport.h"
#include "FontMessages.h"
#include "PageCompression.h"
#include "PrinterListMessages.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "TestFonts.h"

namespace quil::test {
namespace {

const std::wstring kPrinterA = L"Quillon Playback A";
// What the add-in announces in every job-start acknowledgement, and an original server ignores.
const Bytes kJobStartAck = BuildJobStartAck(kCapPageSettings | kCapCompressedPages | kCapPageWindow | kCapFonts);
const std::wstring kPrinterB = L"Quillon Playback B";
const std::wstring kPrinterC = L"Quillon Playback C";  // added only after the add-in was loaded

Bytes JobStartFor(const std::wstring& printer, const std::wstring& document,
                  const std::vector<uint8_t>& devMode = JobDevMode(0, 0)) {
  const std::u16string printerName(printer.begin(), printer.end());
  const std::u16string documentName(document.begin(), document.end());
  return BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize>(devMode.data(),
                                                                              devMode.size()),
                       printerName, documentName);
}

DevModeBlock Block(const std::vector<uint8_t>& devMode) {
  DevModeBlock block{};
  std::copy_n(devMode.begin(), std::min(devMode.size(), block.size()), block.begin());
  return block;
}

// The orientation of each page of Wine's PostScript, from the rotation each page's set-up makes.
std::vector<std::string> PageOrientations(const std::string& postScript) {
  std::vector<std::string> orientations;
  for (size_t at = postScript.find("\n%%Page: "); at != std::string::npos; at = postScript.find("\n%%Page: ", at + 1)) {
    const size_t setupEnd = postScript.find("%%EndPageSetup", at);
    const std::string setup = postScript.substr(at, setupEnd - at);
    orientations.push_back(setup.find("\n0 rotate") != std::string::npos ? "Portrait" : "Landscape");
  }
  return orientations;
}

class PlaybackTest : public AddinTest {
 protected:
  void SetUp() override {
    InstallPostScriptDriver();
    outputA_ = AddFilePrinter(kPrinterA, L"playback-a.ps");
    outputB_ = AddFilePrinter(kPrinterB, L"playback-b.ps");
    DeletePrinterNamed(kPrinterC);  // left over from an earlier run in the same prefix
    LoadAndConnect();
  }

  // Sends a message and expects its acknowledgement.
  void Send(const Bytes& message, const Bytes& expectedAck) {
    EXPECT_EQ(Ask("QSpl", message), expectedAck);
  }
  void SendJob(const std::wstring& printer, const std::vector<Bytes>& pages,
               const std::vector<uint8_t>& devMode = JobDevMode(0, 0)) {
    Send(JobStartFor(printer, L"Quillon report", devMode), kJobStartAck);
    for (const Bytes& page : pages) Send(BuildPage(page), BuildPageAck());
    Send(BuildJobEnd(), BuildJobEndAck());
  }

  std::wstring outputA_;
  std::wstring outputB_;
};

TEST_F(PlaybackTest, AJobOfThreePagesPrintsOneDocumentOfThreePages) {
  SendJob(kPrinterA, {MakePageMetafile(1), MakePageMetafile(2), MakePageMetafile(3)});
  const auto acks = server_.Messages("QSpl");
  ASSERT_EQ(acks.size(), 5u);
  EXPECT_EQ(acks[0], kJobStartAck);
  for (int page = 1; page <= 3; ++page) EXPECT_EQ(acks[page].size(), kPageAckSize);
  EXPECT_EQ(acks[4].size(), 4u);
  const std::string printed = ReadFileText(outputA_);
  EXPECT_EQ(CountPostScriptPages(printed), 3);
  EXPECT_NE(printed.find("%%Title: Quillon report"), std::string::npos);
  EXPECT_NE(printed.find("Portrait"), std::string::npos);
}

TEST_F(PlaybackTest, AJobForAMissingPrinterIsAcknowledgedAndPrintsNothing) {
  SendJob(L"Quillon No Such Printer", {MakePageMetafile(1), MakePageMetafile(2)});
  EXPECT_EQ(server_.Messages("QSpl").size(), 4u);
  EXPECT_FALSE(FileExists(outputA_));
  EXPECT_FALSE(FileExists(outputB_));
}

// Only a printer the add-in reported, by its exact name, is printed to: a share on another
// computer, the name in other letters' case and a printer added after the list was taken are
// acknowledged and print nothing.
TEST_F(PlaybackTest, AJobForAPrinterTheAddinDidNotReportPrintsNothing) {
  const std::wstring later = AddFilePrinter(kPrinterC, L"playback-c.ps");
  for (const std::wstring& printer : std::vector<std::wstring>{L"\\\\PRINTSRV\\Quillon Playback A", L"quillon playback a", kPrinterC}) {
    SendJob(printer, {MakePageMetafile(1)});
  }
  EXPECT_EQ(server_.Messages("QSpl").size(), 9u);
  EXPECT_FALSE(FileExists(outputA_));
  EXPECT_FALSE(FileExists(later));
}

TEST_F(PlaybackTest, AnInvalidPageIsSkipped) {
  Bytes garbage = MakePageMetafile(2);
  garbage[0] ^= 0xFF;  // no longer an EMF header record
  SendJob(kPrinterA, {MakePageMetafile(1), garbage, Bytes(3, 0), MakePageMetafile(3)});
  EXPECT_EQ(server_.Messages("QSpl").size(), 6u);
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputA_)), 2);
}

TEST_F(PlaybackTest, ASecondJobStartAbortsTheOpenJob) {
  Send(JobStartFor(kPrinterA, L"first"), kJobStartAck);
  Send(BuildPage(MakePageMetafile(1)), BuildPageAck());
  SendJob(kPrinterB, {MakePageMetafile(2)});
  EXPECT_FALSE(FileExists(outputA_));
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputB_)), 1);
}

TEST_F(PlaybackTest, PagesAndJobEndWithoutAJobAreAcknowledgedOnly) {
  Send(BuildPageSettings(Block(JobDevMode(DM_ORIENTATION, DMORIENT_LANDSCAPE))), BuildPageSettingsAck());
  Send(BuildPage(MakePageMetafile(1)), BuildPageAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  EXPECT_FALSE(FileExists(outputA_));
  EXPECT_FALSE(FileExists(outputB_));
}

TEST_F(PlaybackTest, AReconnectionAbortsTheOpenJob) {
  Send(JobStartFor(kPrinterA, L"dropped"), kJobStartAck);
  Send(BuildPage(MakePageMetafile(1)), BuildPageAck());
  client_.Disconnect();
  client_.Connect();
  Send(BuildPage(MakePageMetafile(2)), BuildPageAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  EXPECT_FALSE(FileExists(outputA_));
}

TEST_F(PlaybackTest, TerminationAbortsTheOpenJob) {
  Send(JobStartFor(kPrinterA, L"dropped"), kJobStartAck);
  Send(BuildPage(MakePageMetafile(1)), BuildPageAck());
  client_.Terminate();
  EXPECT_TRUE(WaitUntilAddinUnloaded());
  EXPECT_FALSE(FileExists(outputA_));
}

TEST_F(PlaybackTest, AfterTerminationAHeldWorkerKeepsTheAddinLoadedAndCallsTheClientNoMore) {
  StartDocStall stall;
  ASSERT_TRUE(stall.Apply(LoadedAddin()));
  ASSERT_TRUE(client_.SendToClient("QSpl", JobStartFor(kPrinterA, L"dropped")));
  ASSERT_TRUE(stall.WaitUntilHeld());
  // Termination waits a bounded time for the held worker, then the client unloads the add-in.
  client_.Terminate();
  EXPECT_NE(LoadedAddin(), nullptr);
  stall.Release();
  EXPECT_TRUE(WaitUntilAddinUnloaded());
  EXPECT_FALSE(stall.TimedOut());
  EXPECT_EQ(client_.CallsAfterTermination(), 0u);
  EXPECT_FALSE(FileExists(outputA_));
}

TEST_F(PlaybackTest, AReconnectionReturnsAtOnceWhileAWorkerIsHeldInsideStartDoc) {
  StartDocStall stall;
  ASSERT_TRUE(stall.Apply(LoadedAddin()));
  ASSERT_TRUE(client_.SendToClient("QSpl", JobStartFor(kPrinterA, L"dropped")));
  ASSERT_TRUE(stall.WaitUntilHeld());
  client_.Disconnect();
  client_.Connect();
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()).size(), PrinterCountReplyLayout::kSize);
  EXPECT_FALSE(stall.TimedOut());
  // Let through, the worker aborts its job itself; its acknowledgement still goes out.
  stall.Release();
  ASSERT_TRUE(server_.WaitForMessages("QSpl", 1));
  SendJob(kPrinterB, {MakePageMetafile(1)});
  EXPECT_FALSE(FileExists(outputA_));
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputB_)), 1);
}

// The worker ends once no message has come for a while; the next message needs a new one.
TEST_F(PlaybackTest, APageLeftWithoutAWorkerIsAcknowledgedAndItsJobDropped) {
  const size_t threadsBefore = ThreadCount();
  Send(JobStartFor(kPrinterA, L"incomplete"), kJobStartAck);
  ASSERT_TRUE(WaitForThreadCount(threadsBefore));
  {
    AddinThreadGate gate;
    ASSERT_TRUE(gate.Close(LoadedAddin(), AddinThreadGate::Mode::kRefuse));
    Send(BuildPage(MakePageMetafile(1)), BuildPageAck());
  }
  Send(BuildPage(MakePageMetafile(2)), BuildPageAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  EXPECT_FALSE(FileExists(outputA_));
  SendJob(kPrinterB, {MakePageMetafile(3)});
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputB_)), 1);
}

TEST_F(PlaybackTest, APageOfSeveralMegabytesPrints) {
  const Bytes page = MakeLargePageMetafile(4 * 1024 * 1024);
  ASSERT_GT(page.size(), 4u * 1024 * 1024);
  // Several thousand chunks; the metafile ends in the last one.
  EXPECT_GT(BuildPage(page).size() / sim::SimRdpClient::kChunkSize, 2600u);
  SendJob(kPrinterA, {page});
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputA_)), 1);
}

TEST_F(PlaybackTest, ALandscapeJobComesOutLandscapeOnAPortraitPrinter) {
  SendJob(kPrinterA, {MakePageMetafile(1)}, JobDevMode(DM_ORIENTATION, DMORIENT_LANDSCAPE));
  EXPECT_NE(ReadFileText(outputA_).find("%%Orientation: Landscape"), std::string::npos);
}

TEST_F(PlaybackTest, TheJobsOrientationIsTakenEvenWithoutItsBitInTheJobsMask) {
  // The printer's own settings mark the orientation as set, so the job's value takes effect.
  SendJob(kPrinterA, {MakePageMetafile(1)}, JobDevMode(0, DMORIENT_LANDSCAPE));
  EXPECT_NE(ReadFileText(outputA_).find("%%Orientation: Landscape"), std::string::npos);
}

// A landscape page between portrait ones, as an application that turns one page writes it: the
// page comes out on a landscape page, the next one on portrait again, nothing stretched. Sent one
// message at a time as an original server does, or all at once with compressed pages as a server
// with the window does: the messages are handled in their order and answered in it, and a
// compressed page that does not inflate to its announced size prints nothing.
TEST_F(PlaybackTest, PageSettingsApplyFromTheNextPageOnUntilTheNextSettings) {
  const Bytes landscape = BuildPageSettings(Block(JobDevMode(DM_ORIENTATION, DMORIENT_LANDSCAPE)));
  const Bytes portrait = BuildPageSettings(Block(JobDevMode(DM_ORIENTATION, DMORIENT_PORTRAIT)));
  for (const bool windowed : {false, true}) {
    SCOPED_TRACE(windowed ? "compressed, all at once" : "one at a time");
    using Exchange = std::pair<Bytes, Bytes>;  // a message and its acknowledgement
    const auto page = [&](const Bytes& metafile) -> Exchange {
      Bytes compressed;
      if (!windowed) return {BuildPage(metafile), BuildPageAck()};
      EXPECT_TRUE(BuildCompressedPage(metafile, kPageCompressionLevel, compressed));
      return {compressed, BuildCompressedPageAck()};
    };
    Exchange overlong = page(MakePageMetafile(4));
    if (windowed) overlong.first[CompressedPageLayout::kMetafileSize] += 1;
    const std::vector<Exchange> job = {
        {JobStartFor(windowed ? kPrinterB : kPrinterA, L"mixed"), kJobStartAck},
        page(MakePageMetafile(1)),
        {landscape, BuildPageSettingsAck()},
        page(MakePageMetafile(2, 27940, 21590)),
        {Bytes(landscape.begin(), landscape.end() - 1), BuildPageSettingsAck()},  // malformed: ignored
        {portrait, BuildPageSettingsAck()},
        page(MakePageMetafile(3)),
        windowed ? overlong : page(MakePageMetafile(4)),
        {BuildJobEnd(), BuildJobEndAck()},
    };
    const size_t before = server_.Messages("QSpl").size();
    for (const auto& [message, ack] : job) {
      if (windowed) {
        ASSERT_TRUE(client_.SendToClient("QSpl", message));
      } else {
        Send(message, ack);
      }
    }
    ASSERT_TRUE(server_.WaitForMessages("QSpl", before + job.size()));
    const auto acks = server_.Messages("QSpl");
    for (size_t i = 0; i < job.size(); ++i) EXPECT_EQ(acks[before + i], job[i].second) << "message " << i;
    EXPECT_EQ(PageOrientations(ReadFileText(windowed ? outputB_ : outputA_)),
              (windowed ? std::vector<std::string>{"Portrait", "Landscape", "Portrait"}
                        : std::vector<std::string>{"Portrait", "Landscape", "Portrait", "Portrait"}));
  }
}

TEST_F(PlaybackTest, MalformedJobStartsAreAcknowledgedAndOpenNoJob) {
  const Bytes valid = JobStartFor(kPrinterA, L"doc");
  Bytes shortStart(valid.begin(), valid.begin() + 100);
  Bytes nameOutside = valid;
  nameOutside[JobStartLayout::kPrinterNameOffset + 1] = 0x40;  // offset 0x4000 + ...
  Bytes noNul = valid;
  noNul.resize(noNul.size() - 2);  // the printer name, laid in last, loses its NUL
  for (const Bytes& malformed : {shortStart, nameOutside, noNul}) {
    Send(malformed, kJobStartAck);
    Send(BuildPage(MakePageMetafile(1)), BuildPageAck());
    Send(BuildJobEnd(), BuildJobEndAck());
  }
  EXPECT_FALSE(FileExists(outputA_));
  SendJob(kPrinterA, {MakePageMetafile(1)});
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputA_)), 1);
}

TEST_F(PlaybackTest, PagesWhoseDataRunsPastTheMessageAreAcknowledgedAndSkipped) {
  Bytes offsetPast = BuildPage(MakePageMetafile(1));
  offsetPast[PageLayout::kDataOffset] = 2;  // the data would end one byte past the message
  Bytes sizePast = BuildPage(MakePageMetafile(1));
  sizePast[PageLayout::kDataSize + 3] = 0x7F;
  Bytes shortPage = {4, 0, 0, 0, 1, 0, 0};
  Send(JobStartFor(kPrinterA, L"doc"), kJobStartAck);
  for (const Bytes& malformed : {offsetPast, sizePast, shortPage}) Send(malformed, BuildPageAck());
  Send(BuildPage(MakePageMetafile(2)), BuildPageAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputA_)), 1);
}

// A font the server sends for a job is loaded for this process while the job lasts: the add-in
// then counts it as present, the page set in it prints with it, and it is removed at the job's end.
TEST_F(PlaybackTest, AFontReceivedForAJobIsUsedByItsPagesAndRemovedAtTheJobsEnd) {
  FontResourceLog fonts;
  ASSERT_TRUE(fonts.Apply(LoadedAddin()));
  const FontReference lacking{u"Quillon Playback Face", FW_NORMAL, false, 0};
  // A face this computer has: loaded by the test itself, outside the add-in's calls.
  const FontReference present{u"Quillon Present Face", FW_NORMAL, false, 0};
  const Bytes presentFont = test::BuildTestFont(present.faceName);
  DWORD loaded = 0;
  ASSERT_TRUE(AddFontMemResourceEx(const_cast<uint8_t*>(presentFont.data()), static_cast<DWORD>(presentFont.size()),
                                   nullptr, &loaded));
  const Bytes query = BuildFontQuery(std::vector{lacking, present});
  Send(JobStartFor(kPrinterA, L"fonts"), kJobStartAck);
  Send(query, BuildFontQueryAnswer({true, false}));
  Send(BuildFontData(lacking, test::BuildTestFont(lacking.faceName, 0x0004)), BuildFontDataAck());
  Send(query, BuildFontQueryAnswer({false, false}));
  EXPECT_EQ(fonts.Added().size(), 1u);
  EXPECT_EQ(fonts.Removed(), std::vector<HANDLE>{});
  Send(BuildPage(MakeTextPageMetafile(L"Quillon Playback Face")), BuildPageAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  EXPECT_EQ(fonts.Removed(), fonts.Added());
  EXPECT_NE(ReadFileText(outputA_).find("QuillonPlaybackFace"), std::string::npos) << "the page's font was not used";
}

// Font data that is no font, or past what the job's budget has left, is acknowledged and never
// handed to GDI (a compressed font announcing too much is refused before it is inflated); the
// job prints all the same. A query the add-in cannot read is answered without flags.
TEST_F(PlaybackTest, FontDataThatIsNoFontOrPastTheJobsBudgetIsRefusedAndTheJobPrints) {
  FontResourceLog fonts;
  ASSERT_TRUE(fonts.Apply(LoadedAddin()));
  const auto largeFont = [](const FontReference& reference) {
    auto tables = test::TestFontTables(reference.faceName, 0);
    tables.push_back({test::Tag("zzzz"), test::FontBytes(kJobFontBudget / 2 + 1024, 0)});
    Bytes compressed;
    EXPECT_TRUE(BuildCompressedFontData(BuildFontData(reference, test::BuildSfnt(0x00010000, tables)),
                                        kPageCompressionLevel, compressed));
    return compressed;
  };
  const FontReference first{u"Quillon Large One", FW_NORMAL, false, 0};
  const FontReference second{u"Quillon Large Two", FW_NORMAL, false, 0};
  Send(JobStartFor(kPrinterA, L"budget"), kJobStartAck);
  Send(BuildFontData(first, Bytes(4000, 0x41)), BuildFontDataAck());
  Send(largeFont(first), BuildCompressedFontDataAck());
  Send(largeFont(second), BuildCompressedFontDataAck());
  Send(Bytes{static_cast<uint8_t>(MSG_FONT_QUERY), 0, 0, 0, 1, 0, 0, 0}, BuildFontQueryRefusal());
  Send(BuildFontQuery(std::vector{first, second}), BuildFontQueryAnswer({false, true}));
  Send(BuildPage(MakeTextPageMetafile(L"Quillon Large One")), BuildPageAck());
  Send(BuildJobEnd(), BuildJobEndAck());
  EXPECT_EQ(fonts.Added().size(), 1u);
  EXPECT_EQ(fonts.Removed(), fonts.Added());
  EXPECT_EQ(CountPostScriptPages(ReadFileText(outputA_)), 1);
}

}  // namespace
}  // namespace quil::test
