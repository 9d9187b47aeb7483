#include "NotifyTestSupport.h"

#include "SessionEvents.h"
#include "TestLogFile.h"

namespace quil::test {

UniqueHandle NamedEvent(const std::wstring& name) { return CreateSessionEvent(name); }

void NotifyTest::SetUp() {
  sessions_.Reset();
  channels_.Reset();
  spooler_.Reset();
  TestLogFile::Remove();
}

void NotifyTest::TearDown() {
  EXPECT_EQ(channels_.Misuses(), std::vector<std::wstring>{}) << "channel handles used after their close";
}

}  // namespace quil::test
