#include "QuilPrintManager.h"

#include <exception>
#include <memory>
#include <new>

#include "FontMessages.h"
#include "MessageCodes.h"
#include "PageCompression.h"
#include "PrintJob.h"
#include "SpoolExtension.h"
#include "WorkerThread.h"

// The job-start acknowledgement announces what this add-in understands beyond the original
// messages: page settings, compressed pages, the window and the job's fonts.
CQuilPrintManager::CQuilPrintManager(const CQuilPrintersManager& printers)
    : printers_(printers),
      queued_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      jobStartAck_(quil::BuildJobStartAck(quil::kCapPageSettings | quil::kCapCompressedPages | quil::kCapPageWindow |
                                          quil::kCapFonts)),
      pageAck_(quil::BuildPageAck()),
      pageSettingsAck_(quil::BuildPageSettingsAck()),
      compressedPageAck_(quil::BuildCompressedPageAck()),
      fontQueryRefusal_(quil::BuildFontQueryRefusal()),
      fontDataAck_(quil::BuildFontDataAck()),
      compressedFontDataAck_(quil::BuildCompressedFontDataAck()),
      jobEndAck_(quil::BuildJobEndAck()) {}

void CQuilPrintManager::OnData(std::vector<uint8_t> message) {
  const std::vector<uint8_t>* answer = AnswerFor(message);
  if (Enqueue(std::move(message))) return;
  // Unhandled, the message leaves its job incomplete; the server still waits for the answer,
  // which goes out from the client's thread without waiting for the client.
  RequestAbort();
  CAddinChannel* channel = channel_;
  if (answer && channel) channel->WriteDetached(*answer);
}

void CQuilPrintManager::OnTerminated() {
  RequestAbort();
  terminated_ = true;
  // An empty message has nothing to handle: the worker carries out the abort and, with nothing
  // more queued, ends. Without a worker the job stays open until the add-in is unloaded.
  Enqueue({});
}

bool CQuilPrintManager::Enqueue(std::vector<uint8_t> message) {
  bool startWorker = false;
  try {
    quil::ScopedLock hold(queueLock_);
    queue_.push_back(std::move(message));
    startWorker = !workerRunning_;
    workerRunning_ = true;
  } catch (const std::bad_alloc&) {
    return false;
  }
  SetEvent(queued_.get());
  if (!startWorker) return true;
  bool started = false;
  try {
    started = quil::StartWorker(std::make_unique<QueueWork>(QueueWork{this}));
  } catch (const std::bad_alloc&) {
  }
  if (started) return true;
  // Only this message was queued: messages come from the client's thread alone, and none was
  // waiting while no worker ran.
  quil::ScopedLock hold(queueLock_);
  queue_.clear();
  workerRunning_ = false;
  return false;
}

bool CQuilPrintManager::NextMessage(std::vector<uint8_t>& message) {
  for (;;) {
    {
      quil::ScopedLock hold(queueLock_);
      if (!queue_.empty()) {
        message = std::move(queue_.front());
        queue_.pop_front();
        return true;
      }
      if (terminated_) {
        workerRunning_ = false;
        return false;
      }
    }
    if (WaitForSingleObject(queued_.get(), kIdleMs) == WAIT_OBJECT_0) continue;
    quil::ScopedLock hold(queueLock_);
    if (queue_.empty()) {
      workerRunning_ = false;
      return false;
    }
  }
}

void CQuilPrintManager::ServeQueue() {
  std::vector<uint8_t> message;
  while (NextMessage(message)) Serve(std::move(message));
}

void CQuilPrintManager::Serve(std::vector<uint8_t> message) {
  const std::vector<uint8_t>* answer = AnswerFor(message);
  AbortIfRequested();
  try {
    Handle(std::move(message));
  } catch (...) {
    // Handling answers as its last step: a failure before it (out of memory) leaves the answer
    // to be given here.
    if (answer) Acknowledge(*answer);
  }
  // A reconnection or the client's end while this worker was busy.
  AbortIfRequested();
}

const std::vector<uint8_t>* CQuilPrintManager::AnswerFor(std::span<const uint8_t> message) const {
  switch (quil::ReadMessageCode(message).value_or(UINT32_MAX)) {
    case quil::MSG_START_DOC:
      return &jobStartAck_;
    case quil::MSG_PAGE:
      return &pageAck_;
    case quil::MSG_END_DOC:
      return &jobEndAck_;
    case quil::MSG_PAGE_SETTINGS:
      return &pageSettingsAck_;
    case quil::MSG_COMPRESSED_PAGE:
      return &compressedPageAck_;
    case quil::MSG_FONT_QUERY:
      return &fontQueryRefusal_;
    case quil::MSG_FONT_DATA:
      return &fontDataAck_;
    case quil::MSG_COMPRESSED_FONT_DATA:
      return &compressedFontDataAck_;
    default:
      return nullptr;
  }
}

void CQuilPrintManager::AbortIfRequested() {
  quil::ScopedLock hold(lock_);
  if (abortRequested_.exchange(false)) AbortJobLocked();
}

void CQuilPrintManager::Handle(std::vector<uint8_t> message) {
  switch (quil::ReadMessageCode(message).value_or(UINT32_MAX)) {
    case quil::MSG_START_DOC:
      StartJob(message);
      break;
    case quil::MSG_PAGE:
      PrintPage(std::move(message));
      break;
    case quil::MSG_END_DOC:
      EndJob();
      break;
    case quil::MSG_PAGE_SETTINGS:
      SetPageSettings(message);
      break;
    case quil::MSG_COMPRESSED_PAGE:
      PrintCompressedPage(std::move(message));
      break;
    case quil::MSG_FONT_QUERY:
      AnswerFontQuery(message);
      break;
    case quil::MSG_FONT_DATA:
      TakeFontData(std::move(message));
      break;
    case quil::MSG_COMPRESSED_FONT_DATA:
      TakeCompressedFontData(std::move(message));
      break;
    default:
      break;  // not a message of this channel: no reply
  }
}

void CQuilPrintManager::StartJob(std::span<const uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    // A job start while a job is open discards that job; so does a malformed job start, which
    // opens none.
    AbortJobLocked();
    const auto job = quil::ParseJobStart(message);
    if (job && printers_.Reports(job->printerName)) {
      try {
        printerDC_ = quil::OpenPrintJob(*job, printerSettings_);
        jobFonts_.emplace();
      } catch (const std::exception&) {
        // No DC: the job's pages are acknowledged and dropped.
      }
    }
  }
  Acknowledge(jobStartAck_);
}

void CQuilPrintManager::PrintPage(std::vector<uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    const auto metafile = quil::ParsePage(message);
    if (printerDC_ && metafile) quil::PlayPage(printerDC_.get(), *metafile);
  }
  if (CAddinChannel* channel = channel_) channel->Recycle(std::move(message));
  Acknowledge(pageAck_);
}

void CQuilPrintManager::PrintCompressedPage(std::vector<uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    if (printerDC_ && quil::InflateCompressedPage(message, inflated_)) quil::PlayPage(printerDC_.get(), inflated_);
  }
  if (CAddinChannel* channel = channel_) channel->Recycle(std::move(message));
  Acknowledge(compressedPageAck_);
}

void CQuilPrintManager::SetPageSettings(std::span<const uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    const auto settings = quil::ParsePageSettings(message);
    if (printerDC_ && settings) quil::ApplyPageSettings(printerDC_.get(), printerSettings_, *settings);
  }
  Acknowledge(pageSettingsAck_);
}

void CQuilPrintManager::AnswerFontQuery(std::span<const uint8_t> message) {
  const auto references = quil::ParseFontQuery(message);
  if (!references) {
    Acknowledge(fontQueryRefusal_);
    return;
  }
  // Written and waited for here, so the answer's bytes stay in place until the client is done.
  Acknowledge(quil::BuildFontQueryAnswer(quil::LackingFonts(*references)));
}

void CQuilPrintManager::TakeFontData(std::vector<uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    LoadFontLocked(message);
  }
  if (CAddinChannel* channel = channel_) channel->Recycle(std::move(message));
  Acknowledge(fontDataAck_);
}

void CQuilPrintManager::TakeCompressedFontData(std::vector<uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    if (jobFonts_ && quil::InflateCompressedFontData(
                         message, static_cast<uint32_t>(quil::FontDataLayout::kFixedSize + jobFonts_->remaining()),
                         inflated_)) {
      LoadFontLocked(inflated_);
    }
  }
  if (CAddinChannel* channel = channel_) channel->Recycle(std::move(message));
  Acknowledge(compressedFontDataAck_);
}

void CQuilPrintManager::LoadFontLocked(std::span<const uint8_t> fontData) {
  const auto data = quil::ParseFontData(fontData);
  if (jobFonts_ && data) jobFonts_->Add(data->font);
}

void CQuilPrintManager::EndJob() {
  {
    quil::ScopedLock hold(lock_);
    if (printerDC_) {
      EndDoc(printerDC_.get());
      printerDC_.reset();
    }
    // The fonts go only once the printer has taken the whole document.
    jobFonts_.reset();
    inflated_ = {};
  }
  Acknowledge(jobEndAck_);
}

void CQuilPrintManager::AbortJobLocked() {
  inflated_ = {};
  if (printerDC_) {
    AbortDoc(printerDC_.get());
    printerDC_.reset();
  }
  jobFonts_.reset();
}

void CQuilPrintManager::Acknowledge(const std::vector<uint8_t>& ack) {
  // The acknowledgement is the last thing a worker does: the server sends the next message only
  // once it has it. Its result is not examined: a lost acknowledgement is not repeated.
  if (CAddinChannel* channel = channel_) channel->Write(ack.data(), static_cast<DWORD>(ack.size()));
}
