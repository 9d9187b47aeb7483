// The handler of the spool channel "QSpl": prints each received job on the named local printer,
// with the job's settings merged into the printer's own, one enhanced metafile per page.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "AddinChannel.h"
#include "CriticalSection.h"
#include "JobFonts.h"
#include "QuilPrintersManager.h"
#include "QuilVirtChannelCallback.h"
#include "SpoolMessages.h"
#include "UniqueGdi.h"
#include "UniqueHandle.h"

class CQuilPrintManager final : public IQuilVirtChannelCallback {
 public:
  // Prints only to the printers that `printers` reported to the server: a name the server makes
  // up (a share on another computer, which the spooler would reach with the user's credentials)
  // is acknowledged and dropped.
  explicit CQuilPrintManager(const CQuilPrintersManager& printers);

  void OnConnected(CAddinChannel* channel) override { channel_ = channel; }
  // A new connection discards the job in progress: the worker aborts it before the new
  // connection's first message.
  void OnReconnected(CAddinChannel*) override { RequestAbort(); }
  // Queues the message for the worker, which handles the messages strictly in arrival order.
  void OnData(std::vector<uint8_t> message) override;
  // The client's end discards the job in progress; the worker carries that out and ends.
  void OnTerminated() override;

 private:
  // The one worker: started when a message arrives and none runs, it handles the queued messages
  // one after the other and ends once none has come for kIdleMs, or once the client has ended.
  struct QueueWork {
    CQuilPrintManager* handler;
    void Run() { handler->ServeQueue(); }
  };
  static constexpr DWORD kIdleMs = 1000;

  void Handle(std::vector<uint8_t> message);
  // Each step acknowledges its message whether or not the work on it succeeded.
  void StartJob(std::span<const uint8_t> message);
  // Gives the page's storage back to the channel before the acknowledgement, so that a page
  // that comes after it is joined there.
  void PrintPage(std::vector<uint8_t> message);
  // A page whose data does not inflate to exactly the size it announces prints nothing.
  void PrintCompressedPage(std::vector<uint8_t> message);
  // Settings that apply from the next page on; the server sends them only to a client that
  // announced it understands them.
  void SetPageSettings(std::span<const uint8_t> message);
  // Answers which of the named fonts this computer lacks.
  void AnswerFontQuery(std::span<const uint8_t> message);
  // Loads a font the server sent for the open job; without one, or where the data is not a font
  // or no longer fits in the job's budget, nothing is loaded.
  void TakeFontData(std::vector<uint8_t> message);
  // A compressed font announcing more than the job's budget has left is refused before inflating.
  void TakeCompressedFontData(std::vector<uint8_t> message);
  void LoadFontLocked(std::span<const uint8_t> fontData);
  void EndJob();

  void AbortJobLocked();
  void Acknowledge(const std::vector<uint8_t>& ack);

  // Dispatch, the worker and aborts. Every message of this channel is answered, also when no
  // worker can be started or its handling fails; the client's threads only ever signal an abort,
  // which the worker carries out between its steps.
  bool Enqueue(std::vector<uint8_t> message);
  // The next queued message; false, with the worker counted as gone, when none comes in time.
  bool NextMessage(std::vector<uint8_t>& message);
  void ServeQueue();
  void Serve(std::vector<uint8_t> message);
  // The prebuilt acknowledgement of a message; null for a message without one.
  const std::vector<uint8_t>* AnswerFor(std::span<const uint8_t> message) const;
  void RequestAbort() { abortRequested_ = true; }
  void AbortIfRequested();

  const CQuilPrintersManager& printers_;
  std::atomic<CAddinChannel*> channel_{nullptr};
  // Guards the printer DC: workers draw on it, and a worker from before a reconnection may still
  // be inside a slow driver call while the next one starts.
  quil::CriticalSection lock_;
  quil::UniqueDC printerDC_;  // the job in progress; null while no job is open
  std::vector<uint8_t> printerSettings_;  // the job's printer's own DEVMODEW
  std::vector<uint8_t> inflated_;  // the job's last compressed message, inflated; freed with the job
  // The fonts received for the open job, loaded for this process only; removed with the job.
  std::optional<quil::CQuilJobFonts> jobFonts_;
  std::atomic<bool> abortRequested_{false};
  quil::CriticalSection queueLock_;  // guards the queue and whether the worker runs
  std::deque<std::vector<uint8_t>> queue_;
  bool workerRunning_ = false;
  std::atomic<bool> terminated_{false};
  quil::UniqueHandle queued_;  // set when a message is queued or the client ends
  // Each acknowledgement built once, so that answering takes no memory and the bytes stay in
  // place for a write that is not waited for.
  const std::vector<uint8_t> jobStartAck_;
  const std::vector<uint8_t> pageAck_;
  const std::vector<uint8_t> pageSettingsAck_;
  const std::vector<uint8_t> compressedPageAck_;
  const std::vector<uint8_t> fontQueryRefusal_;  // the answer when the fonts could not be checked
  const std::vector<uint8_t> fontDataAck_;
  const std::vector<uint8_t> compressedFontDataAck_;
  const std::vector<uint8_t> jobEndAck_;
};
