#include "NotifyModule.h"

namespace quil {
namespace {

constexpr DWORD kPathLength = 260;

HMODULE g_module = nullptr;
std::wstring g_moduleDirectory;

}  // namespace

void RecordModule(HMODULE module) {
  g_module = module;
  wchar_t path[kPathLength] = {};
  const DWORD length = GetModuleFileNameW(module, path, kPathLength);
  const std::wstring file(path, length < kPathLength ? length : 0);
  const size_t separator = file.find_last_of(L"\\/");
  g_moduleDirectory = separator == std::wstring::npos ? std::wstring() : file.substr(0, separator + 1);
}

HMODULE Module() { return g_module; }

const std::wstring& ModuleDirectory() { return g_moduleDirectory; }

}  // namespace quil
