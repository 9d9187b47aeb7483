#include "E2eJobOutputs.h"

#include <fstream>

#include "MessageCodes.h"
#include "SimChunks.h"
#include "SimPrinters.h"
#include "WideText.h"

namespace sim {
namespace {

constexpr char kSpoolChannel[] = "QSpl";

// The printer's name with the characters a file name cannot hold replaced.
std::wstring FileNameOf(const std::wstring& printer) {
  std::wstring name = printer;
  for (auto& c : name) {
    if (c < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
  }
  return name;
}

std::wstring JobStem(const std::wstring& folder, const std::wstring& printer, int job) {
  return folder + L"\\" + FileNameOf(printer) + L"-" + std::to_wstring(job);
}

void WriteBytes(const std::wstring& path, std::span<const uint8_t> bytes) {
  std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

std::wstring PortFile(const std::wstring& folder, const std::wstring& printer) {
  return folder + L"\\" + FileNameOf(printer) + L".ps";
}

std::wstring JobFile(const std::wstring& folder, const std::wstring& printer, int job) {
  return JobStem(folder, printer, job) + L".ps";
}

std::wstring JobSettingsFile(const std::wstring& folder, const std::wstring& printer, int job) {
  return JobStem(folder, printer, job) + L".devmode";
}

E2eJobOutputs::E2eJobOutputs(SimMessageSink& link, std::wstring folder, E2eConsole& console)
    : link_(link), folder_(std::move(folder)), console_(console) {}

void E2eJobOutputs::ObserveServerChunk(const std::string& channelName,
                                       std::span<const uint8_t> data, uint32_t totalLength,
                                       uint32_t flags) {
  if (channelName != kSpoolChannel) return;
  quil::ScopedLock hold(lock_);
  // Only job starts are joined; pages pass by unread.
  if (flags & kChunkFirst) joiningJobStart_ = quil::IsMessage(data, quil::MSG_START_DOC);
  if (!joiningJobStart_) return;
  if (jobStart_.AddChunk(data, totalLength, flags) !=
      quil::CQuilMessageAssembler::Result::kComplete) {
    return;
  }
  joiningJobStart_ = false;
  job_ = quil::ParseJobStart(jobStart_.TakeMessage());
}

void E2eJobOutputs::Deliver(DWORD sessionId, const std::string& channelName,
                            std::vector<uint8_t> message) {
  if (channelName == kSpoolChannel && message == quil::BuildJobEndAck()) CompleteJob();
  link_.Deliver(sessionId, channelName, std::move(message));
}

void E2eJobOutputs::CompleteJob() {
  quil::ScopedLock hold(lock_);
  if (!job_) return;
  console_.Line(KeepJobOutput(*job_));
  job_.reset();
}

std::string E2eJobOutputs::KeepJobOutput(const quil::JobStart& job) {
  const std::wstring printer = quil::ToWide(job.printerName);
  const std::string what = Utf8(quil::ToWide(job.documentName)) + " on " + Utf8(printer);
  const std::wstring output = PortFile(folder_, printer);
  const int number = jobsPerPrinter_[printer] + 1;
  const std::wstring file = JobFile(folder_, printer, number);
  if (!MoveFileExW(output.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return "not printed " + what + ": no output in " + Utf8(output);
  }
  jobsPerPrinter_[printer] = number;
  WriteBytes(JobSettingsFile(folder_, printer, number), job.devMode);
  const int pages = CountPostScriptPages(ReadFileText(file));
  return "printed " + what + ": " + std::to_string(pages) + " pages -> " + Utf8(file);
}

}  // namespace sim
