// quil_bench_forwarding: figures of the port monitor's job forwarding over the loopback channel
// link, each against a baseline measured in the same run.
//   quil_bench_forwarding throughput [--pages N] [--runs R]
//     A job of N pages (default 200) of real EMF pages whose sizes spread from 64 KiB to 4 MiB,
//     through the monitor's job entry points, the simulated spooler and channels and the link to
//     an acknowledging client; the baseline sends the same messages in the same frames over the
//     same kind of link to the same client, one acknowledgement per message. Runs alternate,
//     R of each (default 5); the best of each counts.
//   quil_bench_forwarding write-page <file>
//     Writes the largest page of the throughput job (a real EMF page of 4 MiB of bitmap) to a file.
//   quil_bench_forwarding memory <file> [--pages N]
//     Forwards a job of N copies (default 500) of the page in the file to a client that answers
//     through the simulated channels directly, and compares the process's peak working set with
//     the idle process and the page. The page comes from a file so that making it leaves no
//     high-water mark of its own in this process.
// Exit status: 0 when the figures were measured (whether or not the goal was met), 1 when a run
// failed, 2 for a bad command line.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchLink.h"
#include "BenchSupport.h"
#include "MonitoredPort.h"
#include "SimVirtualChannels.h"
#include "SpoolDataFixtures.h"
#include "SpoolMessages.h"
#include "WideText.h"

namespace quil::bench {
namespace {

constexpr char kUsage[] =
    "usage: quil_bench_forwarding throughput [--pages N] [--runs R]\n"
    "       quil_bench_forwarding write-page <file>\n"
    "       quil_bench_forwarding memory <file> [--pages N]";
constexpr size_t kSmallestPage = 64 * kKiB;
constexpr size_t kLargestPage = 4 * kMiB;
constexpr double kThroughputGoal = 0.95;
constexpr size_t kMemoryPagesBound = 3;
constexpr size_t kMemorySlack = kMiB;

using Bytes = std::vector<uint8_t>;

// One timed run: seconds, and the client's counts.
struct Run {
  bool ok = false;
  double seconds = 0;
  AckingSpoolClient::Counts received;
};

Run RunSystem(MonitoredPort& port, DWORD jobId, const std::shared_ptr<const sim::SimSpoolData>& spool) {
  Run run;
  auto ends = ConnectLink();
  if (!ends) return run;
  AckingSpoolClient client(std::move(ends->clientSend), std::move(ends->clientReceive), MonitoredPort::kSession);
  const ServerLinkEnd server(std::move(ends->serverSend), std::move(ends->serverReceive), MonitoredPort::kSession);
  const Stopwatch clock;
  run.ok = port.RunJob(jobId, spool);
  run.seconds = clock.Seconds();
  run.received = client.Received();
  return run;
}

Run RunBaseline(const std::vector<Bytes>& messages) {
  Run run;
  auto ends = ConnectLink();
  if (!ends) return run;
  AckingSpoolClient client(std::move(ends->clientSend), std::move(ends->clientReceive), MonitoredPort::kSession);
  PlainSender sender(std::move(ends->serverSend), std::move(ends->serverReceive), MonitoredPort::kSession);
  const Stopwatch clock;
  run.ok = true;
  for (const Bytes& message : messages) {
    if (!sender.Exchange(message)) {
      run.ok = false;
      break;
    }
  }
  run.seconds = clock.Seconds();
  run.received = client.Received();
  return run;
}

// Whether the client got every message whole and as many bytes as were sent.
bool Delivered(const Run& run, size_t messages, uint64_t bytes) {
  return run.ok && run.received.faults == 0 && run.received.messages == messages && run.received.bytes == bytes;
}

int Throughput(size_t pageCount, size_t runs) {
  std::printf("forwarding: making %zu pages (real EMF, %zu KiB to %zu KiB of bitmap, spread geometrically)\n",
              pageCount, kSmallestPage / kKiB, kLargestPage / kKiB);
  std::fflush(stdout);
  test::SpoolFile spoolFile;
  spoolFile.Record(test::kDevModeRecord, test::JobDevMode(220, 0));
  // The baseline's messages: exactly what the monitor sends for this job.
  std::vector<Bytes> messages;
  const Bytes devMode = test::JobDevMode(220, 0);
  messages.push_back(BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize>(devMode.data(), 220),
                                   ToU16(MonitoredPort::kClientPrinter), ToU16(MonitoredPort::kDocument)));
  size_t largest = 0;
  uint64_t pageBytes = 0;
  int number = 1;
  for (size_t size : SpreadSizes(pageCount, kSmallestPage, kLargestPage)) {
    const Bytes page = test::RecordedPage(number++, size);
    if (page.empty()) {
      std::printf("forwarding: recording a page failed\n");
      return 1;
    }
    spoolFile.Page(page);
    messages.push_back(BuildPage(page));
    largest = std::max(largest, page.size());
    pageBytes += page.size();
  }
  messages.push_back(BuildJobEnd());
  uint64_t messageBytes = 0;
  for (const Bytes& message : messages) messageBytes += message.size();
  const auto spool = std::make_shared<const sim::SimSpoolBytes>(spoolFile.Bytes());
  std::printf("forwarding: %zu pages, %.1f MiB of pages (largest %.2f MiB), %.1f MiB of messages in %zu messages\n",
              pageCount, Mebibytes(static_cast<double>(pageBytes)), Mebibytes(static_cast<double>(largest)),
              Mebibytes(static_cast<double>(messageBytes)), messages.size());
  std::fflush(stdout);

  const sim::WinsockSession winsock;
  MonitoredPort port;
  if (!winsock.Started() || !port.Ready()) {
    std::printf("forwarding: the monitor or the link could not be set up\n");
    return 1;
  }
  std::vector<double> system;
  std::vector<double> baseline;
  DWORD jobId = 100;
  for (size_t round = 0; round < runs; ++round) {
    const Run plain = RunBaseline(messages);
    const Run forwarded = RunSystem(port, jobId++, spool);
    if (!Delivered(plain, messages.size(), messageBytes) || !Delivered(forwarded, messages.size(), messageBytes)) {
      std::printf("forwarding: run %zu did not deliver every message (baseline %zu messages %llu bytes %zu faults, "
                  "system %zu messages %llu bytes %zu faults)\n",
                  round + 1, plain.received.messages, static_cast<unsigned long long>(plain.received.bytes),
                  plain.received.faults, forwarded.received.messages,
                  static_cast<unsigned long long>(forwarded.received.bytes), forwarded.received.faults);
      return 1;
    }
    baseline.push_back(Megabytes(static_cast<double>(messageBytes)) / plain.seconds);
    system.push_back(Megabytes(static_cast<double>(messageBytes)) / forwarded.seconds);
  }
  const double ratio = Best(system) / Best(baseline);
  std::printf("forwarding runs (MB/s, 1 MB = 10^6 bytes): baseline %s; system %s\n",
              JoinFigures(baseline, "%.1f").c_str(), JoinFigures(system, "%.1f").c_str());
  std::printf("forwarding baseline (plain framed sender, same frames, same acknowledgements): %.1f MB/s\n",
              Best(baseline));
  std::printf("forwarding system (port monitor, simulated spooler and channels, link): %.1f MB/s\n", Best(system));
  std::printf("forwarding ratio: %.3f (median runs: %.3f)\n", ratio, Median(system) / Median(baseline));
  char detail[96];
  std::snprintf(detail, sizeof(detail), "system/baseline %.3f, goal >= %.2f", ratio, kThroughputGoal);
  PrintVerdict("forwarding", ratio >= kThroughputGoal, detail);
  return 0;
}

int WritePage(const std::wstring& path) {
  const Bytes page = test::RecordedPage(1, kLargestPage);
  if (page.empty() || !WriteWholeFile(path, page)) {
    std::printf("memory: cannot write the page file\n");
    return 1;
  }
  return 0;
}

int Memory(const std::wstring& path, uint32_t pageCount) {
  // Room for the record head that the repeated pages append, so that the page is never copied.
  auto page = ReadWholeFile(path, 8);
  if (!page || page->empty()) {
    std::printf("memory: cannot read the page file\n");
    return 1;
  }
  const size_t pageSize = page->size();
  const auto spool = std::make_shared<const sim::SimRepeatedPages>(std::move(*page), pageCount);
  const auto warmUp = std::make_shared<const sim::SimSpoolBytes>(
      test::SpoolFile().Page(test::RecordedPage(1)).Bytes());

  // No link: its frames take no memory that grows with the pages, and without it the job runs
  // at the speed of the server side alone.
  MonitoredPort port;
  if (!port.Ready()) {
    std::printf("memory: the monitor could not be set up\n");
    return 1;
  }
  DirectAckingClient client;
  sim::SimVirtualChannels::Instance().SetClient(MonitoredPort::kSession, &client);
  // A job of one small page first, so that the idle process has run every code path once.
  if (!port.RunJob(1, warmUp)) {
    std::printf("memory: the warm-up job failed\n");
    return 1;
  }
  const MemoryFigures idle = ProcessMemory();
  const Stopwatch clock;
  const bool ran = port.RunJob(2, spool);
  const double seconds = clock.Seconds();
  const MemoryFigures after = ProcessMemory();
  sim::SimVirtualChannels::Instance().SetClient(MonitoredPort::kSession, nullptr);
  const auto received = client.Received();
  if (!ran || received.faults != 0 || received.pages != 1 + pageCount) {
    std::printf("memory: the job did not deliver every page (%zu of %u, %zu faults)\n", received.pages - 1,
                pageCount, received.faults);
    return 1;
  }
  const size_t bound = kMemoryPagesBound * pageSize + kMemorySlack;
  const size_t growth = after.peakWorkingSet > idle.workingSet ? after.peakWorkingSet - idle.workingSet : 0;
  std::printf("memory: %u pages of %.2f MiB (%.0f MiB) forwarded in %.1f s (%.1f MB/s)\n", pageCount,
              Mebibytes(static_cast<double>(pageSize)), Mebibytes(static_cast<double>(pageSize) * pageCount), seconds,
              Megabytes(static_cast<double>(pageSize) * pageCount) / seconds);
  std::printf("memory idle: working set %.2f MiB (peak so far %.2f MiB; the spool data of one page is held by the "
              "simulated spooler)\n",
              Mebibytes(static_cast<double>(idle.workingSet)), Mebibytes(static_cast<double>(idle.peakWorkingSet)));
  std::printf("memory peak during the job: %.2f MiB, %.2f MiB over idle = %.2f pages\n",
              Mebibytes(static_cast<double>(after.peakWorkingSet)), Mebibytes(static_cast<double>(growth)),
              static_cast<double>(growth) / static_cast<double>(pageSize));
  std::printf("memory largest page: %.2f MiB; bound 3 x page + 1 MiB = %.2f MiB over idle\n",
              Mebibytes(static_cast<double>(pageSize)), Mebibytes(static_cast<double>(bound)));
  if (after.peakWorkingSet <= idle.peakWorkingSet) {
    std::printf("memory: the job did not raise the peak set before it: its own peak is hidden\n");
  }
  char detail[96];
  std::snprintf(detail, sizeof(detail), "peak %.2f MiB over idle, bound %.2f MiB", Mebibytes(static_cast<double>(growth)),
                Mebibytes(static_cast<double>(bound)));
  PrintVerdict("memory", growth <= bound && after.peakWorkingSet > idle.peakWorkingSet, detail);
  return 0;
}

int Main(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"throughput") {
    const auto pages = Option(argc, argv, 2, L"--pages", 200);
    const auto runs = Option(argc, argv, 2, L"--runs", 5);
    if (pages && runs) return Throughput(*pages, *runs);
  } else if (mode == L"write-page" && argc == 3) {
    return WritePage(argv[2]);
  } else if (mode == L"memory" && argc >= 3) {
    const auto pages = Option(argc, argv, 3, L"--pages", 500);
    if (pages) return Memory(argv[2], static_cast<uint32_t>(*pages));
  }
  std::printf("%s\n", kUsage);
  return 2;
}

}  // namespace
}  // namespace quil::bench

int wmain(int argc, wchar_t** argv) { return quil::bench::Main(argc, argv); }
