// The shaped direction of a channel link: writes the frames a sender hands over to the socket as a
// line of the shape's rate and delay would deliver them. A token bucket serializes the frames at
// the rate, one after another; its depth, kBurstSeconds of the rate, lets a line that stood idle
// catch up on that much of the idle time, so that a writer that was not scheduled for a few
// milliseconds does not slow the line down. Each frame reaches the socket once its transmission
// has ended and the delay has passed; a thread of the shaper writes the frames out at those times.
//
// Like a socket's send buffer, at most kSendBuffer bytes wait for their transmission: Write
// blocks until the frame fits, so a writer goes at the line's pace and holds little memory. The
// frames on their way (serialized, not yet due) and those due but not yet taken by the socket are
// bounded too, so a peer that stops reading stops the writer instead of filling the queue.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "SimLinkShape.h"
#include "SimLock.h"
#include "UniqueHandle.h"

namespace sim {

class SimLinkShaper {
 public:
  static constexpr size_t kSendBuffer = 64 * 1024;
  // The token bucket's depth in seconds of the rate.
  static constexpr double kBurstSeconds = 0.01;

  // Starts the thread at once. The socket stays the caller's and must outlive the shaper.
  // `sendWaitMs`: how long a write may wait for a full connection before the link counts as failed.
  SimLinkShaper(SOCKET socket, SimLinkShape shape, DWORD sendWaitMs);
  // Writes out the frames already taken, each at its time, then ends the thread.
  ~SimLinkShaper();
  SimLinkShaper(const SimLinkShaper&) = delete;
  SimLinkShaper& operator=(const SimLinkShaper&) = delete;

  // Takes one frame (header and data), waiting while the send buffer is full; false once the link
  // failed (the thread could not start, or a write to the socket failed: the sending side is then
  // shut down and the frames not yet written are dropped).
  bool Write(std::vector<uint8_t> frame);
  // The bytes written to the socket so far.
  uint64_t WrittenBytes();

 private:
  struct Frame {
    double due;  // seconds on Now()'s clock
    std::vector<uint8_t> bytes;
  };

  // How late the thread may be in writing due frames before the queue's bound stops the writer.
  static constexpr double kLateSeconds = 0.02;

  static DWORD WINAPI DeliveryThread(LPVOID shaper);
  void Deliver();
  // Waits until frames are due and takes them all; empty once the shaper stops with none left.
  std::vector<uint8_t> TakeDueFrames();
  // How long a frame of `size` bytes must wait before it fits; 0 when it fits now. With lock_ held.
  DWORD WaitForRoom(size_t size, double now) const;

  const SOCKET socket_;
  const SimLinkShape shape_;
  const DWORD sendWaitMs_;
  const size_t queueBound_;  // bytes taken and not yet written
  CriticalSection lock_;     // guards what follows
  CONDITION_VARIABLE changed_;  // frames queued or written, the link failed, or the shaper stops
  std::deque<Frame> queue_;
  size_t queued_ = 0;
  double lineFreeAt_ = 0;  // when the last frame's transmission ends
  uint64_t written_ = 0;
  bool failed_ = false;
  bool stopping_ = false;
  quil::UniqueHandle thread_;
};

}  // namespace sim
