// quil_bench_link: figures of a print job over a shaped channel link, the spool channel's
// extension against the original protocol on the same link, in one process: the port monitor's
// code behind the simulated spooler and channels, the server end of a loopback link shaped by a
// profile, and at its client end the real QuillonClient.dll in the simulated remote-desktop client
// printing on a printer of Wine's PostScript driver whose port is a file. The job is the 20-page
// office document that quil_bench_document recorded against that printer (OfficeDocument.h) and
// wrote to <file>; this program's own spooler calls are the simulated server's.
//   quil_bench_link link <file> [--runs R]
//     For "wan" and "lan", R runs (default 3) of each protocol, alternating; each run times, from
//     the monitor's StartDocPort, the add-in's first page acknowledgement (sent right after it
//     played the page) and its job-end acknowledgement (sent right after EndDoc), as the add-in
//     writes them. The original protocol: the server end passes the add-in's job-start
//     acknowledgement on as the original one. The best run of each counts.
//   quil_bench_link compression <file>
//     The document's pages compressed on one core, unshaped: throughput at the server's level, and
//     for levels 1, 6 and 9 the ratio and the time against the link time the bytes saved take.
//   quil_bench_link memory-server <file> | memory-client <file>
//     One side's peak working set over the idle process during the job of the spool data in the
//     file, with the extension on: the monitor's code with a client that acknowledges at once, or
//     the add-in printing the pages sent as the monitor sends them (compressed, within its window),
//     after the same job for a printer it did not report (the add-in's own part: nothing printed).
// Exit status: 0 when the figures were measured (whether or not the goals were met), 1 when a run
// failed, 2 for a bad command line.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchLink.h"
#include "BenchSupport.h"
#include "EmfSpoolReader.h"
#include "MessageCodes.h"
#include "MonitoredPort.h"
#include "OfficeDocument.h"
#include "PageCompression.h"
#include "SimLinkFrame.h"
#include "SimPrinters.h"
#include "SpoolDataFixtures.h"
#include "SimRdpClient.h"
#include "SimVirtualChannels.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "WideText.h"

namespace quil::bench {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kUsage[] =
    "usage: quil_bench_link link <file> [--runs R]\n"
    "       quil_bench_link compression <file>\n"
    "       quil_bench_link memory-server <file>\n"
    "       quil_bench_link memory-client <file>";
constexpr double kWanSpeedupGoal = 4.0;
constexpr double kFloorGoal = 1.25;
constexpr double kFirstPageSlack = 0.3;
constexpr double kLanGoal = 1.0;
constexpr size_t kMemoryPagesBound = 3;
constexpr size_t kMemorySlack = kMiB;
// What the add-in announces for pages, fonts left out as the memory figure is the pages'; the
// monitor's window of bytes in flight for such a client.
constexpr uint32_t kClientCapabilities = kCapPageSettings | kCapCompressedPages | kCapPageWindow;
constexpr size_t kWindowBytes = kMiB;
constexpr DWORD kAnswerWaitMs = 120000;

std::wstring OutputFile() { return ExecutableFolder() + kOfficePrinterPort; }

// Whether the printer's port file holds the whole document; deletes it for the next job.
bool PrintedAll(size_t pages) {
  const int printed = sim::CountPostScriptPages(sim::ReadFileText(OutputFile()));
  DeleteFileW(OutputFile().c_str());
  return printed == static_cast<int>(pages);
}

// A page message or its acknowledgement, which carries the same code.
bool IsPageCode(uint32_t code) { return code == MSG_COMPRESSED_PAGE || code == MSG_PAGE; }

// The add-in's sink for what it writes: timestamps its page acknowledgements and its job-end
// acknowledgement on "QSpl", then passes every message on to the link attached, if any.
class TimedServerSink : public sim::SimMessageSink {
 public:
  struct Times {
    std::vector<double> pagesPlayed;
    double endDoc = 0;
  };

  // Attaches a link (or none) and forgets the times taken.
  void Attach(sim::SimMessageSink* link) {
    sim::Guard hold(lock_);
    link_ = link;
    times_ = {};
  }
  Times Taken() {
    sim::Guard hold(lock_);
    return times_;
  }

  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override {
    const double now = Now();
    // Held while the link takes the message, so that the link is not detached meanwhile.
    sim::Guard hold(lock_);
    if (channelName == kSpoolChannel) {
      const uint32_t code = ReadMessageCode(message).value_or(0xFFFFFFFF);
      if (IsPageCode(code)) times_.pagesPlayed.push_back(now);
      if (code == MSG_END_DOC) times_.endDoc = now;
    }
    if (link_) link_->Deliver(sessionId, channelName, std::move(message));
  }

 private:
  sim::CriticalSection lock_;
  sim::SimMessageSink* link_ = nullptr;
  Times times_;
};

// The client computer's end of one link: what the add-in writes goes out through the sink, and
// each chunk from the server goes to the add-in. Counts the bytes on the link up to the end of the
// first page message and notes when each page message is in.
class ClientLinkEnd {
 public:
  ClientLinkEnd(LinkEnds& ends, sim::SimRdpClient& client, TimedServerSink& sink)
      : sink_(sink),
        toServer_(std::move(ends.clientSend), ends.shape),
        fromServer_(std::move(ends.clientReceive),
                    [this, &client](DWORD, const std::string& channelName, uint32_t totalLength, uint32_t flags,
                                    std::span<const uint8_t> data) {
                      Count(flags, data);
                      client.SendChunk(channelName, data, totalLength, flags);
                    }) {
    sink_.Attach(&toServer_);
  }
  ~ClientLinkEnd() { sink_.Attach(nullptr); }
  ClientLinkEnd(const ClientLinkEnd&) = delete;
  ClientLinkEnd& operator=(const ClientLinkEnd&) = delete;

  // The frames' bytes from the job start through the first page message; 0 before it is in.
  uint64_t FirstPageBytes() {
    sim::Guard hold(lock_);
    return firstPageBytes_;
  }
  // When the first and the last page message so far were in whole (Now()); 0 before the first.
  double FirstPageArrived() {
    sim::Guard hold(lock_);
    return firstPageArrived_;
  }
  double LastPageArrived() {
    sim::Guard hold(lock_);
    return lastPageArrived_;
  }

 private:
  void Count(uint32_t flags, std::span<const uint8_t> data) {
    sim::Guard hold(lock_);
    bytes_ += sim::SimLinkFrameLayout::kHeaderSize + data.size();
    if (flags & sim::kChunkFirst) code_ = ReadMessageCode(data).value_or(0xFFFFFFFF);
    if (!(flags & sim::kChunkLast)) return;
    if (!IsPageCode(code_)) return;
    lastPageArrived_ = Now();
    if (firstPageBytes_ != 0) return;
    firstPageBytes_ = bytes_;
    firstPageArrived_ = lastPageArrived_;
  }

  TimedServerSink& sink_;
  sim::CriticalSection lock_;
  uint64_t bytes_ = 0;
  uint32_t code_ = 0;
  uint64_t firstPageBytes_ = 0;
  double firstPageArrived_ = 0;
  double lastPageArrived_ = 0;
  sim::SimLinkSender toServer_;
  sim::SimLinkReceiver fromServer_;  // last: its thread starts once the rest is set up
};

// One job over one link: its times from StartDocPort, and the bytes the server sent.
struct JobRun {
  bool ok = false;
  double endDoc = 0;
  double firstPage = 0;
  double firstPageArrived = 0;     // the first page message whole at the client
  double lastPageArrived = 0;      // the last page message whole at the client: the link's part
  std::vector<double> pagesPlayed;  // each page's acknowledgement
  uint64_t serverBytes = 0;
  uint64_t firstPageBytes = 0;
};

// Reads spool data from memory.
class MemorySource : public IQuilSpoolSource {
 public:
  explicit MemorySource(const Bytes& bytes) : bytes_(bytes) {}
  std::size_t Read(uint8_t* buffer, std::size_t size) override {
    const size_t count = std::min(size, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return count;
  }

 private:
  const Bytes& bytes_;
  size_t at_ = 0;
};

std::optional<std::vector<Bytes>> SpooledPages(const Bytes& spool) {
  MemorySource source(spool);
  CQuilSpoolReader reader(source);
  if (!reader.ReadHeader()) return std::nullopt;
  std::vector<Bytes> pages;
  Bytes page;
  while (reader.NextPage(page)) pages.push_back(page);
  return pages;
}

// The document's spool data and pages from the file; nullopt after saying why not.
struct SpooledDocument {
  Bytes spool;
  std::vector<Bytes> pages;
  size_t largest = 0;
};
std::optional<SpooledDocument> ReadDocument(const std::wstring& path) {
  SpooledDocument document;
  auto spool = ReadWholeFile(path);
  auto pages = spool ? SpooledPages(*spool) : std::nullopt;
  if (!pages || pages->empty()) {
    std::printf("cannot read the document's spool data\n");
    return std::nullopt;
  }
  document.spool = std::move(*spool);
  document.pages = std::move(*pages);
  for (const Bytes& page : document.pages) document.largest = std::max(document.largest, page.size());
  return document;
}

// A DEVMODEW public part that sets no field: the printer's own settings apply.
Bytes NeutralDevMode() {
  DEVMODEW devMode{};
  devMode.dmSize = sizeof(DEVMODEW);
  devMode.dmSpecVersion = DM_SPECVERSION;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&devMode);
  return {bytes, bytes + sizeof(devMode)};
}

// The monitor, the add-in in the simulated client and the document, set up once per process: the
// add-in keeps the entry points it was given.
class LinkedJobs {
 public:
  explicit LinkedJobs(SpooledDocument document)
      : document_(std::move(document)),
        spool_(std::make_shared<const sim::SimSpoolBytes>(document_.spool)),
        port_(kOfficePrinter),
        client_(sink_, MonitoredPort::kSession) {}

  bool Ready() {
    if (!winsock_.Started() || !port_.Ready() || !client_.LoadAddin(sim::UnixFile(QUIL_CLIENT_DLL))) return false;
    client_.Connect();
    return true;
  }

  JobRun Run(const sim::SimLinkShape& shape, ServerLinkEnd::Protocol protocol) {
    JobRun run;
    auto ends = ConnectLink(shape);
    if (!ends) return run;
    ClientLinkEnd clientEnd(*ends, client_, sink_);
    ServerLinkEnd server(std::move(ends->serverSend), std::move(ends->serverReceive), MonitoredPort::kSession, shape,
                         protocol);
    const bool ran = port_.RunJob(nextJob_++, spool_, NeutralDevMode());
    const TimedServerSink::Times times = sink_.Taken();
    const double start = port_.StartDocAt();
    run.endDoc = times.endDoc - start;
    for (double played : times.pagesPlayed) run.pagesPlayed.push_back(played - start);
    run.firstPage = run.pagesPlayed.empty() ? 0 : run.pagesPlayed.front();
    run.firstPageArrived = clientEnd.FirstPageArrived() - start;
    run.lastPageArrived = clientEnd.LastPageArrived() - start;
    run.serverBytes = server.SentBytes();
    run.firstPageBytes = clientEnd.FirstPageBytes();
    run.ok = ran && times.endDoc != 0 && run.pagesPlayed.size() == document_.pages.size() &&
             PrintedAll(document_.pages.size());
    return run;
  }

  void End() {
    client_.Disconnect();
    client_.Terminate();
  }

 private:
  SpooledDocument document_;
  std::shared_ptr<const sim::SimSpoolData> spool_;
  sim::WinsockSession winsock_;
  MonitoredPort port_;
  TimedServerSink sink_;
  sim::SimRdpClient client_;
  DWORD nextJob_ = 100;
};

double Seconds(uint64_t bytes, const sim::SimLinkShape& shape) {
  return static_cast<double>(bytes) / static_cast<double>(shape.bytesPerSecond);
}
double RoundTrip(const sim::SimLinkShape& shape) { return 2 * shape.delayMs / 1000.0; }

const JobRun& Fastest(const std::vector<JobRun>& runs) {
  return *std::min_element(runs.begin(), runs.end(),
                           [](const JobRun& a, const JobRun& b) { return a.endDoc < b.endDoc; });
}

std::vector<double> EndDocTimes(const std::vector<JobRun>& runs) {
  std::vector<double> times;
  for (const JobRun& run : runs) times.push_back(run.endDoc);
  return times;
}

void PrintRuns(const char* profile, const std::vector<JobRun>& original, const std::vector<JobRun>& extension) {
  std::printf("%s runs, EndDoc (s): original %s; extension %s\n", profile,
              JoinFigures(EndDocTimes(original), "%.3f").c_str(), JoinFigures(EndDocTimes(extension), "%.3f").c_str());
  std::printf("%s bytes the server sent on the link: original %.1f KiB, extension %.1f KiB\n", profile,
              static_cast<double>(Fastest(original).serverBytes) / kKiB,
              static_cast<double>(Fastest(extension).serverBytes) / kKiB);
}

// The EndDoc time of each protocol and their ratio against `goal`.
void PrintSpeedup(const char* profile, const std::vector<JobRun>& original, const std::vector<JobRun>& extension,
                  double goal) {
  const double ratio = Fastest(original).endDoc / Fastest(extension).endDoc;
  std::printf("figure %s EndDoc: extension %.3f s against original %.3f s = %.2f x faster (goal >= %.1f)\n", profile,
              Fastest(extension).endDoc, Fastest(original).endDoc, ratio, goal);
  char detail[128];
  std::snprintf(detail, sizeof(detail), "original/extension %.2f, goal >= %.1f", ratio, goal);
  PrintVerdict((std::string(profile) + " speedup").c_str(), ratio >= goal, detail);
}

// The extension's EndDoc time against the floor: its bytes at the link rate and one round trip.
void PrintFloor(const sim::SimLinkShape& shape, const std::vector<JobRun>& extension) {
  double best = 0;
  const JobRun* bestRun = nullptr;
  for (const JobRun& run : extension) {
    const double ratio = run.endDoc / (Seconds(run.serverBytes, shape) + RoundTrip(shape));
    if (!bestRun || ratio < best) best = ratio, bestRun = &run;
  }
  const double floor = Seconds(bestRun->serverBytes, shape) + RoundTrip(shape);
  std::printf("figure wan floor: extension EndDoc %.3f s against the floor %.3f s (%.1f KiB at the rate %.3f s + "
              "round trip %.3f s) = %.2f (goal <= %.2f)\n",
              bestRun->endDoc, floor, static_cast<double>(bestRun->serverBytes) / kKiB,
              Seconds(bestRun->serverBytes, shape), RoundTrip(shape), best, kFloorGoal);
  char detail[128];
  std::snprintf(detail, sizeof(detail), "EndDoc/floor %.2f, goal <= %.2f", best, kFloorGoal);
  PrintVerdict("wan floor", best <= kFloorGoal, detail);
}

// The extension's first page played against its bound: the bytes through the first page message at
// the rate, two round trips and 0.3 s.
void PrintFirstPage(const sim::SimLinkShape& shape, const std::vector<JobRun>& extension) {
  const auto bound = [&shape](const JobRun& run) {
    return Seconds(run.firstPageBytes, shape) + 2 * RoundTrip(shape) + kFirstPageSlack;
  };
  const auto nearer = [&bound](const JobRun& a, const JobRun& b) {
    return a.firstPage / bound(a) < b.firstPage / bound(b);
  };
  const JobRun& best = *std::min_element(extension.begin(), extension.end(), nearer);
  std::vector<double> times;
  for (const JobRun& run : extension) times.push_back(run.firstPage);
  std::printf("wan runs, first page played (s): extension %s\n", JoinFigures(times, "%.3f").c_str());
  std::printf("figure wan first page: played after %.3f s against the bound %.3f s (%.1f KiB at the rate %.3f s + "
              "2 round trips %.3f s + %.1f s)\n",
              best.firstPage, bound(best), static_cast<double>(best.firstPageBytes) / kKiB,
              Seconds(best.firstPageBytes, shape), 2 * RoundTrip(shape), kFirstPageSlack);
  char detail[128];
  std::printf("where the time goes, wan first page: its message in at the client after %.3f s, played %.3f s later\n",
              best.firstPageArrived, best.firstPage - best.firstPageArrived);
  std::snprintf(detail, sizeof(detail), "%.3f s, bound %.3f s", best.firstPage, bound(best));
  PrintVerdict("wan first page", best.firstPage <= bound(best), detail);
}

// Where the extension's EndDoc time goes on "wan": the link's part (the last page message in at
// the client), and the client's playback, seen alone in the unshaped runs, which the floor leaves
// out: the floor with it (the longer of the two) shows what the link and the protocol add.
void PrintWhereTimeGoes(const sim::SimLinkShape& shape, const std::vector<JobRun>& wanExtension,
                        const std::vector<JobRun>& unshaped) {
  const JobRun& wan = Fastest(wanExtension);
  const JobRun& alone = Fastest(unshaped);
  std::printf("where the time goes, wan extension: the last page message in at the client after %.3f s, the last "
              "page played after %.3f s, EndDoc after %.3f s\n",
              wan.lastPageArrived, wan.pagesPlayed.back(), wan.endDoc);
  std::printf("where the time goes, unshaped extension (the client's playback alone): EndDoc after %.3f s (runs "
              "%s)\n",
              alone.endDoc, JoinFigures(EndDocTimes(unshaped), "%.3f").c_str());
  std::vector<double> perPage;
  double before = 0;
  for (double played : alone.pagesPlayed) perPage.push_back((played - before) * 1000), before = played;
  std::printf("where the time goes, unshaped: page acknowledgements apart (ms): %s\n",
              JoinFigures(perPage, "%.0f").c_str());
  const double floor = Seconds(wan.serverBytes, shape) + RoundTrip(shape);
  std::printf("where the time goes, wan extension against the longer of the floor (%.3f s) and the playback alone "
              "(%.3f s): %.2f\n",
              floor, alone.endDoc, wan.endDoc / std::max(floor, alone.endDoc));
}

void DescribeDocument(const std::vector<Bytes>& pages) {
  uint64_t total = 0;
  size_t largest = 0;
  for (const Bytes& page : pages) total += page.size(), largest = std::max(largest, page.size());
  std::printf("document: %zu pages, %.1f KiB of metafiles (largest page %.1f KiB)\n", pages.size(),
              static_cast<double>(total) / kKiB, static_cast<double>(largest) / kKiB);
  std::fflush(stdout);
}

int Link(const std::wstring& path, size_t runs) {
  auto document = ReadDocument(path);
  if (!document) return 1;
  DescribeDocument(document->pages);
  LinkedJobs jobs(std::move(*document));
  if (!jobs.Ready()) {
    std::printf("link: the monitor, the link or the add-in could not be set up\n");
    return 1;
  }
  const sim::SimLinkShape wan = *sim::LinkProfile("wan");
  const sim::SimLinkShape lan = *sim::LinkProfile("lan");
  // One untimed job first: the first document of a process loads the driver and the fonts.
  if (!jobs.Run({}, ServerLinkEnd::Protocol::kAsAnnounced).ok) {
    std::printf("link: the warm-up job did not print\n");
    return 1;
  }
  std::vector<JobRun> wanOriginal, wanExtension, lanOriginal, lanExtension, unshaped;
  const sim::SimLinkShape none;
  struct Side {
    const sim::SimLinkShape& shape;
    ServerLinkEnd::Protocol protocol;
    std::vector<JobRun>& results;
  };
  const Side sides[] = {{wan, ServerLinkEnd::Protocol::kOriginal, wanOriginal},
                        {wan, ServerLinkEnd::Protocol::kAsAnnounced, wanExtension},
                        {lan, ServerLinkEnd::Protocol::kOriginal, lanOriginal},
                        {lan, ServerLinkEnd::Protocol::kAsAnnounced, lanExtension},
                        {none, ServerLinkEnd::Protocol::kAsAnnounced, unshaped}};
  for (size_t round = 0; round < runs; ++round) {
    for (const Side& side : sides) {
      const JobRun run = jobs.Run(side.shape, side.protocol);
      if (!run.ok) {
        std::printf("link: a job of run %zu did not print every page\n", round + 1);
        return 1;
      }
      side.results.push_back(run);
    }
    std::printf("link: round %zu of %zu done\n", round + 1, runs);
    std::fflush(stdout);
  }
  jobs.End();
  PrintRuns("wan", wanOriginal, wanExtension);
  PrintRuns("lan", lanOriginal, lanExtension);
  std::printf("wan: %.0f kbit/s, %u ms each way; lan: %.0f Mbit/s, %u ms each way\n", wan.bytesPerSecond * 8 / 1e3,
              static_cast<unsigned>(wan.delayMs), lan.bytesPerSecond * 8 / 1e6, static_cast<unsigned>(lan.delayMs));
  PrintSpeedup("wan", wanOriginal, wanExtension, kWanSpeedupGoal);
  PrintFloor(wan, wanExtension);
  PrintFirstPage(wan, wanExtension);
  PrintSpeedup("lan", lanOriginal, lanExtension, kLanGoal);
  PrintWhereTimeGoes(wan, wanExtension, unshaped);
  return 0;
}

// The pages compressed at `level`: the compressed messages' bytes (a page that does not shrink
// counts as its page message) and the best time of `repeats`.
struct Compressed {
  uint64_t bytes = 0;
  double seconds = 0;
};
Compressed Compress(const std::vector<Bytes>& pages, int level, int repeats) {
  Compressed result;
  Bytes message;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    uint64_t bytes = 0;
    const Stopwatch clock;
    for (const Bytes& page : pages) {
      const bool shrank = BuildCompressedPage(page, level, message);
      bytes += shrank ? message.size() : kPageMetafileStart + page.size();
    }
    const double seconds = clock.Seconds();
    if (repeat == 0 || seconds < result.seconds) result.seconds = seconds;
    result.bytes = bytes;
  }
  return result;
}

int Compression(const std::wstring& path) {
  const auto document = ReadDocument(path);
  if (!document) return 1;
  DescribeDocument(document->pages);
  uint64_t pageBytes = 0;
  uint64_t messageBytes = 0;
  for (const Bytes& page : document->pages) {
    pageBytes += page.size();
    messageBytes += BuildPage(page).size();
  }
  const sim::SimLinkShape wan = *sim::LinkProfile("wan");
  const sim::SimLinkShape lan = *sim::LinkProfile("lan");
  constexpr int kRepeats = 10;
  std::printf("compression of the document's pages on one core (best of %d), against the page messages' %.1f KiB:\n",
              kRepeats, static_cast<double>(messageBytes) / kKiB);
  std::printf("  level  ratio  compressed KiB  time ms  MB/s   link time saved: wan ms  lan ms\n");
  std::optional<Compressed> chosen;
  for (int level : {1, 6, 9}) {
    const Compressed result = Compress(document->pages, level, kRepeats);
    if (level == kPageCompressionLevel) chosen = result;
    const uint64_t saved = messageBytes - result.bytes;
    std::printf("  %5d  %5.2f  %14.1f  %7.1f  %5.1f  %22.0f  %6.1f\n", level,
                static_cast<double>(messageBytes) / static_cast<double>(result.bytes),
                static_cast<double>(result.bytes) / kKiB, result.seconds * 1000,
                Megabytes(static_cast<double>(pageBytes)) / result.seconds, Seconds(saved, wan) * 1000,
                Seconds(saved, lan) * 1000);
  }
  if (!chosen) chosen = Compress(document->pages, kPageCompressionLevel, kRepeats);
  std::printf("figure compression throughput: %.1f MB/s of page data on one core at level %d (ratio %.2f; the lan "
              "link carries %.1f MB/s)\n",
              Megabytes(static_cast<double>(pageBytes)) / chosen->seconds, kPageCompressionLevel,
              static_cast<double>(messageBytes) / static_cast<double>(chosen->bytes),
              Megabytes(static_cast<double>(lan.bytesPerSecond)));
  return 0;
}

// The peak over the idle process against 3 x the largest page + 1 MiB.
void PrintMemory(const char* side, const MemoryFigures& idle, const MemoryFigures& after, size_t largest) {
  const size_t bound = kMemoryPagesBound * largest + kMemorySlack;
  const size_t growth = after.peakWorkingSet > idle.workingSet ? after.peakWorkingSet - idle.workingSet : 0;
  std::printf("memory %s: idle working set %.2f MiB (peak so far %.2f MiB), peak during the job %.2f MiB\n", side,
              Mebibytes(static_cast<double>(idle.workingSet)), Mebibytes(static_cast<double>(idle.peakWorkingSet)),
              Mebibytes(static_cast<double>(after.peakWorkingSet)));
  if (after.peakWorkingSet <= idle.peakWorkingSet) {
    std::printf("memory %s: the job did not raise the peak set before it (an earlier job's): its own peak is at most "
                "that\n",
                side);
  }
  std::printf("figure memory %s: peak %.2f MiB over idle against the bound %.2f MiB (3 x largest page %.1f KiB + 1 "
              "MiB)\n",
              side, Mebibytes(static_cast<double>(growth)), Mebibytes(static_cast<double>(bound)),
              static_cast<double>(largest) / kKiB);
  char detail[96];
  std::snprintf(detail, sizeof(detail), "peak %.2f MiB over idle, bound %.2f MiB",
                Mebibytes(static_cast<double>(growth)), Mebibytes(static_cast<double>(bound)));
  PrintVerdict((std::string("memory ") + side).c_str(), growth <= bound, detail);
}

int MemoryServer(const std::wstring& path) {
  auto document = ReadDocument(path);
  if (!document) return 1;
  const auto spool = std::make_shared<const sim::SimSpoolBytes>(std::move(document->spool));
  const auto warmUp = std::make_shared<const sim::SimSpoolBytes>(
      test::SpoolFile().Page(document->pages.front()).Bytes());
  MonitoredPort port(kOfficePrinter);
  if (!port.Ready()) {
    std::printf("memory: the monitor could not be set up\n");
    return 1;
  }
  DirectAckingClient client(kClientCapabilities);
  sim::SimVirtualChannels::Instance().SetClient(MonitoredPort::kSession, &client);
  // A job of the first page first, so that the idle process has run every code path once.
  if (!port.RunJob(1, warmUp)) {
    std::printf("memory: the warm-up job failed\n");
    return 1;
  }
  const MemoryFigures idle = ProcessMemory();
  const bool ran = port.RunJob(2, spool);
  const MemoryFigures after = ProcessMemory();
  sim::SimVirtualChannels::Instance().SetClient(MonitoredPort::kSession, nullptr);
  const auto received = client.Received();
  if (!ran || received.faults != 0 || received.pages != 1 + document->pages.size()) {
    std::printf("memory: the job did not deliver every page (%zu, %zu faults)\n", received.pages, received.faults);
    return 1;
  }
  PrintMemory("server side", idle, after, document->largest);
  return 0;
}

// Stands for the monitor on the client's side: counts the add-in's answers and signals each one.
class AnswerCounter : public sim::SimMessageSink {
 public:
  void Deliver(DWORD, const std::string&, std::vector<uint8_t>) override {
    {
      sim::Guard hold(lock_);
      ++answers_;
    }
    SetEvent(answered_.get());
  }

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

// Sends the job as the monitor does to a client that announced the window: the job start alone,
// then the pages as long as the bytes not yet acknowledged stay within the window, then the end.
bool SendWindowed(sim::SimRdpClient& client, AnswerCounter& server, size_t& answers,
                  const std::vector<Bytes>& messages) {
  std::deque<size_t> inFlight;
  size_t inFlightBytes = 0;
  size_t acknowledged = answers;
  for (const Bytes& message : messages) {
    const bool alone = &message == &messages.front() || &message == &messages.back();
    while (!inFlight.empty() && (alone || inFlightBytes + message.size() > kWindowBytes)) {
      if (!server.WaitForAnswers(++acknowledged)) return false;
      inFlightBytes -= inFlight.front();
      inFlight.pop_front();
    }
    if (!client.SendToClient(kSpoolChannel, message)) return false;
    inFlight.push_back(message.size());
    inFlightBytes += message.size();
  }
  answers += messages.size();
  return server.WaitForAnswers(answers);
}

// The job's messages as the monitor sends them to the add-in: the job start with settings that set
// no field (the printer's own apply), each page compressed where it shrinks, the end.
std::vector<Bytes> JobMessages(const std::vector<Bytes>& pages, const wchar_t* printer = kOfficePrinter) {
  const Bytes devMode = NeutralDevMode();
  std::vector<Bytes> messages;
  messages.push_back(BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize>(devMode.data(),
                                                                                          JobStartLayout::kDevModeSize),
                                   ToU16(printer), ToU16(MonitoredPort::kDocument)));
  for (const Bytes& page : pages) {
    Bytes message;
    messages.push_back(BuildCompressedPage(page, kPageCompressionLevel, message) ? message : BuildPage(page));
  }
  messages.push_back(BuildJobEnd());
  return messages;
}

int MemoryClient(const std::wstring& path) {
  auto document = ReadDocument(path);
  if (!document) return 1;
  const std::vector<Bytes> messages = JobMessages(document->pages);
  const std::vector<Bytes> warmUp = JobMessages({document->pages.front()});
  // The same job for a printer the add-in did not report: it receives, inflates nothing and
  // acknowledges every message, which shows what the add-in itself holds.
  const std::vector<Bytes> undelivered = JobMessages(document->pages, L"Quillon Bench No Such Printer");
  AnswerCounter server;
  sim::SimRdpClient client(server, MonitoredPort::kSession);
  if (!client.LoadAddin(sim::UnixFile(QUIL_CLIENT_DLL))) {
    std::printf("memory: cannot load the add-in\n");
    return 1;
  }
  client.Connect();
  size_t answers = 0;
  // A printed job of the first page first: the first document of a process loads the driver and fonts.
  if (!SendWindowed(client, server, answers, warmUp) || !PrintedAll(1)) {
    std::printf("memory: the warm-up job did not print\n");
    return 1;
  }
  const MemoryFigures idle = ProcessMemory();
  const bool received = SendWindowed(client, server, answers, undelivered);
  const MemoryFigures afterDelivery = ProcessMemory();
  const bool ran = received && SendWindowed(client, server, answers, messages);
  const MemoryFigures after = ProcessMemory();
  client.Disconnect();
  client.Terminate();
  if (!ran || !PrintedAll(document->pages.size())) {
    std::printf("memory: the add-in did not print the job\n");
    return 1;
  }
  PrintMemory("client side, delivery alone", idle, afterDelivery, document->largest);
  PrintMemory("client side", idle, after, document->largest);
  return 0;
}

int Main(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"link" && argc >= 3) {
    const auto runs = Option(argc, argv, 3, L"--runs", 3);
    if (runs) return Link(argv[2], *runs);
  } else if (mode == L"compression" && argc == 3) {
    return Compression(argv[2]);
  } else if (mode == L"memory-server" && argc == 3) {
    return MemoryServer(argv[2]);
  } else if (mode == L"memory-client" && argc == 3) {
    return MemoryClient(argv[2]);
  }
  std::printf("%s\n", kUsage);
  return 2;
}

}  // namespace
}  // namespace quil::bench

int wmain(int argc, wchar_t** argv) { return quil::bench::Main(argc, argv); }
