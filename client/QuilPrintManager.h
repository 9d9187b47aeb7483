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
#include "QuilVirtChannelCallback.h"
#include "SpoolMessages.h"
#include "UniqueGdi.h"

class CQuilPrintManager final : public IQuilVirtChannelCallback {
 public:
  void OnConnected(CAddinChannel* channel) override { channel_ = channel; }
  // A new connection or the client's end discards the job in progress.
  void OnReconnected(CAddinChannel*) override { AbortJob(); }
  // Handles the message on a worker thread of its own, which owns the message.
  void OnData(std::vector<uint8_t> message) override;
  void OnTerminated() override { AbortJob(); }

 private:
  struct Work {
    CQuilPrintManager* handler;
    std::vector<uint8_t> message;
    void Run() { handler->Handle(std::move(message)); }
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

  void AbortJob();
  void AbortJobLocked();
  void Acknowledge(const std::vector<uint8_t>& ack);

  std::atomic<CAddinChannel*> channel_{nullptr};
  // Guards the printer DC: workers draw on it while the client's thread may abort the job.
  quil::CriticalSection lock_;
  quil::UniqueDC printerDC_;  // the job in progress; null while no job is open
  std::vector<uint8_t> printerSettings_;  // the job's printer's own DEVMODEW
};
