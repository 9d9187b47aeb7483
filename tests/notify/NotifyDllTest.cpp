// The delivered library exports its session entry points under their plain names, and the
// spooler knows the environment that it installs its driver and monitor under.
#include <gtest/gtest.h>
#include <windows.h>

#include <winspool.h>

#include <string>

#include "SpoolerEnvironment.h"
#include "UniqueHandle.h"

namespace quil::test {
namespace {

TEST(NotifyLibrary, ExportsTheSessionEntryPointsUndecorated) {
  const UniqueModule library(LoadLibraryW(QUIL_NOTIFY_DLL));
  ASSERT_TRUE(library);
  for (const char* name :
       {"QuilEventLogon", "QuilEventLogoff", "QuilRemoveOrphanedPrinters", "WLEventLogon", "WLEventLogoff"}) {
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

// Wine's spooler, like Windows', refuses an environment it does not know and keeps each
// architecture's drivers in a folder of their own.
TEST(NotifyLibrary, SpoolerKnowsTheEnvironmentOfThisArchitecture) {
  wchar_t directory[MAX_PATH] = {};
  DWORD needed = 0;
  ASSERT_TRUE(GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), 1,
                                         reinterpret_cast<BYTE*>(directory), sizeof(directory), &needed))
      << GetLastError();
  const std::wstring folder = directory;
  EXPECT_EQ(folder.substr(folder.rfind(L'\\') + 1), sizeof(void*) == 4 ? L"w32x86" : L"x64");
}

}  // namespace
}  // namespace quil::test
