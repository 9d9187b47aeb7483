// Shared set-up of the session printer manager's tests: the simulated sessions, channels and
// spooler start empty, and the log file is removed.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "SimScriptedClient.h"
#include "SimSpooler.h"
#include "SimTerminalServer.h"
#include "SimVirtualChannels.h"
#include "UniqueHandle.h"
#include "WaitUntil.h"

namespace quil::test {

// Opens (or creates) a named auto-reset event as the service's account would, which the code
// under test accepts; the handle keeps it alive, so a signal set before that code opens it is not
// lost.
UniqueHandle NamedEvent(const std::wstring& name);

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // No channel handle was used after its close, nor closed during a call on it.
  void TearDown() override;

  sim::SimTerminalServer& sessions_ = sim::SimTerminalServer::Instance();
  sim::SimVirtualChannels& channels_ = sim::SimVirtualChannels::Instance();
  sim::SimSpooler& spooler_ = sim::SimSpooler::Instance();
};

}  // namespace quil::test
