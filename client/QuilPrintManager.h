// The handler of the spool channel "QSpl": prints each received job on the named local printer,
// with the job's settings merged into the printer's own, one enhanced metafile per page.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "AddinChannel.h"
#include "CriticalSection.h"
#include "QuilPrintersManager.h"
#include "QuilVirtChannelCallback.h"
#include "SpoolMessages.h"
#include "UniqueGdi.h"

class CQuilPrintManager final : public IQuilVirtChannelCallback {
 public:
  // Prints only to the printers that `printers` reported to the server: a name the server makes
  // up (a share on another computer, which the spooler would reach with the user's credentials)
  // is acknowledged and dropped.
  explicit CQuilPrintManager(const CQuilPrintersManager& printers);

  void OnConnected(CAddinChannel* channel) override { channel_ = channel; }
  // A new connection discards the job in progress: the next worker aborts it, at the latest the
  // one of the new connection's first message.
  void OnReconnected(CAddinChannel*) override { RequestAbort(); }
  // Handles the message on a worker thread of its own, which owns the message.
  void OnData(std::vector<uint8_t> message) override;
  // The client's end discards the job in progress, on a worker of its own.
  void OnTerminated() override;

 private:
  struct Work {
    CQuilPrintManager* handler;
    std::vector<uint8_t> message;
    void Run() { handler->Serve(std::move(message)); }
  };
  struct AbortWork {
    CQuilPrintManager* handler;
    void Run() { handler->AbortIfRequested(); }
  };

  void Handle(std::vector<uint8_t> message);
  // Each step acknowledges its message whether or not the work on it succeeded.
  void StartJob(std::span<const uint8_t> message);
  // Gives the page's storage back to the channel before the acknowledgement, so that the next
  // page, which the server sends only after it, is joined there.
  void PrintPage(std::vector<uint8_t> message);
  // Settings that apply from the next page on; the server sends them only to a client that
  // announced it understands them.
  void SetPageSettings(std::span<const uint8_t> message);
  void EndJob();

  void AbortJobLocked();
  void Acknowledge(const std::vector<uint8_t>& ack);

  // Dispatch, workers and aborts. Every message of this channel is answered, also when no worker
  // can be started or its handling fails; the client's threads only ever signal an abort, which
  // a worker carries out between its steps.
  bool StartServing(std::vector<uint8_t> message);
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
  std::atomic<bool> abortRequested_{false};
  // Each acknowledgement built once, so that answering takes no memory and the bytes stay in
  // place for a write that is not waited for.
  const std::vector<uint8_t> jobStartAck_;
  const std::vector<uint8_t> pageAck_;
  const std::vector<uint8_t> pageSettingsAck_;
  const std::vector<uint8_t> jobEndAck_;
};
