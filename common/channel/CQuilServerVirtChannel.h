// The server end of one static virtual channel in one terminal-server session: opens it, writes
// whole messages, and joins received chunks into messages. Only its owner's thread uses and closes
// the channel handle. A read waits for an answer in short slices and gives up when the session's
// disconnect event "Global\<owner>-<session>-Disconnect" is signalled, when the owner's release
// event is set, or when no whole answer came within kAnswerWait; from then on the object counts
// the client as gone and every Read and Write fails at once, without touching the channel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "UniqueHandle.h"

namespace quil {

class CQuilServerVirtChannel {
 public:
  // How long a read waits for a whole answer: long enough for a heavy page on a slow printer,
  // short enough that a lost answer does not hold a spooler thread for good.
  static constexpr DWORD kAnswerWait = 10 * 60 * 1000;

  // The owner name ("QuillonNotify", "QuillonPort") is the first part of the disconnect event's
  // name. `releaseEvent`, if given, is a manual-reset event of the owner, kept alive by it while
  // the object exists, whose signal ends the waits as a disconnect does.
  explicit CQuilServerVirtChannel(const wchar_t* ownerName, HANDLE releaseEvent = nullptr);
  ~CQuilServerVirtChannel();
  CQuilServerVirtChannel(const CQuilServerVirtChannel&) = delete;
  CQuilServerVirtChannel& operator=(const CQuilServerVirtChannel&) = delete;

  // Creates the disconnect event, then opens `channelName` ("QPrn", "QSpl") of the session. Where
  // the event's name is held by another owner or another kind of object the channel runs without
  // it. False if the channel is open already or cannot be opened.
  bool Open(DWORD sessionId, const char* channelName);
  // One write of the whole message; the platform splits it into chunks.
  bool Write(const void* message, DWORD length);
  // Waits for one whole message. False, with the message empty, when a read fails, the client
  // counts as gone (see above), or the chunks are malformed: a first chunk announcing 0 bytes,
  // chunks carrying more than announced, a last chunk short of it.
  bool Read(std::vector<uint8_t>& message);
  // Closes the channel; false if none is open.
  bool Close();

  // "Global\<owner>-<session>-Disconnect".
  static std::wstring DisconnectEventName(const std::wstring& ownerName, DWORD sessionId);
  // Replaces kAnswerWait in this process (0: kAnswerWait again), so that tests need not wait for it.
  static void SetAnswerWaitForTests(DWORD milliseconds);

 private:
  // Whether the client counts as gone; notes a disconnect or release signalled since last asked.
  bool CheckDisconnect();
  // One chunk into `buffer`; false when the read fails or the client counts as gone.
  bool ReadChunk(std::vector<uint8_t>& buffer, ULONG& bytesRead, ULONGLONG deadline);

  HANDLE channel_ = nullptr;
  UniqueHandle disconnectEvent_;
  HANDLE releaseEvent_;
  std::wstring ownerName_;
  bool gone_ = false;
};

}  // namespace quil
