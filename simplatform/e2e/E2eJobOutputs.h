// The client computer's record of the jobs its add-in prints. Each printer prints into the file
// PortFile(folder, printer); when the add-in acknowledges a job's end on "QSpl" (it has ended the
// document, so the spooler has written the file), that file becomes JobFile(folder, printer, n),
// the n-th job on that printer in this run, beside JobSettingsFile(...), the 220 bytes of device
// settings the job carried. A line "printed <document> on <printer>: <n> pages -> <file>" reports
// it. The job is known from the job start the server sent on "QSpl".
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CriticalSection.h"
#include "E2eConsole.h"
#include "MessageAssembler.h"
#include "SimMessageSink.h"
#include "SpoolMessages.h"

namespace sim {

std::wstring PortFile(const std::wstring& folder, const std::wstring& printer);
std::wstring JobFile(const std::wstring& folder, const std::wstring& printer, int job);
std::wstring JobSettingsFile(const std::wstring& folder, const std::wstring& printer, int job);

// Stands between the add-in and the link: passes every message the add-in writes on to `link`.
class E2eJobOutputs : public SimMessageSink {
 public:
  E2eJobOutputs(SimMessageSink& link, std::wstring folder, E2eConsole& console);

  // A chunk from the server on its way to the add-in; called before the add-in gets it.
  void ObserveServerChunk(const std::string& channelName, std::span<const uint8_t> data,
                          uint32_t totalLength, uint32_t flags);
  // A message the add-in wrote. A job end acknowledgement completes the job's files before it
  // goes on, so that the server's next job cannot start on them.
  void Deliver(DWORD sessionId, const std::string& channelName,
               std::vector<uint8_t> message) override;

 private:
  void CompleteJob();
  // Moves the job's output to its own file and returns the line that reports it.
  std::string KeepJobOutput(const quil::JobStart& job);

  SimMessageSink& link_;
  const std::wstring folder_;
  E2eConsole& console_;
  quil::CriticalSection lock_;  // guards everything below
  quil::CQuilMessageAssembler jobStart_{quil::CQuilMessageAssembler::StartRule::kFirstFlag};
  bool joiningJobStart_ = false;
  std::optional<quil::JobStart> job_;
  std::map<std::wstring, int> jobsPerPrinter_;
};

}  // namespace sim
