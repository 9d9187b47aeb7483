// The server end of one static virtual channel in one terminal-server session: opens it, writes
// whole messages, joins received chunks into messages, and runs a watch thread that closes the
// channel when the named disconnect event "Global\<owner>-<session>-Disconnect" is signalled, so
// that a read blocked without a time limit can be released from outside.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "UniqueHandle.h"

namespace quil {

class CQuilServerVirtChannel {
 public:
  // The owner name ("QuillonNotify", "QuillonPort") is the first part of the disconnect event's name.
  explicit CQuilServerVirtChannel(const wchar_t* ownerName);
  ~CQuilServerVirtChannel();
  CQuilServerVirtChannel(const CQuilServerVirtChannel&) = delete;
  CQuilServerVirtChannel& operator=(const CQuilServerVirtChannel&) = delete;

  // Opens `channelName` ("QPrn", "QSpl") of the session and starts the watch thread. An object
  // opens its channel at most once.
  bool Open(DWORD sessionId, const char* channelName);
  // One write of the whole message; the platform splits it into chunks.
  bool Write(const void* message, DWORD length);
  // Waits without a time limit for one whole message. False, with the message empty, when a read
  // fails (the client went away, the watch thread closed the channel) or the chunks are malformed:
  // a first chunk announcing 0 bytes, chunks carrying more than announced, a last chunk short of it.
  bool Read(std::vector<uint8_t>& message);
  // Ends the watch thread and closes the channel exactly once; false if no channel is open.
  bool Close();

  // "Global\<owner>-<session>-Disconnect".
  static std::wstring DisconnectEventName(const std::wstring& ownerName, DWORD sessionId);

 private:
  static DWORD WINAPI WatchThread(LPVOID self);
  void CheckDisconnect();

  HANDLE channel_ = nullptr;
  UniqueHandle stopEvent_;
  UniqueHandle watchThread_;
  std::wstring ownerName_;
  DWORD sessionId_ = 0;
  // Set by the watch thread when it closed the channel; read only after that thread has ended.
  bool closedByWatch_ = false;
};

}  // namespace quil
