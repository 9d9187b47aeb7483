// Every deliverable carries the build's version: the fixed file and product version that Windows
// Installer compares, and the strings that Explorer and inventory tools show.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct Deliverable {
  const wchar_t* path;
  const wchar_t* fileName;
  DWORD fileType;
};

const Deliverable kDeliverables[] = {
    {QUIL_SERVICE_EXE, L"QuillonService.exe", VFT_APP},
    {QUIL_NOTIFY_DLL, L"QuillonNotify.dll", VFT_DLL},
    {QUIL_MONITOR_DLL, L"QPortMonitor.dll", VFT_DLL},
    {QUIL_CLIENT_DLL, L"QuillonClient.dll", VFT_DLL},
};

std::string Narrow(const wchar_t* text) { return std::string(text, text + wcslen(text)); }
void PrintTo(const Deliverable& deliverable, std::ostream* out) { *out << Narrow(deliverable.fileName); }

std::vector<BYTE> VersionInfo(const wchar_t* path) {
  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(path, &ignored));
  if (info.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data())) return {};
  return info;
}

// A string of the U.S. English, Unicode table; empty when there is none.
std::wstring VersionString(std::vector<BYTE>& info, const std::wstring& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || length == 0) return {};
  return static_cast<const wchar_t*>(value);
}

class VersionResourceTest : public ::testing::TestWithParam<Deliverable> {};

TEST_P(VersionResourceTest, CarriesTheBuildsVersion) {
  const Deliverable& deliverable = GetParam();
  std::vector<BYTE> info = VersionInfo(deliverable.path);
  ASSERT_FALSE(info.empty()) << "no version resource, error " << GetLastError();
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD high = MAKELONG(QUIL_VERSION_MINOR, QUIL_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, QUIL_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, high);
  EXPECT_EQ(fixed->dwFileVersionLS, low);
  EXPECT_EQ(fixed->dwProductVersionMS, high);
  EXPECT_EQ(fixed->dwProductVersionLS, low);
  EXPECT_EQ(fixed->dwFileType, deliverable.fileType);
  EXPECT_EQ(VersionString(info, L"FileVersion"), std::wstring(QUIL_VERSION) + L".0");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), QUIL_VERSION);
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Quillon");
  EXPECT_EQ(VersionString(info, L"CompanyName"), L"Quillon");
  EXPECT_EQ(VersionString(info, L"OriginalFilename"), deliverable.fileName);
  EXPECT_NE(VersionString(info, L"FileDescription"), L"");
}

INSTANTIATE_TEST_SUITE_P(Deliverables, VersionResourceTest, ::testing::ValuesIn(kDeliverables),
                         [](const auto& info) {
                           const std::string name = Narrow(info.param.fileName);
                           return name.substr(0, name.find('.'));
                         });

}  // namespace
