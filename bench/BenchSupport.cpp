#include "BenchSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>

#include "UniqueHandle.h"

namespace quil::bench {

double Now() {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Stopwatch::Stopwatch() { QueryPerformanceCounter(&start_); }

double Stopwatch::Seconds() const {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

MemoryFigures ProcessMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return {};
  return {counters.WorkingSetSize, counters.PeakWorkingSetSize};
}

std::vector<size_t> SpreadSizes(size_t count, size_t smallest, size_t largest) {
  std::vector<size_t> sizes;
  const double ratio = static_cast<double>(largest) / static_cast<double>(smallest);
  for (size_t i = 0; i < count; ++i) {
    const double step = count > 1 ? static_cast<double>(i) / static_cast<double>(count - 1) : 0.0;
    sizes.push_back(static_cast<size_t>(std::llround(static_cast<double>(smallest) * std::pow(ratio, step))));
  }
  return sizes;
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  return ok;
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::wstring& path, size_t spare) {
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > MAXDWORD) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(size.QuadPart) + spare);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()) {
    return std::nullopt;
  }
  return bytes;
}

double Megabytes(double bytes) { return bytes / 1e6; }
double Mebibytes(double bytes) { return bytes / static_cast<double>(kMiB); }

double Best(std::vector<double> figures) {
  return figures.empty() ? 0.0 : *std::max_element(figures.begin(), figures.end());
}

double Median(std::vector<double> figures) {
  if (figures.empty()) return 0.0;
  std::sort(figures.begin(), figures.end());
  const size_t middle = figures.size() / 2;
  return figures.size() % 2 ? figures[middle] : (figures[middle - 1] + figures[middle]) / 2;
}

std::string JoinFigures(const std::vector<double>& figures, const char* format) {
  std::string joined;
  for (double figure : figures) {
    char text[32];
    std::snprintf(text, sizeof(text), format, figure);
    joined += (joined.empty() ? "" : " ") + std::string(text);
  }
  return joined;
}

void PrintVerdict(const char* goal, bool met, const std::string& detail) {
  std::printf("verdict %s: %s (%s)\n", goal, met ? "MET" : "MISSED", detail.c_str());
  std::fflush(stdout);
}

std::optional<size_t> Option(int argc, wchar_t** argv, int from, const wchar_t* name, size_t fallback) {
  for (int at = from; at < argc; ++at) {
    if (std::wcscmp(argv[at], name) != 0) continue;
    if (at + 1 >= argc) return std::nullopt;
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(argv[at + 1], &end, 10);
    if (*end || value == 0) return std::nullopt;
    return value;
  }
  return fallback;
}

}  // namespace quil::bench
