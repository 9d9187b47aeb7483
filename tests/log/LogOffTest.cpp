// The diagnostic log as delivered (switched off): a call does nothing at all.
#include <gtest/gtest.h>
#include <windows.h>

#include "QuilLog.h"
#include "TestLogFile.h"
#include "UniqueHandle.h"
#include "WaitBound.h"

using quil::test::TestLogFile;

namespace {

DWORD WINAPI LogEverything(LPVOID) {
  quil::Log(L"Session %d user is %s", 3, L"alice");
  quil::LogErrorText(ERROR_ACCESS_DENIED);
  return 0;
}

TEST(LogOffTest, CallsLeaveNoFileAndNeverWaitForTheMutex) {
  TestLogFile::Remove();
  // Held by this thread: a writer that waited for it would never return.
  quil::UniqueHandle mutex(CreateMutexW(nullptr, TRUE, L"QuillonLog"));
  ASSERT_TRUE(mutex);

  quil::UniqueHandle writer(CreateThread(nullptr, 0, LogEverything, nullptr, 0, nullptr));
  EXPECT_EQ(WaitForSingleObject(writer.get(), quil::test::WaitBound(10000)), WAIT_OBJECT_0);
  EXPECT_FALSE(TestLogFile::Exists());
  ReleaseMutex(mutex.get());
}

}  // namespace
