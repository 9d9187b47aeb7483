#include "SimPrinters.h"

#include <winspool.h>

#include <fstream>
#include <iterator>

#include "UniquePrinter.h"

namespace sim {

namespace {

constexpr wchar_t kDriverName[] = L"Wine PostScript Driver";

}  // namespace

std::wstring UnixFile(const char* unixPath) {
  std::wstring path = L"Z:";
  for (; *unixPath; ++unixPath) {
    path.push_back(*unixPath == '/' ? L'\\' : static_cast<wchar_t>(*unixPath));
  }
  return path;
}

void InstallPostScriptDriver() {
  wchar_t directory[MAX_PATH];
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(directory),
                                  sizeof(directory), &needed)) {
    return;
  }
  const std::wstring folder = std::wstring(directory) + L"\\3";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring ppd = folder + L"\\ghostpdf.ppd";
  CopyFileW(UnixFile(QUIL_GHOSTSCRIPT_PPD).c_str(), ppd.c_str(), FALSE);
  DRIVER_INFO_3W driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<LPWSTR>(kDriverName);
  driver.pDriverPath = const_cast<LPWSTR>(L"wineps.drv");
  driver.pConfigFile = const_cast<LPWSTR>(L"wineps.drv");
  driver.pDataFile = const_cast<LPWSTR>(ppd.c_str());
  AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver));  // already there: fine
}

bool AddFilePrinter(const std::wstring& name, const std::wstring& outputPath) {
  DeletePrinterNamed(name);
  DeleteFileW(outputPath.c_str());
  PRINTER_INFO_2W info{};
  info.pPrinterName = const_cast<LPWSTR>(name.c_str());
  info.pPortName = const_cast<LPWSTR>(outputPath.c_str());
  info.pDriverName = const_cast<LPWSTR>(kDriverName);
  info.pPrintProcessor = const_cast<LPWSTR>(L"WinPrint");
  info.pDatatype = const_cast<LPWSTR>(L"RAW");
  quil::UniquePrinter printer(AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info)));
  return static_cast<bool>(printer);
}

void DeletePrinterNamed(const std::wstring& name) {
  PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ALL_ACCESS};
  quil::UniquePrinter printer;
  if (OpenPrinterW(const_cast<LPWSTR>(name.c_str()), printer.put(), &access)) {
    DeletePrinter(printer.get());
  }
}

std::vector<std::wstring> EnumeratedPrinters() {
  constexpr DWORD kFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0;
  DWORD count = 0;
  EnumPrintersW(kFlags, nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  if (needed == 0 || !EnumPrintersW(kFlags, nullptr, 2, buffer.data(), needed, &needed, &count)) {
    return {};
  }
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  std::vector<std::wstring> names;
  for (DWORD i = 0; i < count; ++i) names.emplace_back(printers[i].pPrinterName);
  return names;
}

std::string ReadFileText(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int CountPostScriptPages(const std::string& postScript) {
  int pages = 0;
  for (size_t at = postScript.find("\n%%Page: "); at != std::string::npos;
       at = postScript.find("\n%%Page: ", at + 1)) {
    ++pages;
  }
  return pages;
}

}  // namespace sim
