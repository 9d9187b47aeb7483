// What the client add-in's tests share: a recording server behind the simulated remote-desktop
// client, printers of Wine's PostScript driver that print into files, page metafiles, and checks
// of the PostScript that comes out.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SimLock.h"
#include "SimMessageSink.h"
#include "SimPrinters.h"
#include "SimRdpClient.h"
#include "UniqueHandle.h"

namespace quil::test {

using Bytes = std::vector<uint8_t>;

// Stands for the server: records every message the add-in writes, per channel.
class RecordingServer : public sim::SimMessageSink {
 public:
  RecordingServer();
  void Deliver(DWORD sessionId, const std::string& channelName, Bytes message) override;

  // Waits (up to 20 s) until `count` messages have arrived on the channel; false on timeout.
  bool WaitForMessages(const std::string& channelName, size_t count);
  std::vector<Bytes> Messages(const std::string& channelName);
  DWORD LastSessionId();

 private:
  sim::CriticalSection lock_;
  std::vector<std::pair<std::string, Bytes>> messages_;
  DWORD lastSessionId_ = 0;
  UniqueHandle arrived_;
};

// The add-in's DLL where the build put it.
std::wstring AddinPath();
// The add-in as this process has it loaded; null while it is not loaded.
HMODULE LoadedAddin();
// Waits (up to 20 s) until the add-in is unloaded; false on timeout.
bool WaitUntilAddinUnloaded();
// The folder of the test executable, with a trailing backslash.
std::wstring TestFolder();

// Printers of Wine's PostScript driver whose port is a file: what they print lands there. The
// driver, the printers' deletion and enumeration and the PostScript checks are the simulated
// platform's.
using sim::CountPostScriptPages;
using sim::DeletePrinterNamed;
using sim::EnumeratedPrinters;
using sim::InstallPostScriptDriver;
using sim::ReadFileText;
// (Re)creates the printer printing into the file of that name in the test folder's "out"
// folder; returns the file's path. The file is deleted first.
std::wstring AddFilePrinter(const std::wstring& name, const std::wstring& outputFileName);
void DeleteAllPrinters();
// Writes the user's default printer as the spooler keeps it ("" removes it).
void SetDefaultPrinterEntry(const std::wstring& name);

// One page as an enhanced metafile: shapes, text and colours that show a shifted, scaled or
// missing drawing. `variant` changes the picture; `frameWidth`/`frameHeight` in 0.01 mm.
Bytes MakePageMetafile(int variant, LONG frameWidth = 21590, LONG frameHeight = 27940);
// A page that is black along the top eighth of its picture and white elsewhere: where the band
// lands shows which way the page was printed.
Bytes MakeBandPageMetafile();
// A page with a line of text in the face, its font created and selected as an application does.
Bytes MakeTextPageMetafile(const std::wstring& face);
// A valid page carrying `extraBytes` of comment, which playback skips: a large message.
Bytes MakeLargePageMetafile(size_t extraBytes);

// The job's DEVMODEW public part with only the given fields set.
std::vector<uint8_t> JobDevMode(DWORD fields, short orientation);

bool FileExists(const std::wstring& path);

// The number of threads of this process.
size_t ThreadCount();
// Waits (up to 20 s) until the process has at most `count` threads.
bool WaitForThreadCount(size_t count);

}  // namespace quil::test

#include <gtest/gtest.h>

namespace quil::test {

inline constexpr DWORD kSessionId = 3;

// The real add-in hosted by the simulated client, with a recording server behind it.
class AddinTest : public ::testing::Test {
 protected:
  void LoadAndConnect() {
    ASSERT_TRUE(client_.LoadAddin(AddinPath()));
    client_.Connect();
  }
  // Sends a request and returns the next reply on that channel (empty if none came).
  Bytes Ask(const std::string& channel, const Bytes& request) {
    const size_t before = server_.Messages(channel).size();
    EXPECT_TRUE(client_.SendToClient(channel, request));
    if (!server_.WaitForMessages(channel, before + 1)) return {};
    return server_.Messages(channel)[before];
  }

  RecordingServer server_;
  sim::SimRdpClient client_{server_, kSessionId};
};

}  // namespace quil::test
