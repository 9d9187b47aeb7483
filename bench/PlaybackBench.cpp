// quil_bench_playback: the client add-in's job playback against printing the same pages directly.
//   quil_bench_playback [--pages N] [--runs R] [--largest KIB] [--memory-pages M]
// The same N real EMF pages (default 12, bitmap sizes spread geometrically from 64 KiB to KIB,
// default 1024) are printed on one printer of Wine's PostScript driver whose port is a file:
// by the real QuillonClient.dll hosted in the simulated remote-desktop client, each message sent
// in the channel's chunks and acknowledged before the next, and directly (the printer's own
// settings, one document, the add-in's page playback). Runs alternate, R of each
// (default 3); the best time of each counts. Before them, the client side's memory: M copies
// (default 500) of the largest page through the add-in for a printer that does not exist, and the
// first printed jobs, each against the idle process.
// Exit status: 0 when the figures were measured, 1 when a run failed, 2 for a bad command line.
#include <windows.h>

#include <winspool.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "PrintJob.h"
#include "SimLock.h"
#include "SimMessageSink.h"
#include "SimPrinters.h"
#include "SimRdpClient.h"
#include "SpoolDataFixtures.h"
#include "SpoolMessages.h"
#include "UniqueGdi.h"
#include "UniquePrinter.h"
#include "WideText.h"

namespace quil::bench {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kUsage[] = "usage: quil_bench_playback [--pages N] [--runs R] [--largest KIB] [--memory-pages M]";
constexpr wchar_t kPrinter[] = L"Quillon Bench Playback";
constexpr wchar_t kDocument[] = L"Benchmark document";
constexpr DWORD kSession = 71;
constexpr size_t kSmallestPage = 64 * kKiB;
constexpr DWORD kAnswerWaitMs = 300000;
constexpr double kGoal = 0.95;

// Stands for the server: counts the add-in's answers and signals each one.
class CountingServer : public sim::SimMessageSink {
 public:
  void Deliver(DWORD, const std::string&, std::vector<uint8_t>) override {
    {
      sim::Guard hold(lock_);
      ++answers_;
    }
    SetEvent(answered_.get());
  }

  // Waits until `count` answers have come; false on timeout.
  bool WaitForAnswers(size_t count) {
    for (;;) {
      {
        sim::Guard hold(lock_);
        if (answers_ >= count) return true;
      }
      if (WaitForSingleObject(answered_.get(), kAnswerWaitMs) != WAIT_OBJECT_0) return false;
    }
  }

 private:
  sim::CriticalSection lock_;
  size_t answers_ = 0;
  UniqueHandle answered_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

// A DEVMODEW public part that sets no field: the printer's own settings stay as they are.
Bytes NeutralDevMode() {
  DEVMODEW devMode{};
  devMode.dmSize = sizeof(DEVMODEW);
  devMode.dmSpecVersion = DM_SPECVERSION;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&devMode);
  return {bytes, bytes + JobStartLayout::kDevModeSize};
}

// The job through the add-in, which stays loaded and connected between jobs as in a session: start,
// pages, end, each answered before the next goes out.
std::optional<double> PlayThroughAddin(sim::SimRdpClient& client, CountingServer& server, size_t& answers,
                                       const std::vector<Bytes>& messages) {
  const Stopwatch clock;
  for (const Bytes& message : messages) {
    if (!client.SendToClient("QSpl", message) || !server.WaitForAnswers(++answers)) return std::nullopt;
  }
  return clock.Seconds();
}

// The printer's own device settings, as the add-in reads them; empty if it has none.
std::optional<Bytes> PrinterSettings() {
  UniquePrinter printer;
  if (!OpenPrinterW(const_cast<LPWSTR>(kPrinter), printer.put(), nullptr)) return std::nullopt;
  DWORD needed = 0;
  GetPrinterW(printer.get(), 2, nullptr, 0, &needed);
  Bytes info(needed);
  if (needed < sizeof(PRINTER_INFO_2W) || !GetPrinterW(printer.get(), 2, info.data(), needed, &needed)) {
    return std::nullopt;
  }
  const DEVMODEW* own = reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pDevMode;
  if (!own) return Bytes();
  const auto* bytes = reinterpret_cast<const uint8_t*>(own);
  return Bytes(bytes, bytes + own->dmSize + own->dmDriverExtra);
}

// The pages printed directly: the printer's own settings, one document, the add-in's page playback.
std::optional<double> PlayDirectly(const std::vector<Bytes>& pages) {
  const Stopwatch clock;
  const auto settings = PrinterSettings();
  if (!settings) return std::nullopt;
  const auto* devMode = settings->empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(settings->data());
  const UniqueDC dc(CreateDCW(L"WINSPOOL", kPrinter, nullptr, devMode));
  if (!dc) return std::nullopt;
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = kDocument;
  if (StartDocW(dc.get(), &document) <= 0) return std::nullopt;
  for (const Bytes& page : pages) PlayPage(dc.get(), page);
  if (EndDoc(dc.get()) <= 0) return std::nullopt;
  return clock.Seconds();
}

// Whether the port file holds the whole document; deletes it for the next run.
bool PrintedAll(const std::wstring& output, size_t pages) {
  const int printed = sim::CountPostScriptPages(sim::ReadFileText(output));
  DeleteFileW(output.c_str());
  return printed == static_cast<int>(pages);
}

// A job of `count` copies of one page message for a printer that does not exist, each answered
// before the next goes out: what the add-in itself holds while it receives a long job.
bool DeliverRepeated(sim::SimRdpClient& client, CountingServer& server, size_t& answers,
                     const std::vector<Bytes>& undelivered, const Bytes& page, size_t count) {
  const auto exchange = [&](const Bytes& message) {
    return client.SendToClient("QSpl", message) && server.WaitForAnswers(++answers);
  };
  if (!exchange(undelivered.front())) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!exchange(page)) return false;
  }
  return exchange(undelivered.back());
}

double MiBOver(const MemoryFigures& idle, size_t peak) {
  return Mebibytes(static_cast<double>(peak) - static_cast<double>(idle.workingSet));
}

// The same bound as the server side's: 3 x the largest page + 1 MiB over the idle process, for the
// add-in's own memory. The printed jobs show what printing adds: Wine's driver, the same whether
// the pages come through the add-in or not. Peaks only rise, so the later ones show only if higher.
void PrintClientMemory(const MemoryFigures& idle, size_t deliveryPeak, size_t addinPeak, size_t directPeak,
                       size_t largestPage, size_t memoryPages) {
  const double bound = Mebibytes(3.0 * static_cast<double>(largestPage) + static_cast<double>(kMiB));
  std::printf("memory client side: idle working set %.2f MiB (peak so far %.2f MiB); largest page %.2f MiB, "
              "bound 3 x page + 1 MiB = %.2f MiB over idle\n",
              Mebibytes(static_cast<double>(idle.workingSet)), Mebibytes(static_cast<double>(idle.peakWorkingSet)),
              Mebibytes(static_cast<double>(largestPage)), bound);
  const double delivery = MiBOver(idle, deliveryPeak);
  std::printf("memory client side, %zu copies of the largest page through the add-in (no printer): peak %.2f MiB "
              "over idle = %.2f pages\n",
              memoryPages, delivery, delivery * static_cast<double>(kMiB) / static_cast<double>(largestPage));
  std::printf("memory client side, first printed job through the add-in: peak %.2f MiB over idle; then printed "
              "directly: %.2f MiB (printing itself is Wine's driver)\n",
              MiBOver(idle, addinPeak), MiBOver(idle, directPeak));
  char detail[96];
  std::snprintf(detail, sizeof(detail), "the add-in's peak %.2f MiB over idle, bound %.2f MiB", delivery, bound);
  PrintVerdict("memory client side", deliveryPeak != 0 && delivery <= bound, detail);
}

int Run(size_t pageCount, size_t runs, size_t largest, size_t memoryPages) {
  std::vector<Bytes> pages;
  std::vector<Bytes> messages;
  const Bytes devMode = NeutralDevMode();
  messages.push_back(BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize>(devMode.data(), 220),
                                   ToU16(kPrinter), ToU16(kDocument)));
  uint64_t pageBytes = 0;
  size_t largestPage = 0;
  int number = 1;
  for (size_t size : SpreadSizes(pageCount, std::min(kSmallestPage, largest), largest)) {
    pages.push_back(test::RecordedPage(number++, size));
    messages.push_back(BuildPage(pages.back()));
    pageBytes += pages.back().size();
    largestPage = std::max(largestPage, pages.back().size());
  }
  messages.push_back(BuildJobEnd());
  // The same job for a printer that does not exist: the add-in receives, joins and acknowledges
  // every message but prints nothing, which shows what the delivery alone costs.
  std::vector<Bytes> undelivered = messages;
  undelivered.front() = BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize>(devMode.data(), 220),
                                      u"Quillon Bench No Such Printer", ToU16(kDocument));
  std::printf("playback: %zu pages (real EMF, %zu KiB to %zu KiB of bitmap, spread geometrically; %.1f MiB)\n",
              pageCount, std::min(kSmallestPage, largest) / kKiB, largest / kKiB,
              Mebibytes(static_cast<double>(pageBytes)));
  std::fflush(stdout);

  sim::InstallPostScriptDriver();
  const std::wstring output = ExecutableFolder() + L"bench-playback.ps";
  if (!sim::AddFilePrinter(kPrinter, output)) {
    std::printf("playback: cannot create the printer\n");
    return 1;
  }
  // One simulated client per process: the add-in keeps the entry points it was given.
  CountingServer server;
  sim::SimRdpClient client(server, kSession);
  if (!client.LoadAddin(sim::UnixFile(QUIL_CLIENT_DLL))) {
    std::printf("playback: cannot load the add-in\n");
    return 1;
  }
  client.Connect();
  size_t answers = 0;
  // One untimed page each way first: the first document of a process loads the driver and fonts.
  const std::vector<Bytes> warmUp = {messages.front(), messages[1], messages.back()};
  if (!PlayDirectly({pages.front()}) || !PrintedAll(output, 1) ||
      !PlayThroughAddin(client, server, answers, warmUp) || !PrintedAll(output, 1)) {
    std::printf("playback: the warm-up page did not print\n");
    return 1;
  }
  std::vector<double> system;
  std::vector<double> baseline;
  std::vector<double> delivery;
  // The client side's memory: the process's peak working set over the idle process, first for a
  // long job that the add-in receives without printing, then during the first printed jobs.
  const MemoryFigures idle = ProcessMemory();
  const Bytes& largestMessage = *std::max_element(
      messages.begin(), messages.end(), [](const Bytes& a, const Bytes& b) { return a.size() < b.size(); });
  if (!DeliverRepeated(client, server, answers, undelivered, largestMessage, memoryPages)) {
    std::printf("playback: the add-in did not answer the long job without a printer\n");
    return 1;
  }
  const size_t deliveryPeak = ProcessMemory().peakWorkingSet;
  size_t addinPeak = 0;
  size_t directPeak = 0;
  for (size_t round = 0; round < runs; ++round) {
    const auto addin = PlayThroughAddin(client, server, answers, messages);
    if (round == 0) addinPeak = ProcessMemory().peakWorkingSet;
    if (!addin || !PrintedAll(output, pageCount)) {
      std::printf("playback: the add-in did not print the job in run %zu\n", round + 1);
      return 1;
    }
    const auto direct = PlayDirectly(pages);
    if (round == 0) directPeak = ProcessMemory().peakWorkingSet;
    if (!direct || !PrintedAll(output, pageCount)) {
      std::printf("playback: printing directly failed in run %zu\n", round + 1);
      return 1;
    }
    const auto deliveryOnly = PlayThroughAddin(client, server, answers, undelivered);
    if (!deliveryOnly) {
      std::printf("playback: the add-in did not answer the job without a printer in run %zu\n", round + 1);
      return 1;
    }
    delivery.push_back(*deliveryOnly);
    baseline.push_back(*direct);
    system.push_back(*addin);
  }
  client.Disconnect();
  client.Terminate();
  sim::DeletePrinterNamed(kPrinter);
  // Times: the best is the smallest; a ratio of speeds is baseline time over system time.
  std::vector<double> baselineSpeed;
  std::vector<double> systemSpeed;
  for (double seconds : baseline) baselineSpeed.push_back(1 / seconds);
  for (double seconds : system) systemSpeed.push_back(1 / seconds);
  const double ratio = Best(systemSpeed) / Best(baselineSpeed);
  std::printf("playback runs (s): baseline %s; system %s\n", JoinFigures(baseline, "%.2f").c_str(),
              JoinFigures(system, "%.2f").c_str());
  std::printf("playback baseline (pages played directly on the printer): %.2f s\n", 1 / Best(baselineSpeed));
  std::printf("playback system (QuillonClient.dll in the simulated client): %.2f s\n", 1 / Best(systemSpeed));
  std::printf("playback delivery alone (the same job for a missing printer: chunks, joining, acknowledgements, "
              "no printing): %.2f s (runs %s)\n",
              *std::min_element(delivery.begin(), delivery.end()), JoinFigures(delivery, "%.2f").c_str());
  std::printf("playback ratio (baseline time / system time): %.3f (median runs: %.3f)\n", ratio,
              Median(systemSpeed) / Median(baselineSpeed));
  char detail[96];
  std::snprintf(detail, sizeof(detail), "baseline/system time %.3f, goal >= %.2f", ratio, kGoal);
  PrintVerdict("playback", ratio >= kGoal, detail);
  PrintClientMemory(idle, deliveryPeak, addinPeak, directPeak, largestPage, memoryPages);
  return 0;
}

int Main(int argc, wchar_t** argv) {
  const auto pages = Option(argc, argv, 1, L"--pages", 12);
  const auto runs = Option(argc, argv, 1, L"--runs", 3);
  const auto largest = Option(argc, argv, 1, L"--largest", 1024);
  const auto memoryPages = Option(argc, argv, 1, L"--memory-pages", 500);
  if (!pages || !runs || !largest || !memoryPages || argc % 2 == 0) {
    std::printf("%s\n", kUsage);
    return 2;
  }
  return Run(*pages, *runs, *largest * kKiB, *memoryPages);
}

}  // namespace
}  // namespace quil::bench

int wmain(int argc, wchar_t** argv) { return quil::bench::Main(argc, argv); }
