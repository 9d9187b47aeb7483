// The handler of the printer-list channel "QPrn": answers the server's printer-count and printer
// requests from a snapshot of the computer's printers taken when the add-in is loaded.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "AddinChannel.h"
#include "PrinterListAnswer.h"
#include "QuilVirtChannelCallback.h"

class CQuilPrintersManager final : public IQuilVirtChannelCallback {
 public:
  // Takes the snapshot: the local printers and connections, and the user's default printer.
  // Called once as the client enters the add-in, before any channel connects; not from the
  // module's load itself, where calling into the spooler under the loader lock can deadlock.
  // Later calls keep the first snapshot, so indices stay valid for the life of the add-in.
  void TakeSnapshot();

  // Whether the snapshot holds a printer of exactly this name: the only printers the add-in
  // prints to.
  bool Reports(std::u16string_view name) const { return answers_.Reports(name); }

  void OnConnected(CAddinChannel* channel) override { channel_ = channel; }
  void OnReconnected(CAddinChannel*) override {}
  // Writes the request's answer on a worker thread of its own; when no worker can be started,
  // from the client's thread without waiting.
  void OnData(std::vector<uint8_t> message) override;
  void OnTerminated() override {}

 private:
  struct Reply {
    CQuilPrintersManager* handler;
    std::span<const uint8_t> answer;  // in answers_
    void Run() { handler->Write(answer); }
  };

  bool StartWriting(std::span<const uint8_t> answer);
  void Write(std::span<const uint8_t> answer);

  std::atomic<CAddinChannel*> channel_{nullptr};
  bool snapshotTaken_ = false;
  quil::PrinterListAnswers answers_;  // read-only once the snapshot is taken
};
