// The channel's bound on waiting for an answer, shortened while the object lives, so that a test
// of a lost answer need not wait minutes.
#pragma once

#include <windows.h>

#include "CQuilServerVirtChannel.h"

namespace quil::test {

class ShortAnswerWait {
 public:
  explicit ShortAnswerWait(DWORD milliseconds) { CQuilServerVirtChannel::SetAnswerWaitForTests(milliseconds); }
  ~ShortAnswerWait() { CQuilServerVirtChannel::SetAnswerWaitForTests(0); }
  ShortAnswerWait(const ShortAnswerWait&) = delete;
  ShortAnswerWait& operator=(const ShortAnswerWait&) = delete;
};

}  // namespace quil::test
