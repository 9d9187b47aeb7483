// The job entry points: QPStartDocPort reads the job's own spool data from the spooler and sends
// it page by page over "QSpl" to the client of the port's session; the printer driver's output
// that QPWritePort receives is dropped.
#include <windows.h>

#include <winspool.h>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "CQuilServerVirtChannel.h"
#include "EmfSpoolReader.h"
#include "JobDevMode.h"
#include "JobFontSender.h"
#include "MonitorEntryPoints.h"
#include "MonitorHandles.h"
#include "MonitorState.h"
#include "PageCompression.h"
#include "PortSessionUser.h"
#include "QuilLog.h"
#include "SendWindow.h"
#include "SessionEventNames.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "SpoolerRouter.h"
#include "UniquePrinter.h"
#include "WideFormat.h"
#include "WideText.h"

namespace quil {
namespace {

constexpr const char* kSpoolChannel = "QSpl";

// One lock per session, so that the jobs of one session never interleave on its channel, while
// jobs of other sessions and the port commands go on. Entries live until the module is unloaded;
// the map is used only while MonitorLock() is held.
CriticalSection& SessionJobLock(DWORD sessionId) {
  static std::map<DWORD, std::unique_ptr<CriticalSection>> sessionJobLocks;
  auto& lock = sessionJobLocks[sessionId];
  if (!lock) lock = std::make_unique<CriticalSection>();
  return *lock;
}

// What the job's JOB_INFO_2W says, read without going past the block that GetJobW returned.
struct JobDetails {
  DevModeBlock devMode{};
  std::wstring documentName;
};

// GetJobW level 2 on the printer: first without a buffer for the size, then with one.
std::optional<std::vector<BYTE>> JobInfo2(HANDLE printer, DWORD jobId) {
  DWORD needed = 0;
  if (GetJobW(printer, jobId, 2, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      needed < sizeof(JOB_INFO_2W)) {
    Log(L"GetJobW failed");
    LogErrorText(GetLastError());
    return std::nullopt;
  }
  std::vector<BYTE> info(needed);
  if (!GetJobW(printer, jobId, 2, info.data(), needed, &needed)) {
    Log(L"GetJobW failed");
    LogErrorText(GetLastError());
    return std::nullopt;
  }
  return info;
}

// The bytes from `pointer` to the end of `block`; empty when it points elsewhere.
std::span<const BYTE> InsideBlock(const std::vector<BYTE>& block, const void* pointer) {
  const auto* at = static_cast<const BYTE*>(pointer);
  const BYTE* begin = block.data();
  const BYTE* end = begin + block.size();
  if (!at || at < begin || at >= end) return {};
  return {at, static_cast<size_t>(end - at)};
}

std::optional<JobDetails> ReadJobDetails(HANDLE printer, DWORD jobId) {
  JobDetails details;
  const auto withDevMode = JobInfo2(printer, jobId);
  if (!withDevMode) return std::nullopt;
  const auto* info = reinterpret_cast<const JOB_INFO_2W*>(withDevMode->data());
  details.devMode = DevModeBlockOf(InsideBlock(*withDevMode, info->pDevMode));

  const auto withName = JobInfo2(printer, jobId);
  if (!withName) return std::nullopt;
  info = reinterpret_cast<const JOB_INFO_2W*>(withName->data());
  const auto name = InsideBlock(*withName, info->pDocument);
  const auto* text = reinterpret_cast<const wchar_t*>(name.data());
  details.documentName.assign(text, text ? wcsnlen(text, name.size() / sizeof(wchar_t)) : 0);
  return details;
}

// The job's spool data as ReadPrinter on the job handle delivers it.
class CQuilJobSpoolSource : public IQuilSpoolSource {
 public:
  explicit CQuilJobSpoolSource(HANDLE job) : job_(job) {}

  std::size_t Read(uint8_t* buffer, std::size_t size) override {
    DWORD read = 0;
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    if (!ReadPrinter(job_, buffer, piece, &read)) return 0;
    return read;
  }

 private:
  HANDLE job_;
};

// Sends one message and waits for the client's answer.
bool Exchange(CQuilServerVirtChannel& channel, const std::vector<uint8_t>& message, std::vector<uint8_t>& answer) {
  return channel.Write(message.data(), static_cast<DWORD>(message.size())) && channel.Read(answer);
}

// Each page is read straight into its message, and one message buffer serves the whole job (with
// one more for its compressed form): a page is never copied on the server, and the job holds at
// most its largest page twice, and one font at a time with its compressed form. What a client gets beyond the original messages is what it
// announced: the settings that the spool data changes before the page they apply to, pages
// compressed where that makes them smaller, the next messages before the last is answered, and
// ahead of a page the fonts it uses that the client lacks.
void SendPages(CQuilSendWindow& window, HANDLE job, uint32_t capabilities) {
  CQuilJobSpoolSource source(job);
  CQuilSpoolReader reader(source);
  if (!reader.ReadHeader()) return;
  SpoolPageSettings settings;
  SpoolPageSettings* wanted = (capabilities & kCapPageSettings) ? &settings : nullptr;
  const bool compress = capabilities & kCapCompressedPages;
  std::optional<CQuilJobFontSender> fonts;
  if (capabilities & kCapFonts) fonts.emplace(window, compress);
  std::vector<uint8_t> message;
  std::vector<uint8_t> compressed;
  while (reader.NextPage(message, kPageMetafileStart, wanted)) {
    if (settings.changed && !window.Send(BuildPageSettings(settings.devMode))) return;
    if (!CompletePage(message)) return;
    const auto metafile = std::span(message).subspan(kPageMetafileStart);
    if (fonts && !fonts->BeforePage(metafile)) return;
    const bool shrunk = compress && BuildCompressedPage(metafile, kPageCompressionLevel, compressed);
    if (!window.Send(shrunk ? compressed : message)) return;
  }
}

void ForwardJob(const PortRecord& record, CriticalSection& sessionJobLock, const JobDetails& details, HANDLE job) {
  ScopedLock sessionLock(sessionJobLock);
  CQuilServerVirtChannel channel(kPortChannelOwner);
  bool opened = false;
  {
    const CQuilSpoolerSelf spoolerSelf;
    opened = channel.Open(record.sessionId, kSpoolChannel);
  }
  if (!opened) {
    Log(L"Can't open virtual channel.");
    return;
  }
  std::vector<uint8_t> answer;
  if (!Exchange(channel, BuildJobStart(details.devMode, ToU16(record.clientPrinterName), ToU16(details.documentName)),
                answer)) {
    return;
  }
  const uint32_t capabilities = ParseJobStartAck(answer);
  CQuilSendWindow window(channel, capabilities & kCapPageWindow);
  // The job's end goes out also after a page failed, as it always has: a client still there
  // ends the document with the pages it printed.
  SendPages(window, job, capabilities);
  window.Exchange(BuildJobEnd(), answer);
  channel.Close();
}

}  // namespace

BOOL WINAPI QPStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE) {
  try {
    Log(L"QPStartDocPort printer: %s job id: %d Level: %d", printerName ? printerName : L"", jobId, level);
    PortHandle* handle = AsPortHandle(port);
    if (!handle) return FALSE;
    handle->printer = nullptr;
    if (!printerName) return TRUE;
    if (!OpenPrinterW(printerName, &handle->printer, nullptr)) {
      handle->printer = nullptr;
      Log(L"OpenPrinterW failed");
      LogErrorText(GetLastError());
      return TRUE;
    }
    handle->jobId = jobId;
    // The port table is held only while the port's record is copied: a client that stops
    // answering must not hold up the port commands, and with them every logon and logoff.
    std::optional<PortRecord> settings;
    CriticalSection* sessionJobLock = nullptr;
    {
      ScopedLock lock(MonitorLock());
      const PortRecord* record = PortTable::Instance().Find(handle->portName);
      if (!record) return TRUE;
      settings = *record;
      sessionJobLock = &SessionJobLock(record->sessionId);
    }
    std::wstring jobPath = FormatWide(L"%s,Job %d", printerName, jobId);
    UniquePrinter job;
    if (!OpenPrinterW(jobPath.data(), job.put(), nullptr)) {
      Log(L"OpenPrinterW failed");
      LogErrorText(GetLastError());
      return TRUE;
    }
    const auto details = ReadJobDetails(handle->printer, jobId);
    if (!details) return TRUE;
    Log(L"QPStartDocPort Print Job Name: %s [%d]", details->documentName.c_str(),
        static_cast<int>(details->documentName.size()));
    if (!SessionBelongsToPortUser(*settings)) return TRUE;
    ForwardJob(*settings, *sessionJobLock, *details, job.get());
    return TRUE;
  } catch (...) {
    return TRUE;
  }
}

BOOL WINAPI QPWritePort(HANDLE, LPBYTE, DWORD size, LPDWORD written) {
  if (!written) return FALSE;
  Log(L"QPWritePort");
  *written = size;
  return TRUE;
}

BOOL WINAPI QPReadPort(HANDLE, LPBYTE, DWORD, LPDWORD) {
  Log(L"QPReadPort");
  return FALSE;
}

BOOL WINAPI QPSetPortTimeOuts(HANDLE, LPCOMMTIMEOUTS, DWORD) {
  Log(L"QPSetPortTimeOuts");
  return FALSE;
}

BOOL WINAPI QPEndDocPort(HANDLE port) {
  Log(L"QPEndDocPort");
  PortHandle* handle = AsPortHandle(port);
  if (!handle) return FALSE;
  if (handle->printer) {
    if (!SetJobW(handle->printer, handle->jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER)) {
      Log(L"SetJobW failed");
      LogErrorText(GetLastError());
    }
    ClosePrinter(handle->printer);
    handle->printer = nullptr;
  }
  return TRUE;
}

}  // namespace quil
