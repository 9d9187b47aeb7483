// The channel layer of the real add-in, hosted by the simulated remote-desktop client: entry,
// registration, connection events, reassembly and the blocking write.
#include <array>
#include <utility>

#include "AddinThreadGate.h"
#include "ClientTestSupport.h"
#include "PrinterListMessages.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "WaitUntil.h"

namespace quil::test {
namespace {

class ChannelTest : public AddinTest {};

TEST_F(ChannelTest, ExportsItsEntryPointsUndecorated) {
  UniqueModule addin(LoadLibraryW(AddinPath().c_str()));
  ASSERT_TRUE(addin);
  for (const char* name :
       {"VirtualChannelEntry", "Install", "Uninstall", "InstallForEveryUser", "UninstallForEveryUser"}) {
    EXPECT_NE(GetProcAddress(addin.get(), name), nullptr) << name;
  }
  EXPECT_EQ(GetProcAddress(addin.get(), "VirtualChannelEntry@4"), nullptr);
}

TEST_F(ChannelTest, ASecondClientInTheSameProcessIsRefusedAndTheFirstKeepsItsChannels) {
  LoadAndConnect();
  RecordingServer otherServer;
  sim::SimRdpClient other(otherServer, kSessionId + 1);
  EXPECT_FALSE(other.LoadAddin(AddinPath()));
  EXPECT_TRUE(other.Registrations().empty());
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()).size(), PrinterCountReplyLayout::kSize);
  EXPECT_EQ(Ask("QSpl", BuildJobEnd()), BuildJobEndAck());
}

TEST_F(ChannelTest, RegistersBothChannelsEachUnderItsOwnInitCall) {
  ASSERT_TRUE(client_.LoadAddin(AddinPath()));
  const auto registrations = client_.Registrations();
  ASSERT_EQ(registrations.size(), 2u);
  EXPECT_EQ(registrations[0].name, "QPrn");
  EXPECT_EQ(registrations[1].name, "QSpl");
  for (const auto& registration : registrations) {
    EXPECT_EQ(registration.options, ULONG{CHANNEL_OPTION_SHOW_PROTOCOL});
    EXPECT_EQ(registration.version, ULONG{VIRTUAL_CHANNEL_VERSION_WIN2000});
  }
}

TEST_F(ChannelTest, RefusesEntryPointsTooShortToCall) {
  UniqueModule addin(LoadLibraryW(AddinPath().c_str()));
  ASSERT_TRUE(addin);
  auto entry = reinterpret_cast<PVIRTUALCHANNELENTRY>(
      reinterpret_cast<void*>(GetProcAddress(addin.get(), "VirtualChannelEntry")));
  ASSERT_NE(entry, nullptr);
  CHANNEL_ENTRY_POINTS shortTable{};
  shortTable.cbSize = 8;
  EXPECT_FALSE(entry(&shortTable));
}

TEST_F(ChannelTest, FirstConnectionLetsBothHandlersReply) {
  LoadAndConnect();
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()).size(), PrinterCountReplyLayout::kSize);
  EXPECT_EQ(Ask("QSpl", BuildJobEnd()), BuildJobEndAck());
  EXPECT_EQ(server_.LastSessionId(), kSessionId);
}

TEST_F(ChannelTest, ReconnectionOpensNewHandlesAndKeepsAnswering) {
  LoadAndConnect();
  const DWORD first = client_.OpenHandleOf("QPrn");
  client_.Disconnect();
  EXPECT_EQ(client_.OpenHandleOf("QPrn"), 0u);
  client_.Connect();
  EXPECT_NE(client_.OpenHandleOf("QPrn"), 0u);
  EXPECT_NE(client_.OpenHandleOf("QPrn"), first);
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()).size(), PrinterCountReplyLayout::kSize);
  EXPECT_EQ(Ask("QSpl", BuildJobEnd()), BuildJobEndAck());
}

TEST_F(ChannelTest, MessageOfManyChunksIsAnsweredOnce) {
  LoadAndConnect();
  // A count request padded over several chunks; the count reply does not depend on the length.
  Bytes request = BuildPrinterCountRequest();
  request.resize(3 * sim::SimRdpClient::kChunkSize + 1, 0xAB);
  EXPECT_EQ(Ask("QPrn", request).size(), PrinterCountReplyLayout::kSize);
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()).size(), PrinterCountReplyLayout::kSize);
  EXPECT_EQ(server_.Messages("QPrn").size(), 2u);
}

TEST_F(ChannelTest, OpenEventForUnknownHandleDoesNothing) {
  LoadAndConnect();
  const Bytes request = BuildPrinterCountRequest();
  client_.SendChunkToHandle(0x7777, request, 4, CHANNEL_FLAG_FIRST | CHANNEL_FLAG_LAST);
  client_.SendChunkToHandle(0, request, 4, CHANNEL_FLAG_FIRST | CHANNEL_FLAG_LAST);
  EXPECT_EQ(Ask("QPrn", request).size(), PrinterCountReplyLayout::kSize);
  EXPECT_EQ(server_.Messages("QPrn").size(), 1u);
}

TEST_F(ChannelTest, RefusesChunksOutsideAMessageAndKeepsWorking) {
  LoadAndConnect();
  const Bytes request = BuildPrinterCountRequest();
  // A last chunk before any first one.
  ASSERT_TRUE(client_.SendChunk("QPrn", request, 4, CHANNEL_FLAG_LAST));
  // A message whose second chunk runs past the total its first chunk announced.
  const Bytes half(request.begin(), request.begin() + 2);
  ASSERT_TRUE(client_.SendChunk("QPrn", half, 4, CHANNEL_FLAG_FIRST));
  ASSERT_TRUE(client_.SendChunk("QPrn", Bytes(8, 0), 4, CHANNEL_FLAG_LAST));
  // A middle chunk after the refusal, then a first chunk announcing nothing.
  ASSERT_TRUE(client_.SendChunk("QPrn", request, 4, 0));
  ASSERT_TRUE(client_.SendChunk("QPrn", {}, 0, CHANNEL_FLAG_FIRST | CHANNEL_FLAG_LAST));
  EXPECT_EQ(Ask("QPrn", request), BuildPrinterCountReply(static_cast<uint32_t>(
                                      EnumeratedPrinters().size())));
  EXPECT_EQ(server_.Messages("QPrn").size(), 1u);
}

TEST_F(ChannelTest, NewFirstChunkRestartsAnUnfinishedMessage) {
  LoadAndConnect();
  const Bytes request = BuildPrinterCountRequest();
  ASSERT_TRUE(client_.SendChunk("QPrn", Bytes{9, 9}, 4, CHANNEL_FLAG_FIRST));
  EXPECT_EQ(Ask("QPrn", request).size(), PrinterCountReplyLayout::kSize);
}

TEST_F(ChannelTest, WithoutAWorkerEachMessageGetsTheAnswerAWorkerGives) {
  InstallPostScriptDriver();
  AddFilePrinter(L"Quillon Channel Printer", L"channel.ps");
  LoadAndConnect();
  const Bytes devMode = JobDevMode(0, 0);
  const Bytes jobStart =
      BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize>(devMode.data(),
                                                                           devMode.size()),
                    u"Quillon No Such Printer", u"doc");
  const std::pair<std::string, Bytes> messages[] = {
      {"QPrn", BuildPrinterCountRequest()}, {"QPrn", BuildPrinterRequest(0)},
      {"QSpl", jobStart},                   {"QSpl", BuildPage(Bytes(3, 0))},
      {"QSpl", BuildPageSettings(DevModeBlock{})}, {"QSpl", BuildJobEnd()}};
  const size_t threads = ThreadCount();
  for (const auto& [channel, message] : messages) {
    const Bytes byWorker = Ask(channel, message);
    ASSERT_FALSE(byWorker.empty()) << channel << " code " << int{message[0]};
    // The spool channel's worker stays a moment for the next message; the gate needs it gone.
    ASSERT_TRUE(WaitForThreadCount(threads));
    AddinThreadGate gate;
    ASSERT_TRUE(gate.Close(LoadedAddin(), AddinThreadGate::Mode::kRefuse));
    ASSERT_EQ(Ask(channel, message), byWorker) << channel << " code " << int{message[0]};
    EXPECT_GT(gate.RefusedThreads(), 0u);
  }
}

TEST_F(ChannelTest, CancelledWriteEndsTheWorkerAndLaterWritesGoThrough) {
  LoadAndConnect();
  const size_t threads = ThreadCount();
  client_.SetWriteOutcome(sim::SimRdpClient::WriteOutcome::kCancel);
  ASSERT_TRUE(client_.SendToClient("QPrn", BuildPrinterCountRequest()));
  EXPECT_TRUE(WaitForThreadCount(threads));
  EXPECT_EQ(client_.AcceptedWrites(), 1u);
  EXPECT_TRUE(server_.Messages("QPrn").empty());
  client_.SetWriteOutcome(sim::SimRdpClient::WriteOutcome::kComplete);
  EXPECT_EQ(Ask("QPrn", BuildPrinterCountRequest()).size(), PrinterCountReplyLayout::kSize);
}

TEST_F(ChannelTest, WriteOnAClosedChannelIsRefusedWithoutWaiting) {
  LoadAndConnect();
  const DWORD handle = client_.OpenHandleOf("QPrn");
  client_.Disconnect();
  const size_t threads = ThreadCount();
  // A request that was on its way when the connection dropped: the reply finds the channel closed.
  const Bytes request = BuildPrinterCountRequest();
  client_.SendChunkToHandle(handle, request, 4, CHANNEL_FLAG_FIRST | CHANNEL_FLAG_LAST);
  EXPECT_TRUE(WaitForThreadCount(threads));
  EXPECT_EQ(client_.RefusedWrites(), 1u);
  EXPECT_TRUE(server_.Messages("QPrn").empty());
}

TEST_F(ChannelTest, TerminationWakesAWriterWaitingForTheClient) {
  LoadAndConnect();
  const size_t threads = ThreadCount();
  client_.SetWriteOutcome(sim::SimRdpClient::WriteOutcome::kHold);
  ASSERT_TRUE(client_.SendToClient("QSpl", BuildJobEnd()));
  ASSERT_TRUE(WaitUntil([&] { return client_.AcceptedWrites() != 0; }, WaitBound(20000)));
  ASSERT_EQ(client_.AcceptedWrites(), 1u);
  EXPECT_GT(ThreadCount(), threads);
  client_.Terminate();
  EXPECT_TRUE(WaitForThreadCount(threads));
}

}  // namespace
}  // namespace quil::test
