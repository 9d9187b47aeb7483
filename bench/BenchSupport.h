// What the benchmark programs share: a clock, the process's memory counters, whole files, the page
// sizes of a job, and the lines they print.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quil::bench {

inline constexpr size_t kKiB = 1024;
inline constexpr size_t kMiB = 1024 * 1024;

// The performance counter in seconds: timestamps that threads compare.
double Now();

// Elapsed wall-clock time from construction, in seconds.
class Stopwatch {
 public:
  Stopwatch();
  double Seconds() const;

 private:
  LARGE_INTEGER start_;
};

struct MemoryFigures {
  size_t workingSet = 0;
  size_t peakWorkingSet = 0;
};
MemoryFigures ProcessMemory();

// `count` sizes spread geometrically from `smallest` to `largest` (both included), so that small
// pages are many and large ones few, as in ordinary documents.
std::vector<size_t> SpreadSizes(size_t count, size_t smallest, size_t largest);

// The folder of the running program, with a trailing backslash.
std::wstring ExecutableFolder();

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes);
// The file's bytes in a vector whose capacity leaves `spare` bytes free after them, so that a
// caller can append that much without the vector moving.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::wstring& path, size_t spare = 0);

double Megabytes(double bytes);  // 10^6 bytes
double Mebibytes(double bytes);  // 2^20 bytes

// The best (largest) and the median of the figures.
double Best(std::vector<double> figures);
double Median(std::vector<double> figures);
std::string JoinFigures(const std::vector<double>& figures, const char* format);

// "verdict <goal>: MET|MISSED (<detail>)", the line scripts/bench.sh collects.
void PrintVerdict(const char* goal, bool met, const std::string& detail);

// The positive number after `name` among the arguments from index `from` on; `fallback` when the
// option is absent, nothing when it has no value or a value that is not a positive number.
std::optional<size_t> Option(int argc, wchar_t** argv, int from, const wchar_t* name, size_t fallback);

}  // namespace quil::bench
