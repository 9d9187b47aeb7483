// The diagnostic log as built for the tests (switched on): the bytes of the file it writes.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>

#include "QuilLog.h"
#include "TestLogFile.h"
#include "UniqueHandle.h"
#include "WaitBound.h"

using quil::test::TestLogFile;

namespace {

// "<dd-mm-yy HH:MM:SS> - th(0x<lowercase hex id>) |" at the start of each entry.
const std::regex kEntryPrefix(R"(\r\n(\d\d)-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) - th\(0x([0-9a-f]+)\) \|)");

std::string HexThreadId(DWORD id) {
  char text[16];
  snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(id));
  return text;
}

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(size - 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

// What a text-mode stream makes of a line break.
std::string AsTextMode(const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

ULONGLONG ToFileTime(const SYSTEMTIME& time) {
  FILETIME fileTime;
  SystemTimeToFileTime(&time, &fileTime);
  return (ULONGLONG{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { TestLogFile::Remove(); }
  void TearDown() override {
    RemoveDirectoryA(TestLogFile::kPath);
    TestLogFile::Remove();
  }
};

TEST_F(LogTest, TwoEntriesEachStartWithALineBreakAndTheFileEndsWithoutOne) {
  quil::Log(L"first");
  quil::Log(L"second");

  const std::string bytes = TestLogFile::ReadBytes();
  const std::string prefix = R"(\r\n\d\d-\d\d-\d\d \d\d:\d\d:\d\d - th\(0x)" + HexThreadId(GetCurrentThreadId()) +
                             R"(\) \|)";
  EXPECT_TRUE(std::regex_match(bytes, std::regex(prefix + "first" + prefix + "second"))) << bytes;
}

TEST_F(LogTest, WideFormatsTakeWideStringsAndThirtyTwoBitIntegers) {
  quil::Log(L"[%s] %d %u %x", L"wide text", -5, 4000000000u, 0xBEEFu);
  EXPECT_EQ(TestLogFile::Messages(), std::vector<std::string>{"[wide text] -5 4000000000 beef"});
}

TEST_F(LogTest, TheFileHoldsNarrowCharactersWithoutByteOrderMark) {
  quil::Log(L"Session %d user is %s", 3, L"alice");
  const std::string bytes = TestLogFile::ReadBytes();
  EXPECT_EQ(bytes.find('\0'), std::string::npos);
  EXPECT_EQ(bytes.substr(0, 2), "\r\n");
  EXPECT_EQ(TestLogFile::Messages(), std::vector<std::string>{"Session 3 user is alice"});
}

TEST_F(LogTest, TheTimeIsTheLocalTimeOfTheCall) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  quil::Log(L"now");
  const std::string bytes = TestLogFile::ReadBytes();
  std::smatch match;
  ASSERT_TRUE(std::regex_search(bytes, match, kEntryPrefix)) << bytes;

  SYSTEMTIME logged{};
  logged.wDay = static_cast<WORD>(std::stoi(match[1]));
  logged.wMonth = static_cast<WORD>(std::stoi(match[2]));
  logged.wYear = static_cast<WORD>(before.wYear - before.wYear % 100 + std::stoi(match[3]));
  logged.wHour = static_cast<WORD>(std::stoi(match[4]));
  logged.wMinute = static_cast<WORD>(std::stoi(match[5]));
  logged.wSecond = static_cast<WORD>(std::stoi(match[6]));
  before.wMilliseconds = 0;
  const ULONGLONG fiveSeconds = 5ull * 10'000'000;
  EXPECT_LE(ToFileTime(before), ToFileTime(logged));
  EXPECT_LT(ToFileTime(logged) - ToFileTime(before), fiveSeconds);
}

DWORD WINAPI LogFromThread(LPVOID) {
  quil::Log(L"from thread %u", GetCurrentThreadId());
  return 0;
}

TEST_F(LogTest, EachEntryNamesTheThreadThatWroteIt) {
  DWORD threadId = 0;
  quil::UniqueHandle thread(CreateThread(nullptr, 0, LogFromThread, nullptr, 0, &threadId));
  WaitForSingleObject(thread.get(), INFINITE);

  const std::string bytes = TestLogFile::ReadBytes();
  std::smatch match;
  ASSERT_TRUE(std::regex_search(bytes, match, kEntryPrefix));
  EXPECT_EQ(match[7].str(), HexThreadId(threadId));
  EXPECT_EQ(TestLogFile::Messages(), std::vector<std::string>{"from thread " + std::to_string(threadId)});
}

DWORD WINAPI LogManyEntries(LPVOID) {
  for (int i = 0; i < 50; ++i) quil::Log(L"entry %d of thread %u", i, GetCurrentThreadId());
  return 0;
}

TEST_F(LogTest, WritersOnManyThreadsNeverInterleaveWithinAnEntry) {
  quil::UniqueHandle threads[4];
  for (auto& thread : threads) thread.reset(CreateThread(nullptr, 0, LogManyEntries, nullptr, 0, nullptr));
  for (auto& thread : threads) WaitForSingleObject(thread.get(), INFINITE);

  const std::string bytes = TestLogFile::ReadBytes();
  const std::regex entry(R"(\r\n[0-9: -]{17} - th\(0x([0-9a-f]+)\) \|entry \d+ of thread (\d+))");
  size_t entries = 0;
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), entry); it != std::sregex_iterator(); ++it) {
    EXPECT_EQ((*it)[1].str(), HexThreadId(std::stoul((*it)[2].str())));
    ++entries;
  }
  EXPECT_EQ(entries, 200u);
  EXPECT_EQ(TestLogFile::Messages().size(), 200u);
}

DWORD WINAPI LogOnce(LPVOID) {
  quil::Log(L"waited");
  return 0;
}

TEST_F(LogTest, AWriterWaitsWhileAnotherHoldsTheNamedMutex) {
  quil::UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"QuillonLog"));
  ASSERT_TRUE(mutex) << "the log creates its mutex when the module loads";
  ASSERT_EQ(WaitForSingleObject(mutex.get(), INFINITE), WAIT_OBJECT_0);

  quil::UniqueHandle writer(CreateThread(nullptr, 0, LogOnce, nullptr, 0, nullptr));
  EXPECT_EQ(WaitForSingleObject(writer.get(), 300), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(TestLogFile::Exists());

  ReleaseMutex(mutex.get());
  EXPECT_EQ(WaitForSingleObject(writer.get(), quil::test::WaitBound(10000)), WAIT_OBJECT_0);
  EXPECT_EQ(TestLogFile::Messages(), std::vector<std::string>{"waited"});
}

TEST_F(LogTest, AnUnopenableFileIsReportedOnStandardOutputAndTheNextCallTriesAgain) {
  ASSERT_TRUE(CreateDirectoryA(TestLogFile::kPath, nullptr));
  testing::internal::CaptureStdout();
  quil::Log(L"lost");
  quil::Log(L"lost too");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "create log file error\ncreate log file error\n");

  ASSERT_TRUE(RemoveDirectoryA(TestLogFile::kPath));
  quil::Log(L"kept");
  EXPECT_EQ(TestLogFile::Messages(), std::vector<std::string>{"kept"});
}

TEST_F(LogTest, ErrorTextIsTheSystemMessageFollowedByTheCode) {
  wchar_t* text = nullptr;
  ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND,
                           0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
            0u);
  quil::UniqueLocalMemory owned(text);
  const std::string systemText = Narrow(text);
  ASSERT_FALSE(systemText.empty());

  quil::LogErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(TestLogFile::Messages(), std::vector<std::string>{"Result: " + AsTextMode(systemText) + " [2]"});
}

TEST_F(LogTest, LoggingLeavesTheCallersLastErrorAsItWas) {
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  quil::Log(L"failed");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  quil::LogErrorText(GetLastError());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(TestLogFile::Messages().back().ends_with(" [1060]"));
}

TEST_F(LogTest, ErrorTextForACodeWithoutSystemTextSaysSo) {
  const DWORD unknownCode = 0x2000ABCD;  // customer bit set: the system has no text for it
  quil::LogErrorText(unknownCode);
  EXPECT_EQ(TestLogFile::Messages(),
            std::vector<std::string>{"Result: (no system text for this code) [" + std::to_string(unknownCode) + "]"});
}

}  // namespace
