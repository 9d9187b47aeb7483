#include "QuilPrintManager.h"

#include <exception>
#include <memory>

#include "MessageCodes.h"
#include "PrintJob.h"
#include "SpoolExtension.h"
#include "WorkerThread.h"

namespace {

// What this add-in announces in every job-start acknowledgement.
constexpr uint32_t kCapabilities = quil::kCapPageSettings;

}  // namespace

void CQuilPrintManager::OnData(std::vector<uint8_t> message) {
  quil::StartWorker(std::make_unique<Work>(Work{this, std::move(message)}));
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
    if (const auto job = quil::ParseJobStart(message)) {
      try {
        printerDC_ = quil::OpenPrintJob(*job, printerSettings_);
      } catch (const std::exception&) {
        // No DC: the job's pages are acknowledged and dropped.
      }
    }
  }
  Acknowledge(quil::BuildJobStartAck(kCapabilities));
}

void CQuilPrintManager::PrintPage(std::vector<uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    const auto metafile = quil::ParsePage(message);
    if (printerDC_ && metafile) quil::PlayPage(printerDC_.get(), *metafile);
  }
  if (CAddinChannel* channel = channel_) channel->Recycle(std::move(message));
  Acknowledge(quil::BuildPageAck());
}

void CQuilPrintManager::SetPageSettings(std::span<const uint8_t> message) {
  {
    quil::ScopedLock hold(lock_);
    const auto settings = quil::ParsePageSettings(message);
    if (printerDC_ && settings) quil::ApplyPageSettings(printerDC_.get(), printerSettings_, *settings);
  }
  Acknowledge(quil::BuildPageSettingsAck());
}

void CQuilPrintManager::EndJob() {
  {
    quil::ScopedLock hold(lock_);
    if (printerDC_) {
      EndDoc(printerDC_.get());
      printerDC_.reset();
    }
  }
  Acknowledge(quil::BuildJobEndAck());
}

void CQuilPrintManager::AbortJob() {
  quil::ScopedLock hold(lock_);
  AbortJobLocked();
}

void CQuilPrintManager::AbortJobLocked() {
  if (!printerDC_) return;
  AbortDoc(printerDC_.get());
  printerDC_.reset();
}

void CQuilPrintManager::Acknowledge(const std::vector<uint8_t>& ack) {
  // The acknowledgement is the last thing a worker does: the server sends the next message only
  // once it has it. Its result is not examined: a lost acknowledgement is not repeated.
  if (CAddinChannel* channel = channel_) channel->Write(ack.data(), static_cast<DWORD>(ack.size()));
}
