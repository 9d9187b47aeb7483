// quil_e2e_testfont: writes the terminal server's font with restricted embedding for the
// end-to-end run, made here rather than kept as a file: a small TrueType font of the face
// "Quillon Restricted" whose OS/2 fsType is 0x0002 (restricted-license embedding), which the
// monitor must never send.
// Usage: quil_e2e_testfont <fontFile>. Exit status 0, 1 when the file cannot be written, 2 for a
// bad command line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "SamplePages.h"
#include "TestFonts.h"
#include "UniqueHandle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: quil_e2e_testfont <fontFile>\n");
    return 2;
  }
  const std::wstring face = quil::e2e::kRestrictedFace;
  const quil::test::FontBytes font = quil::test::BuildTestFont(std::u16string(face.begin(), face.end()), 0x0002);
  const quil::UniqueHandle file(CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  if (file.get() == INVALID_HANDLE_VALUE ||
      !WriteFile(file.get(), font.data(), static_cast<DWORD>(font.size()), &written, nullptr) || written != font.size()) {
    std::fwprintf(stderr, L"cannot write %ls\n", argv[1]);
    return 1;
  }
  std::wprintf(L"%ls: %zu bytes, fsType 0x0002\n", face.c_str(), font.size());
  return 0;
}
