// The delivered library exports its four session entry points under their plain names.
#include <gtest/gtest.h>
#include <windows.h>

#include "UniqueHandle.h"

namespace quil::test {
namespace {

TEST(NotifyLibrary, ExportsTheSessionEntryPointsUndecorated) {
  const UniqueModule library(LoadLibraryW(QUIL_NOTIFY_DLL));
  ASSERT_TRUE(library);
  for (const char* name : {"QuilEventLogon", "QuilEventLogoff", "WLEventLogon", "WLEventLogoff"}) {
    EXPECT_NE(GetProcAddress(library.get(), name), nullptr) << name;
  }
  for (const char* decorated : {"QuilEventLogon@8", "_QuilEventLogon@8", "WLEventLogon@4"}) {
    EXPECT_EQ(GetProcAddress(library.get(), decorated), nullptr) << decorated;
  }
}

TEST(NotifyLibrary, LogoffOfAnUnknownSessionReturns) {
  const UniqueModule library(LoadLibraryW(QUIL_NOTIFY_DLL));
  ASSERT_TRUE(library);
  using Logoff = void(WINAPI*)(DWORD, HANDLE);
  auto logoff = reinterpret_cast<Logoff>(reinterpret_cast<void*>(GetProcAddress(library.get(), "QuilEventLogoff")));
  ASSERT_NE(logoff, nullptr);
  logoff(42, nullptr);
}

}  // namespace
}  // namespace quil::test
