// Port enumeration through the MONITOR2 table: levels 1 and 2, strings packed from the end of the
// buffer, buffer sizes probed one byte short, exact and one byte over, and the per-user filter.
#include <cstring>

#include "MonitorTestSupport.h"

namespace quil::test {
namespace {

constexpr DWORD kSeed = 0xdeadbeef;
const std::wstring kPort1 = L"QPRN[3:0:1]";
const std::wstring kPort2 = L"QPRN[3:1:2]";

DWORD Bytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

class PortEnumerationTest : public MonitorTest {
 protected:
  struct Result {
    BOOL ok;
    DWORD error;
    DWORD needed;
    DWORD returned;
  };

  Result Enum(DWORD level, BYTE* buffer, DWORD size, HANDLE monitor) {
    Result result{FALSE, 0, kSeed, kSeed};
    SetLastError(kSeed);
    result.ok = Monitor().pfnEnumPorts(monitor, nullptr, level, buffer, size, &result.needed, &result.returned);
    result.error = GetLastError();
    return result;
  }
  Result Enum(DWORD level, BYTE* buffer, DWORD size) { return Enum(level, buffer, size, MonitorHandle()); }

  void AddTwoPorts() {
    ASSERT_EQ(AddPort(kPort1), 0u);
    ASSERT_EQ(AddPort(kPort2), 0u);
  }

  // Alice's enumeration of the ports, on a thread of its own as a spooler thread serving her.
  struct AliceEnumeration {
    PortEnumerationTest* test;
    std::vector<std::wstring> ports;
  };
  static DWORD EnumerateAsAlice(void* context) {
    auto* run = static_cast<AliceEnumeration*>(context);
    ActAsSessionUser alice(kSession);
    run->ports = run->test->EnumeratedPorts();
    return 0;
  }

  // A logon's port command on a thread of its own.
  struct PortCommand {
    PortEnumerationTest* test;
    std::wstring port;
    DWORD result = kSeed;
  };
  static DWORD AddPortOnThread(void* context) {
    auto* command = static_cast<PortCommand*>(context);
    command->result = command->test->AddPort(command->port);
    return 0;
  }
};

// Acts with an anonymous impersonation token for its life, as a spooler thread serving a caller
// it could not identify: the monitor cannot open that thread token (ERROR_CANT_OPEN_ANONYMOUS).
class ActAnonymously {
 public:
  ActAnonymously() {
    UniqueHandle process;
    UniqueHandle anonymous;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, process.put()) &&
        DuplicateTokenEx(process.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityAnonymous,
                         TokenImpersonation, anonymous.put())) {
      SetThreadToken(nullptr, anonymous.get());
    }
  }
  ~ActAnonymously() { RevertToSelf(); }
};

TEST_F(PortEnumerationTest, EmptyTableGivesNothingAtBothLevels) {
  for (DWORD level : {1u, 2u}) {
    std::vector<BYTE> buffer(64, 0xA5);
    const Result result = Enum(level, buffer.data(), static_cast<DWORD>(buffer.size()));
    EXPECT_TRUE(result.ok) << "level " << level;
    EXPECT_EQ(result.needed, 0u) << "level " << level;
    EXPECT_EQ(result.returned, 0u) << "level " << level;
    EXPECT_EQ(buffer, std::vector<BYTE>(64, 0xA5)) << "level " << level << ": no monitor-name strings written";
  }
}

TEST_F(PortEnumerationTest, Level1PacksTheNamesFromTheEndOfTheBuffer) {
  AddTwoPorts();
  const DWORD cb = 2 * sizeof(PORT_INFO_1W) + Bytes(kPort1) + Bytes(kPort2);

  std::vector<BYTE> buffer(cb + 1);
  Result result = Enum(1, buffer.data(), cb - 1);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(result.needed, cb);
  EXPECT_EQ(result.returned, 0u);

  for (DWORD size : {cb, cb + 1}) {
    result = Enum(1, buffer.data(), size);
    ASSERT_TRUE(result.ok) << "size " << size << " error " << result.error;
    EXPECT_EQ(result.needed, cb);
    EXPECT_EQ(result.returned, 2u);
    const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    EXPECT_EQ(ports[0].pName, reinterpret_cast<LPWSTR>(buffer.data() + size - Bytes(kPort1)));
    EXPECT_EQ(ports[1].pName, reinterpret_cast<LPWSTR>(buffer.data() + size - Bytes(kPort1) - Bytes(kPort2)));
    EXPECT_EQ(std::wstring(ports[0].pName), kPort1);
    EXPECT_EQ(std::wstring(ports[1].pName), kPort2);
  }
}

TEST_F(PortEnumerationTest, Level2EntriesShareOneMonitorNameAndOneDescription) {
  AddTwoPorts();
  const std::wstring monitorName = L"Quillon Port";
  const DWORD cb = 2 * sizeof(PORT_INFO_2W) + Bytes(kPort1) + Bytes(kPort2) + 2 * Bytes(monitorName);

  std::vector<BYTE> buffer(cb + 1);
  Result result = Enum(2, buffer.data(), cb - 1);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(result.needed, cb);
  EXPECT_EQ(result.returned, 0u);

  for (DWORD size : {cb, cb + 1}) {
    std::fill(buffer.begin(), buffer.end(), 0xA5);
    result = Enum(2, buffer.data(), size);
    ASSERT_TRUE(result.ok) << "size " << size << " error " << result.error;
    EXPECT_EQ(result.returned, 2u);
    const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    BYTE* end = buffer.data() + size;
    EXPECT_EQ(ports[0].pPortName, reinterpret_cast<LPWSTR>(end - Bytes(kPort1)));
    EXPECT_EQ(ports[0].pMonitorName, reinterpret_cast<LPWSTR>(end - Bytes(kPort1) - Bytes(monitorName)));
    EXPECT_EQ(ports[0].pDescription, reinterpret_cast<LPWSTR>(end - Bytes(kPort1) - 2 * Bytes(monitorName)));
    EXPECT_EQ(ports[1].pPortName, reinterpret_cast<LPWSTR>(end - cb + 2 * sizeof(PORT_INFO_2W)));
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(ports[i].pMonitorName, ports[0].pMonitorName);
      EXPECT_EQ(ports[i].pDescription, ports[0].pDescription);
      EXPECT_EQ(ports[i].fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
      EXPECT_EQ(ports[i].Reserved, 0u);
    }
    EXPECT_NE(ports[0].pMonitorName, ports[0].pDescription);
    EXPECT_EQ(std::wstring(ports[1].pPortName), kPort2);
    EXPECT_EQ(std::wstring(ports[0].pMonitorName), monitorName);
    EXPECT_EQ(std::wstring(ports[0].pDescription), monitorName);
  }
}

TEST_F(PortEnumerationTest, UnknownLevelIsRefusedWithNothingNeeded) {
  AddTwoPorts();
  std::vector<BYTE> buffer(512);
  for (DWORD level : {0u, 3u}) {
    const Result result = Enum(level, buffer.data(), static_cast<DWORD>(buffer.size()));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_LEVEL)) << "level " << level;
    EXPECT_EQ(result.needed, 0u);
    EXPECT_EQ(result.returned, 0u);
  }
}

TEST_F(PortEnumerationTest, NullMonitorHandleIsRefusedWithOutputsUntouched) {
  AddTwoPorts();
  std::vector<BYTE> buffer(512);
  const Result result = Enum(1, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(result.needed, kSeed);
  EXPECT_EQ(result.returned, kSeed);
}

TEST_F(PortEnumerationTest, CallerNotImpersonatingSeesEveryPort) {
  AddTwoPorts();
  spooler_.AddPrinterOn(L"Laser (alice : 3)", kPort1, kAccount);
  EXPECT_EQ(EnumeratedPorts(), (std::vector<std::wstring>{kPort1, kPort2}));
}

TEST_F(PortEnumerationTest, ImpersonatedUserSeesOnlyThePortsOfTheirOwnPrinters) {
  const std::wstring bobsPort = L"QPRN[4:0:3]";
  const std::wstring shared1 = L"QPRN[3:2:4]";
  const std::wstring shared2 = L"QPRN[4:1:5]";
  for (const auto& port : {kPort1, kPort2, bobsPort, shared1, shared2}) ASSERT_EQ(AddPort(port), 0u);
  spooler_.AddPrinterOn(L"Laser (alice : 3)", kPort1, kAccount);
  spooler_.AddPrinterOn(L"Ink (bob : 4)", bobsPort, L"DOM\\bob");
  // A port field that lists several ports names none of them as a whole.
  spooler_.AddPrinterOn(L"Pooled", shared1 + L"," + shared2);

  {
    ActAsSessionUser alice(kSession);
    EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{kPort1});
  }
  {
    ActAsSessionUser bob(kSession + 1);
    EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{bobsPort});
  }
  EXPECT_EQ(EnumeratedPorts().size(), 5u);
}

TEST_F(PortEnumerationTest, UserWhoCanSeeNoPrinterSeesNoPort) {
  AddTwoPorts();
  ActAsSessionUser alice(kSession);
  std::vector<BYTE> buffer(512);
  const Result result = Enum(2, buffer.data(), static_cast<DWORD>(buffer.size()));
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.needed, 0u);
  EXPECT_EQ(result.returned, 0u);
}

TEST_F(PortEnumerationTest, CallerWhoseTokenCannotBeOpenedSeesNoPort) {
  AddTwoPorts();
  spooler_.AddPrinterOn(L"Laser (alice : 3)", kPort1);  // a printer that everyone may see
  ActAnonymously anonymous;
  HANDLE token = nullptr;
  ASSERT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_OPEN_ANONYMOUS));
  EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{});
}

// A user's enumeration asks the spooler for her printers. Listing connections waits for their
// print servers, and the spooler itself may be slow: neither holds up the port commands of other
// sessions' logons and logoffs, and a server that does not answer does not hold up the user.
TEST_F(PortEnumerationTest, PortCommandsGoOnWhileAUsersEnumerationWaitsForTheSpooler) {
  struct Case {
    const char* what;
    void (*stall)(sim::SimSpooler&, bool);
    bool userWaits;
  };
  const Case cases[] = {
      {"a print server does not answer",
       [](sim::SimSpooler& spooler, bool on) { spooler.SetPrintServersAnswering(!on); }, false},
      {"the spooler is busy", [](sim::SimSpooler& spooler, bool on) { spooler.HoldEnumerations(on); }, true},
  };
  AddTwoPorts();
  spooler_.AddPrinterOn(L"Laser (alice : 3)", kPort1, kAccount);
  spooler_.AddConnection(kAccount, L"\\\\PRINTSRV\\Laser", L"IP_10.0.0.5");
  int added = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    test.stall(spooler_, true);
    AliceEnumeration alice{this, {}};
    TestThread aliceThread(&PortEnumerationTest::EnumerateAsAlice, &alice);
    EXPECT_TRUE(WaitUntil([&] { return aliceThread.Join(0) || spooler_.WaitingEnumerations() == 1; }));
    EXPECT_EQ(aliceThread.Join(0), !test.userWaits);
    PortCommand command{this, L"QPRN[5:0:" + std::to_wstring(++added) + L"]"};
    TestThread commandThread(&PortEnumerationTest::AddPortOnThread, &command);
    EXPECT_TRUE(commandThread.Join(10000)) << "the port command waited for the user's enumeration";
    test.stall(spooler_, false);
    ASSERT_TRUE(commandThread.Join());
    ASSERT_TRUE(aliceThread.Join());
    EXPECT_EQ(command.result, 0u);
    EXPECT_EQ(alice.ports, std::vector<std::wstring>{kPort1});
  }
}

}  // namespace
}  // namespace quil::test
