// Session printers and their ports against the simulated spooler and its monitor stand-in.
#include "CQuilPrintersManager.h"

#include <gmock/gmock.h>

#include <optional>

#include "CQuilImpersonation.h"
#include "NotifyTestSupport.h"
#include "PortSettingsBlock.h"
#include "TestLogFile.h"
#include "UniquePrinter.h"
#include "WideText.h"

namespace quil::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kSession = 3;

class PrintersManagerTest : public NotifyTest {
 protected:
  void SetUp() override {
    NotifyTest::SetUp();
    sessions_.AddSession(kSession, L"RDP-Tcp#0", L"alice", L"CORP");
    sessions_.AddSession(4, L"RDP-Tcp#1", L"bob");
    ASSERT_TRUE(WTSQueryUserToken(kSession, aliceToken_.put()));
    ASSERT_TRUE(WTSQueryUserToken(4, bobToken_.put()));
  }
  std::vector<std::wstring> XcvCommands() {
    std::vector<std::wstring> commands;
    for (const auto& call : spooler_.XcvCalls()) commands.push_back(call.command);
    return commands;
  }

  UniqueHandle aliceToken_;
  UniqueHandle bobToken_;
};

// The ACEs of a self-relative descriptor's DACL.
struct Entry {
  BYTE type;
  BYTE flags;
  ACCESS_MASK mask;
  std::vector<uint8_t> sid;
  bool operator==(const Entry&) const = default;
};

std::vector<Entry> DaclEntries(std::vector<uint8_t> descriptor, WORD* aclRevision) {
  BOOL present = FALSE;
  BOOL defaulted = TRUE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted) || !present || defaulted || !dacl) {
    return {};
  }
  *aclRevision = dacl->AclRevision;
  std::vector<Entry> entries;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    GetAce(dacl, i, &ace);
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const auto* sid = reinterpret_cast<const uint8_t*>(&allowed->SidStart);
    entries.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                       std::vector<uint8_t>(sid, sid + GetLengthSid(const_cast<uint8_t*>(sid)))});
  }
  return entries;
}

const std::vector<uint8_t> kLocalSystemSid{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const std::vector<uint8_t> kCreatorOwnerSid{1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};

std::wstring PortNameOfInput(const std::vector<uint8_t>& input) {
  if (input.size() < 2 || input.size() % 2) return L"?";
  std::wstring name(reinterpret_cast<const wchar_t*>(input.data()), input.size() / 2);
  return name.back() == L'\0' ? name.substr(0, name.size() - 1) : L"?";
}

TEST(PrinterNames, ClientNamesUserAndSession) {
  using M = CQuilPrintersManager;
  EXPECT_EQ(M::MakePrinterName(L"\\\\PRINTSRV\\Laser 5", L"alice", 3), L"Laser 5 on PRINTSRV (alice : 3)");
  EXPECT_EQ(M::MakePrinterName(L"Inkjet", L"alice", 3), L"Inkjet (alice : 3)");
  EXPECT_EQ(M::MakePrinterName(L"\\\\PRINTSRV", L"alice", 3), L"PRINTSRV (alice : 3)");
  EXPECT_EQ(M::MakePrinterName(L"\\\\SRV\\P", L"alice", 3), L"P on SRV (alice : 3)");
  EXPECT_EQ(M::MakePrinterName(L"\\\\", L"alice", 3), L" (alice : 3)");
  EXPECT_EQ(M::MakePrinterName(L"A\\\\B", L"alice", 3), L"A\\\\B (alice : 3)");
  EXPECT_EQ(M::MakePrinterName(L"\u00C9tiquettes \u03A9", L"J\u00F6rg", 65536), L"\u00C9tiquettes \u03A9 (J\u00F6rg : 65536)");
}

TEST(PortNames, TheProcessWideCounterStartsAtOneAndNeverRepeats) {
  EXPECT_EQ(CQuilPrintersManager::MakePortName(3, 0), L"QPRN[3:0:1]");
  EXPECT_EQ(CQuilPrintersManager::MakePortName(5, 2), L"QPRN[5:2:2]");
  EXPECT_EQ(CQuilPrintersManager::MakePortName(3, 0), L"QPRN[3:0:3]");
  const CQuilPrintersManager printer(3, L"alice", nullptr, L"P", 1);
  EXPECT_EQ(printer.PortName(), L"QPRN[3:1:4]") << "construction takes the next number";
}

TEST_F(PrintersManagerTest, CreatesPortThenPrinterThenPortSettings) {
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"\\\\PRINTSRV\\Laser", 0);
  ASSERT_TRUE(printer.CreatePrinter());

  EXPECT_THAT(spooler_.Journal(), ElementsAre(L"AddPort QPRN[3:0:1]", L"AddPrinter Laser on PRINTSRV (alice : 3)",
                                              L"PortSettings QPRN[3:0:1]"));
  const auto calls = spooler_.XcvCalls();
  ASSERT_EQ(calls.size(), 2u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.openAccess, static_cast<DWORD>(SERVER_ACCESS_ADMINISTER));
    EXPECT_EQ(call.outputSize, 260u);
    EXPECT_EQ(call.account, L"") << "ports are added as the service itself";
  }
  EXPECT_EQ(calls[0].input.size(), 2u * 12) << "port name with its NUL";
  EXPECT_EQ(PortNameOfInput(calls[0].input), L"QPRN[3:0:1]");
  EXPECT_EQ(quil::ParsePortSettingsBlock(calls[1].input),
            (PortSettings{u"QPRN[3:0:1]", u"\\\\PRINTSRV\\Laser", u"alice", kSession}));

  const auto added = spooler_.Printer(L"Laser on PRINTSRV (alice : 3)");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->port, L"QPRN[3:0:1]");
  EXPECT_EQ(added->driver, L"Quillon Driver v.0.1");
  EXPECT_EQ(added->printProcessor, L"WinPrint");
  EXPECT_TRUE(added->otherMembersEmpty);
  EXPECT_EQ(added->addedBy, L"");
  EXPECT_EQ(spooler_.OpenHandles(), 1u) << "the printer's handle stays open; transceive handles are closed";
  EXPECT_TRUE(printer.RemoveUserPrinter());
}

TEST_F(PrintersManagerTest, PortSettingsBlockBytes) {
  sessions_.AddSession(1, L"RDP-Tcp#2", L"u");
  UniqueHandle token;
  ASSERT_TRUE(WTSQueryUserToken(1, token.put()));
  // The first port of the process is QPRN[1:0:1].
  CQuilPrintersManager printer(1, L"u", token.get(), L"p", 0);
  ASSERT_TRUE(printer.CreatePrinter());
  const auto calls = spooler_.XcvCalls();
  ASSERT_EQ(calls.size(), 2u);
  ASSERT_EQ(calls[1].command, L"PortSettings");
  const std::vector<uint8_t> expected{
      8, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,  // offsets: port 8, client printer 4; session 1; user 0
      'u', 0, 0, 0, 'p', 0, 0, 0,                      // user name, client printer name
      'Q', 0, 'P', 0, 'R', 0, 'N', 0, '[', 0, '1', 0, ':', 0, '0', 0, ':', 0, '1', 0, ']', 0, 0, 0};
  EXPECT_EQ(calls[1].input, expected);
  ASSERT_TRUE(spooler_.Ports().at(L"QPRN[1:0:1]"));
  printer.RemoveUserPrinter();
}

TEST_F(PrintersManagerTest, SecurityDescriptorAdmitsOnlyTheUserAndLocalSystem) {
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  ASSERT_TRUE(printer.CreatePrinter());
  EXPECT_THAT(sessions_.LookedUpAccounts(), IsEmpty()) << "the user is the token's, not looked up by name";

  const auto added = spooler_.Printer(L"Inkjet (alice : 3)");
  ASSERT_TRUE(added);
  auto descriptor = added->securityDescriptor;
  ASSERT_FALSE(descriptor.empty());
  ASSERT_TRUE(IsValidSecurityDescriptor(descriptor.data()));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.data(), &control, &revision));
  EXPECT_EQ(revision, 1u);
  PSID owner = nullptr;
  PSID group = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = TRUE;
  PACL sacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor.data(), &group, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor.data(), &present, &sacl, &defaulted));
  EXPECT_EQ(owner, nullptr);
  EXPECT_EQ(group, nullptr);
  EXPECT_FALSE(present);

  WORD aclRevision = 0;
  const auto user = sim::SimTerminalServer::UserSid(kSession);
  EXPECT_THAT(DaclEntries(descriptor, &aclRevision),
              ElementsAre(Entry{0, 0x00, 0x00020008, user}, Entry{0, 0x09, 0x000F0030, kCreatorOwnerSid},
                          Entry{0, 0x00, 0x000F000C, kLocalSystemSid}, Entry{0, 0x09, 0x000F0030, kLocalSystemSid}));
  EXPECT_EQ(aclRevision, 2u);
  printer.RemoveUserPrinter();
}

// The printer is the token's user's, whether or not the server can look her account's name up.
TEST_F(PrintersManagerTest, TheUserIsTheTokensUserWhetherOrNotHerNameResolves) {
  sessions_.SetAccountResolvable(4, false);
  const struct {
    DWORD session;
    const wchar_t* user;
    HANDLE token;
  } cases[] = {{kSession, L"alice", aliceToken_.get()}, {4, L"bob", bobToken_.get()}};
  for (const auto& c : cases) {
    CQuilPrintersManager printer(c.session, c.user, c.token, L"Inkjet", 0);
    ASSERT_TRUE(printer.CreatePrinter()) << c.session;
    WORD aclRevision = 0;
    const auto entries = DaclEntries(spooler_.Printer(printer.PrinterName())->securityDescriptor, &aclRevision);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].sid, sim::SimTerminalServer::UserSid(c.session));
    printer.RemoveUserPrinter();
  }
}

// A printer that only its user may use cannot be made without her token: no printer then, rather
// than one that every user of the server could print to. Its port goes.
TEST_F(PrintersManagerTest, WithoutTheUsersTokenNoPrinterAndNoPort) {
  CQuilPrintersManager printer(kSession, L"alice", nullptr, L"Inkjet", 0);
  EXPECT_FALSE(printer.CreatePrinter());
  EXPECT_FALSE(spooler_.Printer(L"Inkjet (alice : 3)"));
  EXPECT_TRUE(spooler_.Ports().empty());
  // ERROR_INVALID_HANDLE (6) as an HRESULT, 0x80070006, in signed decimal.
  EXPECT_EQ(TestLogFile::CountMessage("AddPrinter can't get CSecurityDesc: [-2147024890]"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("AddPrinter: Inkjet (alice : 3) not added, its user is unknown"), 1u);
}

// A port of the same name that the monitor still holds, with the settings of an earlier user of
// the session (left by a run of the service that ended abnormally), is refused by the monitor:
// no printer is made on it, and its settings are not pointed at the new user's client.
TEST_F(PrintersManagerTest, ALeftoverPortOfTheSameNameIsNeitherUsedNorRepointed) {
  CQuilPrintersManager printer(kSession, L"bob", bobToken_.get(), L"Laser", 0);
  const PortSettings earlier{ToU16(printer.PortName()), u"Inkjet", u"alice", kSession};
  spooler_.AddMonitorPort(printer.PortName(), earlier);
  EXPECT_FALSE(printer.CreatePrinter());
  EXPECT_FALSE(spooler_.Printer(printer.PrinterName()));
  EXPECT_THAT(XcvCommands(), ElementsAre(L"AddPort"));
  EXPECT_EQ(spooler_.Ports().at(printer.PortName()), earlier);
  EXPECT_EQ(TestLogFile::CountMessage("The port monitor refused AddPort"), 1u);
}

// The other port commands count only when the monitor accepted them too: a printer whose port has
// no settings is removed again, and a refused removal is reported.
TEST_F(PrintersManagerTest, PortCommandsTheMonitorRefusesThroughItsStatusFail) {
  const struct {
    const wchar_t* command;
    const char* logged;
    bool created;
  } cases[] = {{L"PortSettings", "The port monitor refused PortSettings", false},
               {L"RemovePort", "The port monitor refused RemovePort", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    spooler_.Reset();
    spooler_.SetXcvStatus(c.command, ERROR_INVALID_PARAMETER);
    CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
    ASSERT_EQ(printer.CreatePrinter(), c.created);
    if (c.created) {
      EXPECT_FALSE(printer.RemoveUserPrinter());
    }
    EXPECT_FALSE(spooler_.Printer(L"Inkjet (alice : 3)"));
    EXPECT_THAT(XcvCommands(), ElementsAre(L"AddPort", L"PortSettings", L"RemovePort"));
    EXPECT_EQ(TestLogFile::CountMessage(c.logged), 1u);
  }
}

TEST_F(PrintersManagerTest, FailingAddPortAddsNoPrinter) {
  spooler_.FailXcvCall(L"AddPort", ERROR_ACCESS_DENIED);
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  EXPECT_FALSE(printer.CreatePrinter());
  EXPECT_TRUE(spooler_.Printers().empty());
  EXPECT_THAT(XcvCommands(), ElementsAre(L"AddPort"));
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
}

TEST_F(PrintersManagerTest, TransceiveObjectThatCannotBeOpenedFailsCreation) {
  spooler_.FailXcvOpen(ERROR_INVALID_PRINTER_NAME);
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  EXPECT_FALSE(printer.CreatePrinter());
  EXPECT_TRUE(spooler_.XcvCalls().empty());
  EXPECT_TRUE(spooler_.Printers().empty());
}

TEST_F(PrintersManagerTest, DuplicatePrinterNameRemovesTheSecondPortAgain) {
  CQuilPrintersManager first(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  CQuilPrintersManager second(kSession, L"alice", aliceToken_.get(), L"Inkjet", 1);
  ASSERT_TRUE(first.CreatePrinter());
  EXPECT_FALSE(second.CreatePrinter());
  EXPECT_EQ(spooler_.Printers().size(), 1u);
  EXPECT_THAT(XcvCommands(), ElementsAre(L"AddPort", L"PortSettings", L"AddPort", L"RemovePort"));
  EXPECT_EQ(PortNameOfInput(spooler_.XcvCalls()[3].input), L"QPRN[3:1:2]");
  EXPECT_EQ(spooler_.Ports().count(L"QPRN[3:1:2]"), 0u);
  EXPECT_EQ(spooler_.OpenHandles(), 1u);
  first.RemoveUserPrinter();
}

TEST_F(PrintersManagerTest, FailingPortSettingsRemovesPrinterAndPortAgain) {
  spooler_.FailXcvCall(L"PortSettings", ERROR_GEN_FAILURE);
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  EXPECT_FALSE(printer.CreatePrinter());
  EXPECT_FALSE(spooler_.Printer(L"Inkjet (alice : 3)"));
  EXPECT_TRUE(spooler_.Ports().empty());
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
}

TEST_F(PrintersManagerTest, RemovalPurgesAndDeletesThePrinterBeforeItsPort) {
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  ASSERT_TRUE(printer.CreatePrinter());
  EXPECT_TRUE(printer.RemoveUserPrinter());
  EXPECT_THAT(spooler_.Journal(),
              ElementsAre(L"AddPort QPRN[3:0:1]", L"AddPrinter Inkjet (alice : 3)", L"PortSettings QPRN[3:0:1]",
                          L"Purge Inkjet (alice : 3)", L"DeletePrinter Inkjet (alice : 3)", L"RemovePort QPRN[3:0:1]"));
  EXPECT_TRUE(spooler_.Printers().empty());
  EXPECT_TRUE(spooler_.Ports().empty());
  EXPECT_EQ(spooler_.OpenHandles(), 0u);
  EXPECT_EQ(spooler_.InvalidCloses(), 0u);
}

TEST_F(PrintersManagerTest, PrinterWhoseDeletionFailsStillLosesItsPortAndHandle) {
  spooler_.FailDeletePrinter(L"Inkjet (alice : 3)", ERROR_ACCESS_DENIED);
  {
    CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
    ASSERT_TRUE(printer.CreatePrinter());
    printer.RemoveUserPrinter();
    EXPECT_EQ(spooler_.OpenHandles(), 0u);
  }
  EXPECT_EQ(spooler_.InvalidCloses(), 0u) << "destruction closes nothing a second time";
  EXPECT_TRUE(spooler_.Ports().empty());
  EXPECT_EQ(spooler_.Journal().back(), L"RemovePort QPRN[3:0:1]");
}

// The user prints to her printer and reads it, as a standard user does; administering it
// (renaming it, changing its port, defaults or security, purging it) is the service's alone.
TEST_F(PrintersManagerTest, TheUserMayUseHerPrinterButNotAdministerIt) {
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  ASSERT_TRUE(printer.CreatePrinter());
  const struct {
    HANDLE actingAs;  // null: the service itself
    std::optional<ACCESS_MASK> asked;  // nullopt: no PRINTER_DEFAULTS
    bool opens;
  } cases[] = {
      {aliceToken_.get(), std::nullopt, true},
      {aliceToken_.get(), PRINTER_ACCESS_USE | READ_CONTROL, true},
      {aliceToken_.get(), PRINTER_ACCESS_ADMINISTER, false},
      {aliceToken_.get(), PRINTER_ALL_ACCESS, false},
      {aliceToken_.get(), WRITE_DAC, false},
      {bobToken_.get(), PRINTER_ACCESS_USE, false},
      {nullptr, PRINTER_ALL_ACCESS, true},
  };
  for (const auto& c : cases) {
    std::wstring name = printer.PrinterName();
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, c.asked.value_or(0)};
    UniquePrinter opened;
    std::optional<CQuilImpersonation> asUser;
    if (c.actingAs) asUser.emplace(c.actingAs);
    EXPECT_EQ(OpenPrinterW(name.data(), opened.put(), c.asked ? &defaults : nullptr) != FALSE, c.opens)
        << (c.actingAs == bobToken_.get() ? "bob " : c.actingAs ? "alice " : "service ") << c.asked.value_or(0);
  }
  printer.RemoveUserPrinter();
}

TEST_F(PrintersManagerTest, SetAsDefaultPrinterActsForTheImpersonatedUser) {
  spooler_.SetDefaultPrinterOf(L"", L"System Printer");
  CQuilPrintersManager printer(kSession, L"alice", aliceToken_.get(), L"Inkjet", 0);
  ASSERT_TRUE(printer.CreatePrinter());
  {
    CQuilImpersonation asUser(aliceToken_.get());
    ASSERT_TRUE(asUser.Active());
    EXPECT_TRUE(printer.SetAsDefaultPrinter());
  }
  EXPECT_EQ(spooler_.DefaultPrinterOf(L"CORP\\alice"), L"Inkjet (alice : 3)");
  EXPECT_EQ(spooler_.DefaultPrinterOf(L""), L"System Printer");
  printer.RemoveUserPrinter();
}

}  // namespace
}  // namespace quil::test
