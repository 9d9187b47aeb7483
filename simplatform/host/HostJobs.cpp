#include "HostJobs.h"

#include <memory>
#include <vector>

#include "HostMonitor.h"
#include "HostText.h"
#include "SimSpooler.h"

namespace sim::host {
namespace {

CriticalSection oneJobAtATime;
LONG lastJobId = 0;

struct RunningJob {
  std::wstring port, printer, document;
  DWORD jobId = 0;
  bool ran = false;
  DWORD error = 0;
};

DWORD WINAPI RunJobThread(LPVOID parameter) {
  auto* job = static_cast<RunningJob*>(parameter);
  job->ran = HostMonitor::Instance().RunJob(job->port, job->printer, job->jobId, job->document);
  if (!job->ran) job->error = GetLastError();
  return 0;
}

bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
  const quil::UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size) || size.HighPart != 0) return false;
  bytes.resize(size.LowPart);
  DWORD read = 0;
  return size.LowPart == 0 || (ReadFile(file.get(), bytes.data(), size.LowPart, &read, nullptr) && read == size.LowPart);
}

// Waits for the job thread, reporting each page counted meanwhile; returns the pages counted.
DWORD FollowJob(HANDLE thread, DWORD pagesBefore, const std::function<void(DWORD)>& pageSent) {
  SpoolPageCounter& counter = SpoolPageCounter::Instance();
  DWORD reported = 0;
  const HANDLE waits[] = {thread, counter.Changed()};
  for (bool running = true; running;) {
    running = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    for (const DWORD pages = counter.Pages() - pagesBefore; reported < pages;) pageSent(++reported);
  }
  return reported;
}

}  // namespace

SpoolPageCounter& SpoolPageCounter::Instance() {
  static SpoolPageCounter counter;
  return counter;
}

void SpoolPageCounter::PageSent() {
  {
    Guard guard(lock_);
    ++pages_;
  }
  SetEvent(changed_.get());
}

DWORD SpoolPageCounter::Pages() {
  Guard guard(lock_);
  return pages_;
}

std::string Print(const PrintRequest& request, const std::function<void(DWORD page)>& pageSent) {
  Guard guard(oneJobAtATime);
  const auto printer = SimSpooler::Instance().Printer(request.printer);
  if (!printer) return "error no printer " + ToUtf8(request.printer);
  std::vector<uint8_t> data;
  if (!ReadWholeFile(request.spoolFile, data)) return "error cannot read " + ToUtf8(request.spoolFile);

  RunningJob job{printer->port, printer->name, request.document, static_cast<DWORD>(InterlockedIncrement(&lastJobId))};
  SimJob spooled;  // no DEVMODE: the client's printer keeps its own settings
  spooled.documentName = request.document;
  spooled.data = std::make_shared<SimSpoolBytes>(std::move(data));
  SimSpooler::Instance().AddJob(printer->name, job.jobId, std::move(spooled));

  const DWORD pagesBefore = SpoolPageCounter::Instance().Pages();
  const quil::UniqueHandle thread(CreateThread(nullptr, 0, RunJobThread, &job, 0, nullptr));
  if (!thread) return "error cannot start the job thread";
  const DWORD pages = FollowJob(thread.get(), pagesBefore, pageSent);
  if (!job.ran) return "error port " + ToUtf8(job.port) + " did not open (" + std::to_string(job.error) + ")";
  return "ok sent " + std::to_string(pages) + " pages";
}

}  // namespace sim::host
