#include "NotifyTestSupport.h"

#include "TestLogFile.h"

namespace quil::test {

UniqueHandle NamedEvent(const std::wstring& name) {
  return UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
}

void NotifyTest::SetUp() {
  sessions_.Reset();
  channels_.Reset();
  spooler_.Reset();
  TestLogFile::Remove();
}

}  // namespace quil::test
