// The transceive commands through QPXcvDataPort: results with and without the administer right,
// exact command names, and input that is refused without being read past its stated size.
#include <cstring>

#include "CriticalSection.h"
#include "GuardedBuffer.h"
#include "MonitorState.h"
#include "MonitorTestSupport.h"
#include "TestLogFile.h"

namespace quil::test {
namespace {

constexpr DWORD kSeed = 0xdeadbeef;
const std::wstring kPort = L"QPRN[3:0:1]";

class XcvCommandsTest : public MonitorTest {
 protected:
  // Runs a command on input that lies directly in front of an inaccessible page.
  DWORD GuardedXcv(HANDLE xcv, const wchar_t* command, const std::vector<uint8_t>& input) {
    GuardedBuffer guarded(input);
    return Monitor().pfnXcvDataPort(xcv, command, guarded.data(), guarded.size(), nullptr, 0, nullptr);
  }

  std::optional<PortRecord> Record(const std::wstring& name) {
    ScopedLock lock(MonitorLock());
    const PortRecord* record = PortTable::Instance().Find(name);
    if (!record) return std::nullopt;
    return *record;
  }
};

TEST_F(XcvCommandsTest, AddPortAddsANameOnceOnly) {
  EXPECT_EQ(AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(AddPort(kPort), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{kPort});
  // Each add asks the spooler's list once (the list is empty, so no second call is needed).
  EXPECT_EQ(RouterCallCounts().enumPorts, 2);
}

TEST_F(XcvCommandsTest, AddPortOfANameTheSpoolerListsInAnotherCaseIsRefused) {
  SetSpoolerPorts({L"LPT1:", L"qprn[3:0:1]"});
  EXPECT_EQ(AddPort(kPort), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(EnumeratedPorts().empty());
  SetSpoolerPorts({L"LPT1:"});
  EXPECT_EQ(AddPort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(XcvCommandsTest, AddPortCountsAFailedSpoolerEnumerationAsAPortPresent) {
  FailSpoolerEnumPorts(ERROR_ACCESS_DENIED, 0);
  EXPECT_EQ(AddPort(kPort), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  FailSpoolerEnumPorts(0, ERROR_NOT_ENOUGH_MEMORY);
  SetSpoolerPorts({L"LPT1:"});
  EXPECT_EQ(AddPort(kPort), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(EnumeratedPorts().empty());
}

TEST_F(XcvCommandsTest, AddPortAsksTheSpoolerAsItselfAndRestoresTheCaller) {
  HANDLE xcv = OpenXcv();
  {
    ActAsSessionUser alice(kSession);
    EXPECT_EQ(Xcv(xcv, L"AddPort", PortNameInput(kPort)), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(sessions_.CallingAccount(), std::wstring(kAccount));
  }
  const RouterCalls calls = RouterCallCounts();
  EXPECT_EQ(calls.reverts, 1);
  EXPECT_EQ(calls.impersonations, 1);
}

TEST_F(XcvCommandsTest, RemovePortRemovesAKnownName) {
  ASSERT_EQ(AddPort(kPort), 0u);
  EXPECT_EQ(RemovePort(kPort), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(RemovePort(kPort), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(EnumeratedPorts().empty());
}

TEST_F(XcvCommandsTest, PortSettingsStoresAndReplacesAllThreeValues) {
  EXPECT_EQ(SetPortSettings(kPort, L"Laser", L"alice", 3), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_EQ(AddPort(kPort), 0u);
  EXPECT_EQ(SetPortSettings(kPort, L"Laser", L"alice", 3), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(SetPortSettings(kPort, L"Ink Jet", L"bob", 7), static_cast<DWORD>(ERROR_SUCCESS));
  const auto record = Record(kPort);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->clientPrinterName, L"Ink Jet");
  EXPECT_EQ(record->userName, L"bob");
  EXPECT_EQ(record->sessionId, 7u);
}

TEST_F(XcvCommandsTest, PortSettingsFindsTheStringsThroughTheirOffsetsInAnyOrder) {
  ASSERT_EQ(AddPort(kPort), 0u);
  // Port name first, user name last: the reverse of how the session side packs them.
  std::vector<uint8_t> block(16);
  const auto put32 = [&block](size_t at, uint32_t value) { std::memcpy(block.data() + at, &value, 4); };
  const auto append = [&block](const std::wstring& text) {
    const auto offset = static_cast<uint32_t>(block.size() - 16);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
    block.insert(block.end(), bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return offset;
  };
  put32(0, append(kPort));
  put32(4, append(L"Laser"));
  put32(12, append(L"alice"));
  put32(8, 9);
  EXPECT_EQ(Xcv(OpenXcv(), L"PortSettings", block), static_cast<DWORD>(ERROR_SUCCESS));
  const auto record = Record(kPort);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->clientPrinterName, L"Laser");
  EXPECT_EQ(record->userName, L"alice");
  EXPECT_EQ(record->sessionId, 9u);
}

TEST_F(XcvCommandsTest, CommandsThatChangeStateNeedTheAdministerRight) {
  ASSERT_EQ(AddPort(kPort), 0u);
  HANDLE user = OpenXcv(SERVER_ACCESS_ENUMERATE);
  EXPECT_EQ(Xcv(user, L"AddPort", PortNameInput(L"QPRN[3:1:2]")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Xcv(user, L"RemovePort", PortNameInput(kPort)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Xcv(user, L"PortSettings", SettingsInput(kPort, L"Laser", L"alice", 3)),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{kPort});
  EXPECT_EQ(Record(kPort)->sessionId, 0u);

  wchar_t path[MAX_PATH] = {};
  DWORD needed = kSeed;
  EXPECT_EQ(Xcv(user, L"MonitorUI", {}, reinterpret_cast<BYTE*>(path), sizeof(path), &needed),
            static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(XcvCommandsTest, MonitorUINamesTheMonitorsOwnModule) {
  wchar_t expected[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, expected, MAX_PATH);
  const DWORD cb = 2 * length + 2;
  HANDLE xcv = OpenXcv();

  DWORD needed = kSeed;
  EXPECT_EQ(Xcv(xcv, L"MonitorUI", {}, nullptr, 0, &needed), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, kSeed) << "no output buffer: bytes needed untouched";

  std::vector<BYTE> output(cb + 1, 0xA5);
  needed = kSeed;
  EXPECT_EQ(Xcv(xcv, L"MonitorUI", {}, output.data(), cb - 1, &needed), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, cb);
  EXPECT_EQ(output[0], 0xA5) << "nothing copied into too small a buffer";

  for (DWORD size : {cb, cb + 1}) {
    needed = kSeed;
    EXPECT_EQ(Xcv(xcv, L"MonitorUI", {}, output.data(), size, &needed), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(needed, cb);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(output.data())), std::wstring(expected));
  }
}

TEST_F(XcvCommandsTest, CommandNamesAreExactAndCaseSensitive) {
  HANDLE xcv = OpenXcv();
  for (const wchar_t* command : {L"addport", L"ADDPORT", L"AddPort ", L"Add", L"", L"DeletePort"}) {
    EXPECT_EQ(Xcv(xcv, command, PortNameInput(kPort)), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << command;
  }
  EXPECT_TRUE(EnumeratedPorts().empty());
}

TEST_F(XcvCommandsTest, BadHandlesAreRefusedBeforeAnythingElse) {
  ASSERT_EQ(AddPort(kPort), 0u);
  EXPECT_EQ(Xcv(nullptr, L"RemovePort", PortNameInput(kPort)), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE port = nullptr;
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &port));
  EXPECT_EQ(Xcv(port, L"RemovePort", PortNameInput(kPort)), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(EnumeratedPorts(), std::vector<std::wstring>{kPort});

  HANDLE xcv = nullptr;
  ASSERT_TRUE(Monitor().pfnXcvOpenPort(MonitorHandle(), L",XcvMonitor Quillon Port", SERVER_ACCESS_ADMINISTER, &xcv));
  EXPECT_FALSE(Monitor().pfnClosePort(xcv)) << "an Xcv handle is not a port handle";
  EXPECT_FALSE(Monitor().pfnXcvClosePort(port)) << "a port handle is not an Xcv handle";
  EXPECT_FALSE(Monitor().pfnClosePort(nullptr));
  EXPECT_FALSE(Monitor().pfnXcvClosePort(nullptr));
  EXPECT_TRUE(Monitor().pfnXcvClosePort(xcv));
  EXPECT_TRUE(Monitor().pfnClosePort(port));
}

TEST_F(XcvCommandsTest, PortNameWithoutItsNulInsideTheInputIsRefused) {
  HANDLE xcv = OpenXcv();
  const std::vector<uint8_t> full = PortNameInput(kPort);
  const std::vector<uint8_t> noNul(full.begin(), full.end() - 2);
  const std::vector<uint8_t> halfNul(full.begin(), full.end() - 1);
  for (const wchar_t* command : {L"AddPort", L"RemovePort"}) {
    EXPECT_EQ(GuardedXcv(xcv, command, noNul), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << command;
    EXPECT_EQ(GuardedXcv(xcv, command, halfNul), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << command;
    EXPECT_EQ(GuardedXcv(xcv, command, {}), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << command;
    EXPECT_EQ(GuardedXcv(xcv, command, {0, 0}), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << command;
    EXPECT_EQ(Monitor().pfnXcvDataPort(xcv, command, nullptr, 24, nullptr, 0, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER))
        << command << ": no input buffer";
  }
  EXPECT_TRUE(EnumeratedPorts().empty());
  EXPECT_EQ(GuardedXcv(xcv, L"AddPort", full), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(XcvCommandsTest, MalformedPortSettingsAreRefusedAndTheEarlierSettingsKept) {
  ASSERT_EQ(AddPort(kPort), 0u);
  ASSERT_EQ(SetPortSettings(kPort, L"Laser", L"alice", 3), 0u);
  HANDLE xcv = OpenXcv();
  const std::vector<uint8_t> good = SettingsInput(kPort, L"Ink", L"bob", 4);
  const auto withU32 = [&good](size_t at, uint32_t value) {
    std::vector<uint8_t> block = good;
    std::memcpy(block.data() + at, &value, 4);
    return block;
  };
  const std::vector<std::vector<uint8_t>> malformed = {
      {},
      std::vector<uint8_t>(good.begin(), good.begin() + 15),           // shorter than the header
      std::vector<uint8_t>(good.begin(), good.begin() + 16),           // header only
      std::vector<uint8_t>(good.begin(), good.end() - 1),              // last string's NUL cut
      withU32(0, static_cast<uint32_t>(good.size())),                  // port name past the end
      withU32(4, static_cast<uint32_t>(good.size() - 16 - 1)),         // printer name on the last byte
      withU32(12, 0xFFFFFFF0u),                                        // offset that wraps
  };
  for (size_t i = 0; i < malformed.size(); ++i) {
    EXPECT_EQ(GuardedXcv(xcv, L"PortSettings", malformed[i]), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
        << "case " << i;
  }
  EXPECT_EQ(Monitor().pfnXcvDataPort(xcv, L"PortSettings", nullptr, static_cast<DWORD>(good.size()), nullptr, 0,
                                     nullptr),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  const auto record = Record(kPort);
  EXPECT_EQ(record->clientPrinterName, L"Laser");
  EXPECT_EQ(record->userName, L"alice");
  EXPECT_EQ(record->sessionId, 3u);
  EXPECT_EQ(GuardedXcv(xcv, L"PortSettings", good), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Record(kPort)->sessionId, 4u);
}

TEST_F(XcvCommandsTest, EveryEntryPointLogsItsName) {
  HANDLE xcv = OpenXcv();
  Xcv(xcv, L"AddPort", PortNameInput(kPort));
  EnumeratedPorts();
  HANDLE port = nullptr;
  ASSERT_TRUE(Monitor().pfnOpenPort(MonitorHandle(), const_cast<LPWSTR>(kPort.c_str()), &port));
  ASSERT_TRUE(Monitor().pfnClosePort(port));
  Monitor().pfnShutdown(MonitorHandle());
  EXPECT_EQ(TestLogFile::CountMessage("QPXcvOpenPort"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPXcvDataPort"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPEnumPorts"), 2u);
  EXPECT_EQ(TestLogFile::CountMessage("QPOpenPort name QPRN[3:0:1]"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPClosePort"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPClosePort name QPRN[3:0:1]"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("QPShutdown"), 1u);
}

}  // namespace
}  // namespace quil::test
