// Printer reporting through the real add-in: the snapshot of Wine's spooler taken at load and the
// answers to the server's printer-count and printer requests.
#include <algorithm>
#include <cwctype>

#include "AddinCallHooks.h"
#include "AddinThreadGate.h"
#include "ClientTestSupport.h"
#include "PrinterListMessages.h"
#include "WideText.h"

#include <winspool.h>

namespace quil::test {
namespace {

const std::wstring kFirst = L"Quillon List Laser";
const std::wstring kSecond = L"Quillon List Inkjet";

class PrinterListTest : public AddinTest {
 protected:
  void SetUp() override {
    InstallPostScriptDriver();
    AddFilePrinter(kFirst, L"list-laser.ps");
    AddFilePrinter(kSecond, L"list-inkjet.ps");
    SetDefaultPrinterEntry(kSecond);
  }

  uint32_t AskCount() {
    const auto count = ParsePrinterCountReply(Ask("QPrn", BuildPrinterCountRequest()));
    EXPECT_TRUE(count.has_value());
    return count.value_or(0);
  }

  std::vector<Bytes> AskAllRecords() {
    std::vector<Bytes> records;
    const uint32_t count = AskCount();
    for (uint32_t index = 0; index < count; ++index) {
      records.push_back(Ask("QPrn", BuildPrinterRequest(index)));
    }
    return records;
  }
};

TEST_F(PrinterListTest, ReportsThePrintersTheSpoolerEnumeratesInItsOrder) {
  const auto expected = EnumeratedPrinters();
  LoadAndConnect();
  const Bytes countReply = Ask("QPrn", BuildPrinterCountRequest());
  EXPECT_EQ(countReply, BuildPrinterCountReply(static_cast<uint32_t>(expected.size())));
  const auto records = AskAllRecords();
  ASSERT_EQ(records.size(), expected.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const auto record = ParsePrinterRecord(records[i]);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->name, ToU16(expected[i]));
  }
  EXPECT_NE(std::find(expected.begin(), expected.end(), kFirst), expected.end());
  EXPECT_NE(std::find(expected.begin(), expected.end(), kSecond), expected.end());
}

TEST_F(PrinterListTest, RecordsHaveTheirExactSizeAndOnlyTheDefaultIsFlagged) {
  LoadAndConnect();
  int flagged = 0;
  for (const Bytes& bytes : AskAllRecords()) {
    const auto record = ParsePrinterRecord(bytes);
    ASSERT_TRUE(record);
    EXPECT_EQ(bytes.size(), 12 + 2 * (record->name.size() + 1));
    EXPECT_EQ(bytes[4] | bytes[5] | bytes[6] | bytes[7], 0) << "name offset";
    EXPECT_EQ(record->isDefault, record->name == ToU16(kSecond));
    EXPECT_EQ(bytes[8], record->isDefault ? 1 : 0);
    flagged += record->isDefault;
  }
  EXPECT_EQ(flagged, 1);
}

TEST_F(PrinterListTest, NoPrinterIsFlaggedWithoutADefault) {
  SetDefaultPrinterEntry(L"");
  LoadAndConnect();
  const auto records = AskAllRecords();
  EXPECT_GE(records.size(), 2u);
  for (const Bytes& bytes : records) EXPECT_FALSE(ParsePrinterRecord(bytes)->isDefault);
}

TEST_F(PrinterListTest, ADefaultDifferingOnlyInLetterCaseIsNotFlagged) {
  std::wstring upper = kSecond;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
  SetDefaultPrinterEntry(upper);
  wchar_t name[256];
  DWORD characters = 256;
  ASSERT_TRUE(GetDefaultPrinterW(name, &characters));
  ASSERT_EQ(name, upper);
  LoadAndConnect();
  for (const Bytes& bytes : AskAllRecords()) EXPECT_FALSE(ParsePrinterRecord(bytes)->isDefault);
}

TEST_F(PrinterListTest, AComputerWithoutPrintersReportsNone) {
  DeleteAllPrinters();
  SetDefaultPrinterEntry(L"");
  ASSERT_TRUE(EnumeratedPrinters().empty());
  LoadAndConnect();
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()), BuildPrinterCountReply(0));
}

TEST_F(PrinterListTest, APrinterAddedAfterLoadIsNotReported) {
  const auto before = EnumeratedPrinters();
  LoadAndConnect();
  AddFilePrinter(L"Quillon List Late", L"list-late.ps");
  EXPECT_EQ(AskCount(), before.size());
  for (const Bytes& bytes : AskAllRecords()) {
    EXPECT_NE(ParsePrinterRecord(bytes)->name, u"Quillon List Late");
  }
  DeletePrinterNamed(L"Quillon List Late");
}

TEST_F(PrinterListTest, TheListIsTakenWhenTheClientEntersTheAddinNotWhileItLoads) {
  const UniqueModule loadedEarly(LoadLibraryW(AddinPath().c_str()));
  ASSERT_TRUE(loadedEarly);
  AddFilePrinter(L"Quillon List Between", L"list-between.ps");
  LoadAndConnect();
  const auto records = AskAllRecords();
  EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const Bytes& bytes) {
    return ParsePrinterRecord(bytes)->name == u"Quillon List Between";
  }));
  DeletePrinterNamed(L"Quillon List Between");
}

TEST_F(PrinterListTest, TheListIsTakenWithoutAskingPrintServers) {
  const UniqueModule addin(LoadLibraryW(AddinPath().c_str()));
  PrinterEnumerationLog enumerations;
  ASSERT_TRUE(enumerations.Apply(addin.get()));
  LoadAndConnect();
  EXPECT_GT(enumerations.Calls(), 0u);
  EXPECT_EQ(enumerations.ServerQueries(), 0u);
  EXPECT_EQ(AskCount(), EnumeratedPrinters().size());
}

TEST_F(PrinterListTest, RequestsOutsideTheListGetNoReply) {
  LoadAndConnect();
  const uint32_t count = AskCount();
  const size_t threads = ThreadCount();
  ASSERT_TRUE(client_.SendToClient("QPrn", BuildPrinterRequest(count)));
  ASSERT_TRUE(client_.SendToClient("QPrn", BuildPrinterRequest(UINT32_MAX)));
  // A printer request cut short before its index, and a code this channel does not answer.
  ASSERT_TRUE(client_.SendToClient("QPrn", Bytes{1, 0, 0, 0, 0}));
  ASSERT_TRUE(client_.SendToClient("QPrn", Bytes{4, 0, 0, 0}));
  EXPECT_TRUE(WaitForThreadCount(threads));
  EXPECT_EQ(server_.Messages("QPrn").size(), 1u);
  EXPECT_EQ(ParsePrinterRecord(Ask("QPrn", BuildPrinterRequest(0)))->name.empty(), false);
}

TEST_F(PrinterListTest, RequestsSentBackToBackAreEachAnsweredOnce) {
  LoadAndConnect();
  const auto names = EnumeratedPrinters();
  ASSERT_GE(names.size(), 2u);
  constexpr int kRounds = 25;
  // A server that does not wait for replies: all requests reach the add-in before any of its
  // workers runs, and every worker must answer its own request.
  std::vector<Bytes> burst;
  for (int round = 0; round < kRounds; ++round) {
    burst.push_back(BuildPrinterRequest(0));
    burst.push_back(BuildPrinterRequest(1));
  }
  AddinThreadGate gate;
  ASSERT_TRUE(gate.Close(LoadedAddin()));
  ASSERT_TRUE(client_.SendBurstToClient("QPrn", burst));
  EXPECT_EQ(gate.HeldThreads(), burst.size());
  gate.Open();
  ASSERT_TRUE(server_.WaitForMessages("QPrn", 2 * kRounds));
  int first = 0;
  int second = 0;
  for (const Bytes& bytes : server_.Messages("QPrn")) {
    const auto record = ParsePrinterRecord(bytes);
    ASSERT_TRUE(record);
    first += record->name == ToU16(names[0]);
    second += record->name == ToU16(names[1]);
  }
  EXPECT_EQ(first, kRounds);
  EXPECT_EQ(second, kRounds);
}

}  // namespace
}  // namespace quil::test
