#include "HostJobs.h"

#include <memory>
#include <utility>
#include <vector>

#include "FontMessages.h"
#include "HostMonitor.h"
#include "HostText.h"
#include "MessageCodes.h"
#include "PageCompression.h"
#include "SimSpooler.h"
#include "WideText.h"

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

// Waits for the job thread, reporting each page counted and each line noted meanwhile; returns
// the pages counted.
DWORD FollowJob(HANDLE thread, DWORD pagesBefore, const std::function<void(DWORD)>& pageSent,
                const std::function<void(const std::string&)>& note) {
  SpoolTraffic& traffic = SpoolTraffic::Instance();
  DWORD reported = 0;
  const HANDLE waits[] = {thread, traffic.Changed()};
  for (bool running = true; running;) {
    running = WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    for (const std::string& line : traffic.TakeNotes()) note(line);
    for (const DWORD pages = traffic.Pages() - pagesBefore; reported < pages;) pageSent(++reported);
  }
  return reported;
}

// The face name, and its style where it is not the regular one: "Tahoma Bold".
std::string FaceName(const quil::FontReference& reference) {
  return ToUtf8(quil::ToWide(reference.faceName)) + (reference.weight >= FW_SEMIBOLD ? " Bold" : "") +
         (reference.italic ? " Italic" : "");
}

// The line for a font data message, plain or compressed; empty for a message that holds none.
std::string FontSentLine(std::span<const uint8_t> message) {
  std::vector<uint8_t> inflated;
  const bool compressed = quil::IsMessage(message, quil::MSG_COMPRESSED_FONT_DATA);
  if (compressed && !quil::InflateCompressedFontData(message, UINT32_MAX, inflated)) return {};
  const auto data = quil::ParseFontData(compressed ? std::span<const uint8_t>(inflated) : message);
  if (!data) return {};
  return "font sent: " + FaceName(data->reference) + ", " + std::to_string(data->font.size()) + " bytes (" +
         std::to_string(message.size()) + " in its message" + (compressed ? ", compressed)" : ")");
}

// "<head>FACE, FACE", or "<head>none" without faces.
std::string FaceList(std::string head, const std::vector<quil::FontReference>& references) {
  if (references.empty()) return head + "none";
  for (size_t i = 0; i < references.size(); ++i) head += (i ? ", " : "") + FaceName(references[i]);
  return head;
}

}  // namespace

SpoolTraffic& SpoolTraffic::Instance() {
  static SpoolTraffic traffic;
  return traffic;
}

void SpoolTraffic::Sent(std::span<const uint8_t> message) {
  switch (quil::ReadMessageCode(message).value_or(UINT32_MAX)) {
    case quil::MSG_PAGE:
    case quil::MSG_COMPRESSED_PAGE: {
      Guard guard(lock_);
      ++pages_;
      break;
    }
    case quil::MSG_FONT_QUERY: {
      auto references = quil::ParseFontQuery(message);
      if (!references) return;
      Note(FaceList("font query: ", *references));
      Guard guard(lock_);
      lastQuery_ = std::move(*references);
      break;
    }
    case quil::MSG_FONT_DATA:
    case quil::MSG_COMPRESSED_FONT_DATA:
      Note(FontSentLine(message));
      break;
    default:
      return;
  }
  SetEvent(changed_.get());
}

void SpoolTraffic::Answered(std::span<const uint8_t> message) {
  if (!quil::IsMessage(message, quil::MSG_FONT_QUERY)) return;
  std::vector<quil::FontReference> lacking;
  {
    Guard guard(lock_);
    const auto flags = quil::ParseFontQueryAnswer(message, lastQuery_.size());
    if (!flags) return;
    for (size_t i = 0; i < flags->size(); ++i) {
      if ((*flags)[i]) lacking.push_back(lastQuery_[i]);
    }
  }
  Note(FaceList("font answer: the client lacks ", lacking));
  SetEvent(changed_.get());
}

void SpoolTraffic::Note(std::string line) {
  if (line.empty()) return;
  Guard guard(lock_);
  notes_.push_back(std::move(line));
}

DWORD SpoolTraffic::Pages() {
  Guard guard(lock_);
  return pages_;
}

std::vector<std::string> SpoolTraffic::TakeNotes() {
  Guard guard(lock_);
  return std::exchange(notes_, {});
}

std::string Print(const PrintRequest& request, const std::function<void(DWORD page)>& pageSent,
                  const std::function<void(const std::string&)>& note) {
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

  const DWORD pagesBefore = SpoolTraffic::Instance().Pages();
  const quil::UniqueHandle thread(CreateThread(nullptr, 0, RunJobThread, &job, 0, nullptr));
  if (!thread) return "error cannot start the job thread";
  const DWORD pages = FollowJob(thread.get(), pagesBefore, pageSent, note);
  if (!job.ran) return "error port " + ToUtf8(job.port) + " did not open (" + std::to_string(job.error) + ")";
  return "ok sent " + std::to_string(pages) + " pages";
}

}  // namespace sim::host
