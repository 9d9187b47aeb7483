// The channel links: the server end of the simulated channels, read and written by the real
// server-side channel code, and the simulated client hosting the real add-in, joined only through
// two loopback TCP links; concurrent senders on one link; the link profiles' rate and delay and
// the hello that names a client's profile; and a receiver fed malformed frames.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>

#include "CQuilServerVirtChannel.h"
#include "ClientTestSupport.h"
#include "E2eLinkSocket.h"
#include "PrinterListMessages.h"
#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SimVirtualChannels.h"
#include "SpoolMessages.h"
#include "WaitUntil.h"
#include "WideText.h"

namespace quil::test {
namespace {

using sim::SimLinkEnd;
using sim::UniqueSocket;

const DWORD kWaitMs = WaitBound(10000);
constexpr uint32_t kFirst = sim::kChunkFirst;
constexpr uint32_t kLast = sim::kChunkLast;
// The owner of the server's channels: their disconnect events belong to this test alone.
constexpr wchar_t kOwner[] = L"QuillonLinkTest";

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  return bytes;
}

// One chunk as a receiver handed it on.
struct Chunk {
  DWORD sessionId;
  std::string channel;
  uint32_t totalLength;
  uint32_t flags;
  Bytes data;
  bool operator==(const Chunk&) const = default;
};

// The one chunk that carries a whole message of at most 1600 bytes.
Chunk WholeMessage(const std::string& channel, const Bytes& message) {
  return {kSessionId, channel, static_cast<uint32_t>(message.size()), kFirst | kLast, message};
}

// Seconds on the performance counter's clock.
double Seconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Records the chunks a receiver hands on, and when each arrived, from the receiver's thread.
class ChunkLog {
 public:
  void Add(DWORD sessionId, const std::string& channel, uint32_t totalLength, uint32_t flags,
           std::span<const uint8_t> data) {
    const double now = Seconds();
    sim::Guard hold(lock_);
    chunks_.push_back({sessionId, channel, totalLength, flags, Bytes(data.begin(), data.end())});
    arrivals_.push_back(now);
  }
  std::vector<Chunk> Chunks() {
    sim::Guard hold(lock_);
    return chunks_;
  }
  std::vector<double> Arrivals() {
    sim::Guard hold(lock_);
    return arrivals_;
  }

 private:
  sim::CriticalSection lock_;
  std::vector<Chunk> chunks_;
  std::vector<double> arrivals_;
};

// The two ends of one loopback connection.
struct Connection {
  UniqueSocket connected;
  UniqueSocket accepted;
};

Connection ConnectOnLoopback() {
  uint16_t port = 0;
  const UniqueSocket listener = sim::ListenOnLoopback(port);
  EXPECT_TRUE(listener);
  UniqueSocket connected = sim::ConnectToLoopback(port);
  UniqueSocket accepted = sim::AcceptConnection(listener.get(), kWaitMs);
  EXPECT_TRUE(connected);
  EXPECT_TRUE(accepted);
  return {std::move(connected), std::move(accepted)};
}

// The server end and the simulated client with the real add-in, each reaching the other only
// through a link of its own: what the server writes goes out through `serverToClient_` and comes
// in at `clientEnd_`, what the add-in writes goes out through `clientToServer_` and comes in at
// `serverEnd_`.
class LinkedEndsTest : public ::testing::Test {
 protected:
  LinkedEndsTest() {
    EXPECT_TRUE(winsock_.Started());
    channels_.Reset();
    channels_.SetClient(kSessionId, &serverToClient_);
  }
  ~LinkedEndsTest() override { channels_.SetClient(kSessionId, nullptr); }

  void LoadAndConnect() {
    ASSERT_TRUE(client_.LoadAddin(AddinPath()));
    client_.Connect();
  }

  // Waits until a chunk from the client is queued for the server's reads on the channel.
  bool WaitForChunk(const std::string& channelName) {
    const ULONGLONG deadline = GetTickCount64() + kWaitMs;
    while (channels_.UnreadChunks(kSessionId, channelName) == 0) {
      if (GetTickCount64() >= deadline) return false;
      Sleep(1);
    }
    return true;
  }

  // Reads the next message on the server's channel, once one has started to arrive.
  Bytes ReadOnServer(CQuilServerVirtChannel& channel, const std::string& channelName) {
    Bytes message;
    if (!WaitForChunk(channelName)) return message;
    EXPECT_TRUE(channel.Read(message));
    return message;
  }

  // Writes a request on the server's channel and reads the reply that comes back.
  Bytes Ask(CQuilServerVirtChannel& channel, const std::string& channelName, const Bytes& request) {
    EXPECT_TRUE(channel.Write(request.data(), static_cast<DWORD>(request.size())));
    return ReadOnServer(channel, channelName);
  }

  sim::SimVirtualChannels& channels_ = sim::SimVirtualChannels::Instance();
  sim::WinsockSession winsock_;
  Connection toClient_ = ConnectOnLoopback();
  Connection toServer_ = ConnectOnLoopback();
  sim::SimLinkSender serverToClient_{std::move(toClient_.connected)};
  sim::SimLinkSender clientToServer_{std::move(toServer_.connected)};
  sim::SimRdpClient client_{clientToServer_, kSessionId};
  ChunkLog toClientChunks_;
  ChunkLog toServerChunks_;
  sim::SimLinkReceiver clientEnd_{
      std::move(toClient_.accepted),
      [this](DWORD sessionId, const std::string& channelName, uint32_t totalLength, uint32_t flags,
             std::span<const uint8_t> data) {
        toClientChunks_.Add(sessionId, channelName, totalLength, flags, data);
        client_.SendChunk(channelName, data, totalLength, flags);
      }};
  sim::SimLinkReceiver serverEnd_{
      std::move(toServer_.accepted),
      [this](DWORD sessionId, const std::string& channelName, uint32_t totalLength, uint32_t flags,
             std::span<const uint8_t> data) {
        toServerChunks_.Add(sessionId, channelName, totalLength, flags, data);
        channels_.SendChunkToServer(sessionId, channelName, totalLength, flags, Bytes(data.begin(), data.end()));
      }};
};

TEST_F(LinkedEndsTest, PrinterListExchangeCrossesTheLinks) {
  InstallPostScriptDriver();
  AddFilePrinter(L"Quillon Link Laser", L"link-laser.ps");
  const auto expected = EnumeratedPrinters();
  ASSERT_FALSE(expected.empty());
  LoadAndConnect();
  CQuilServerVirtChannel printers(kOwner);
  ASSERT_TRUE(printers.Open(kSessionId, "QPrn"));
  CQuilServerVirtChannel spool(kOwner);
  ASSERT_TRUE(spool.Open(kSessionId, "QSpl"));

  std::vector<Bytes> replies{Ask(printers, "QPrn", BuildPrinterCountRequest())};
  ASSERT_EQ(ParsePrinterCountReply(replies[0]).value_or(0), expected.size());
  for (uint32_t index = 0; index < expected.size(); ++index) {
    replies.push_back(Ask(printers, "QPrn", BuildPrinterRequest(index)));
    const auto record = ParsePrinterRecord(replies.back());
    ASSERT_TRUE(record) << index;
    EXPECT_EQ(record->name, ToU16(expected[index]));
  }
  replies.push_back(Ask(spool, "QSpl", BuildJobEnd()));
  EXPECT_EQ(replies.back(), BuildJobEndAck());

  // Every message crossed unchanged as one frame, in its session and on its channel.
  std::vector<Chunk> toClient;
  for (const Bytes& request : channels_.Written(kSessionId, "QPrn")) toClient.push_back(WholeMessage("QPrn", request));
  for (const Bytes& request : channels_.Written(kSessionId, "QSpl")) toClient.push_back(WholeMessage("QSpl", request));
  EXPECT_EQ(toClientChunks_.Chunks(), toClient);
  std::vector<Chunk> toServer;
  for (size_t i = 0; i < replies.size(); ++i) {
    toServer.push_back(WholeMessage(i + 1 < replies.size() ? "QPrn" : "QSpl", replies[i]));
  }
  EXPECT_EQ(toServerChunks_.Chunks(), toServer);
  EXPECT_EQ(clientEnd_.WaitForEnd(0), SimLinkEnd::kRunning);
  EXPECT_EQ(serverEnd_.WaitForEnd(0), SimLinkEnd::kRunning);
}

// How a message of the given size crosses: the length and flags of each chunk.
struct Split {
  size_t size;
  std::vector<std::pair<size_t, uint32_t>> chunks;
};

const Split kSplits[] = {
    {1600, {{1600, kFirst | kLast}}},
    {1601, {{1600, kFirst}, {1, kLast}}},
    {4801, {{1600, kFirst}, {1600, 0}, {1600, 0}, {1, kLast}}},
};

// The chunks a message of `split.size` bytes crosses in, in order, with its total on each.
std::vector<Chunk> ExpectedChunks(const std::string& channel, const Bytes& message, const Split& split) {
  std::vector<Chunk> chunks;
  size_t start = 0;
  for (const auto& [length, flags] : split.chunks) {
    chunks.push_back({kSessionId, channel, static_cast<uint32_t>(message.size()), flags,
                      Bytes(message.begin() + start, message.begin() + start + length)});
    start += length;
  }
  return chunks;
}

std::vector<Chunk> ChunksFrom(const std::vector<Chunk>& chunks, size_t first) {
  return {chunks.begin() + static_cast<ptrdiff_t>(std::min(first, chunks.size())), chunks.end()};
}

TEST_F(LinkedEndsTest, MessagesOver1600BytesCrossInChunksEachWay) {
  LoadAndConnect();
  CQuilServerVirtChannel printers(kOwner);
  ASSERT_TRUE(printers.Open(kSessionId, "QPrn"));
  CQuilServerVirtChannel spool(kOwner);
  ASSERT_TRUE(spool.Open(kSessionId, "QSpl"));
  for (const Split& split : kSplits) {
    SCOPED_TRACE(split.size);
    // To the add-in: a count request padded out, which it joins and answers once.
    Bytes request = Pattern(split.size, 1);
    const Bytes code = BuildPrinterCountRequest();
    std::copy(code.begin(), code.end(), request.begin());
    const size_t toClientBefore = toClientChunks_.Chunks().size();
    const size_t toServerBefore = toServerChunks_.Chunks().size();
    const Bytes reply = Ask(printers, "QPrn", request);
    EXPECT_TRUE(ParsePrinterCountReply(reply));
    EXPECT_EQ(ChunksFrom(toClientChunks_.Chunks(), toClientBefore), ExpectedChunks("QPrn", request, split));
    EXPECT_EQ(ChunksFrom(toServerChunks_.Chunks(), toServerBefore), std::vector{WholeMessage("QPrn", reply)});

    // To the server: a message of the client's sink, which the server's own reads join.
    const Bytes message = Pattern(split.size, 2);
    const size_t before = toServerChunks_.Chunks().size();
    clientToServer_.Deliver(kSessionId, "QSpl", message);
    EXPECT_EQ(ReadOnServer(spool, "QSpl"), message);
    EXPECT_EQ(ChunksFrom(toServerChunks_.Chunks(), before), ExpectedChunks("QSpl", message, split));
  }
}

// Several threads delivering to one sender at once.
struct Deliveries {
  sim::SimLinkSender* sender;
  HANDLE start;
  uint8_t thread;
};
constexpr uint8_t kThreads = 4;
constexpr uint8_t kMessagesPerThread = 10;
constexpr size_t kMessageSize = 4000;  // three chunks

Bytes ThreadMessage(uint8_t thread, uint8_t index) {
  return Pattern(kMessageSize, static_cast<uint8_t>(thread * kMessagesPerThread + index));
}

DWORD WINAPI DeliverMessages(LPVOID parameter) {
  const auto* deliveries = static_cast<const Deliveries*>(parameter);
  WaitForSingleObject(deliveries->start, INFINITE);
  for (uint8_t index = 0; index < kMessagesPerThread; ++index) {
    deliveries->sender->Deliver(kSessionId, index % 2 ? "QSpl" : "QPrn", ThreadMessage(deliveries->thread, index));
  }
  return 0;
}

TEST(ChannelLinkTest, ConcurrentMessagesKeepTheirFramesTogetherAndUnknownChannelsAreNotSent) {
  const sim::WinsockSession winsock;
  ASSERT_TRUE(winsock.Started());
  Connection connection = ConnectOnLoopback();
  ChunkLog log;
  sim::SimLinkReceiver receiver(std::move(connection.accepted),
                                [&log](DWORD sessionId, const std::string& channelName, uint32_t totalLength,
                                       uint32_t flags, std::span<const uint8_t> data) {
                                  log.Add(sessionId, channelName, totalLength, flags, data);
                                });
  {
    sim::SimLinkSender sender(std::move(connection.connected));
    sender.Deliver(kSessionId, "QXyz", Bytes(4, 1));
    sender.Deliver(kSessionId, "QPrnX", Bytes(4, 1));
    UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::vector<Deliveries> deliveries;
    for (uint8_t thread = 0; thread < kThreads; ++thread) deliveries.push_back({&sender, start.get(), thread});
    std::vector<UniqueHandle> threads;
    for (auto& delivery : deliveries) {
      threads.emplace_back(CreateThread(nullptr, 0, &DeliverMessages, &delivery, 0, nullptr));
      ASSERT_TRUE(threads.back());
    }
    SetEvent(start.get());
    for (const auto& thread : threads) ASSERT_EQ(WaitForSingleObject(thread.get(), kWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(sender.DroppedMessages(), 2u);
  }
  // The sender closed its end after its last frame; a frame of an unknown channel would have
  // ended the link otherwise.
  ASSERT_EQ(receiver.WaitForEnd(kWaitMs), SimLinkEnd::kClosed);

  // Each message's chunks follow one another, FIRST to LAST, with one channel and total.
  std::vector<std::pair<std::string, Bytes>> joined;
  bool inMessage = false;
  for (const Chunk& chunk : log.Chunks()) {
    ASSERT_EQ(chunk.sessionId, kSessionId);
    ASSERT_EQ(chunk.totalLength, kMessageSize);
    ASSERT_EQ(inMessage, (chunk.flags & kFirst) == 0) << "a message began inside another";
    if (chunk.flags & kFirst) {
      joined.emplace_back(chunk.channel, Bytes{});
    } else {
      ASSERT_EQ(chunk.channel, joined.back().first);
    }
    joined.back().second.insert(joined.back().second.end(), chunk.data.begin(), chunk.data.end());
    inMessage = (chunk.flags & kLast) == 0;
  }
  EXPECT_FALSE(inMessage);
  std::vector<std::pair<std::string, Bytes>> sent;
  for (uint8_t thread = 0; thread < kThreads; ++thread) {
    for (uint8_t index = 0; index < kMessagesPerThread; ++index) {
      sent.emplace_back(index % 2 ? "QSpl" : "QPrn", ThreadMessage(thread, index));
    }
  }
  std::sort(joined.begin(), joined.end());
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(joined, sent);
}

TEST(ChannelLinkTest, SenderWaitsWhileTheConnectionIsFull) {
  const sim::WinsockSession winsock;
  ASSERT_TRUE(winsock.Started());
  Connection connection = ConnectOnLoopback();
  // A socket that a receiver shares, as one connection carrying both directions does, is
  // non-blocking: a full connection makes a send fail with WSAEWOULDBLOCK rather than wait.
  u_long nonBlocking = 1;
  ASSERT_EQ(ioctlsocket(connection.connected.get(), FIONBIO, &nonBlocking), 0);
  ChunkLog log;
  bool first = true;
  sim::SimLinkReceiver receiver(std::move(connection.accepted),
                                [&](DWORD sessionId, const std::string& channelName, uint32_t totalLength,
                                    uint32_t flags, std::span<const uint8_t> data) {
                                  // A slow reader at first: the connection fills up meanwhile.
                                  if (std::exchange(first, false)) Sleep(500);
                                  log.Add(sessionId, channelName, totalLength, flags, data);
                                });
  const Bytes message = Pattern(8 << 20, 3);
  {
    sim::SimLinkSender sender(std::move(connection.connected));
    sender.Deliver(kSessionId, "QSpl", message);
    EXPECT_EQ(sender.DroppedMessages(), 0u);
  }
  ASSERT_EQ(receiver.WaitForEnd(kWaitMs), SimLinkEnd::kClosed);
  const auto chunks = log.Chunks();
  ASSERT_EQ(chunks.size(), (message.size() + 1599) / 1600);
  Bytes joined;
  for (size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_EQ(chunks[i].flags, (i == 0 ? kFirst : 0) | (i + 1 == chunks.size() ? kLast : 0)) << i;
    EXPECT_EQ(chunks[i].totalLength, message.size());
    joined.insert(joined.end(), chunks[i].data.begin(), chunks[i].data.end());
  }
  EXPECT_EQ(joined, message);
}

// The bytes a message takes on a link: per chunk a frame header and the chunk's data.
uint64_t FrameBytes(size_t messageSize) {
  const size_t chunks = std::max<size_t>(1, (messageSize + sim::kChunkDataSize - 1) / sim::kChunkDataSize);
  return messageSize + chunks * sim::SimLinkFrameLayout::kHeaderSize;
}

// The messages of a chunk log, joined in arrival order.
std::vector<Bytes> JoinedMessages(const std::vector<Chunk>& chunks) {
  std::vector<Bytes> messages;
  for (const Chunk& chunk : chunks) {
    if (chunk.flags & kFirst) messages.emplace_back();
    if (messages.empty()) break;
    messages.back().insert(messages.back().end(), chunk.data.begin(), chunk.data.end());
  }
  return messages;
}

// A profile and a transfer over it of about a second: `messages` messages of about
// `messageSize` bytes each, one after another on one channel.
struct ShapedTransfer {
  const char* profile;
  size_t messageSize;
  size_t messages;
};

const ShapedTransfer kShapedTransfers[] = {
    {"wan", 30011, 8},     // 2 Mbit/s: 243 KB of frames
    {"lan", 1000003, 12},  // 100 Mbit/s: 12.2 MB of frames
};

// Seconds allowed beyond the expected time for a busy machine's scheduling: a few percent and a
// small constant.
double Allowance(double expected) { return expected * 0.03 + 0.1; }

TEST(ChannelLinkTest, ShapedLinkDeliversAtTheProfilesRateAfterItsDelay) {
  const sim::WinsockSession winsock;
  ASSERT_TRUE(winsock.Started());
  for (const ShapedTransfer& transfer : kShapedTransfers) {
    SCOPED_TRACE(transfer.profile);
    const auto shape = sim::LinkProfile(transfer.profile);
    ASSERT_TRUE(shape && shape->Shaped());
    const double rate = static_cast<double>(shape->bytesPerSecond);
    const double delay = shape->delayMs / 1000.0;
    Connection connection = ConnectOnLoopback();
    ChunkLog log;
    sim::SimLinkReceiver receiver(std::move(connection.accepted),
                                  [&log](DWORD sessionId, const std::string& channelName, uint32_t totalLength,
                                         uint32_t flags, std::span<const uint8_t> data) {
                                    log.Add(sessionId, channelName, totalLength, flags, data);
                                  });
    std::optional<sim::SimLinkSender> sender(std::in_place, std::move(connection.connected), *shape);

    // One small message on the idle link arrives after the delay.
    const Bytes small = Pattern(1, 5);
    const double smallSent = Seconds();
    sender->Deliver(kSessionId, "QSpl", small);
    ASSERT_TRUE(WaitUntil([&] { return !log.Chunks().empty(); }, kWaitMs));
    const double smallTook = log.Arrivals()[0] - smallSent;
    EXPECT_GE(smallTook, delay);
    EXPECT_LE(smallTook, delay + Allowance(delay));
    // The sender counts the bytes once the socket took them, which may be just after they arrive.
    EXPECT_TRUE(WaitUntil([&] { return sender->SentBytes() == FrameBytes(small.size()); }, kWaitMs));

    // A transfer of about a second takes its bytes at the rate, plus the delay, less what the
    // token bucket let through at once after the idle time; each delivery waits while the send
    // buffer is full. Closing the sender still delivers what it took.
    std::vector<Bytes> messages{small};
    uint64_t bytes = 0;
    for (size_t i = 0; i < transfer.messages; ++i) {
      messages.push_back(Pattern(transfer.messageSize + i, static_cast<uint8_t>(i)));
      bytes += FrameBytes(messages.back().size());
    }
    const double start = Seconds();
    for (size_t i = 1; i < messages.size(); ++i) sender->Deliver(kSessionId, "QSpl", messages[i]);
    const double returned = Seconds() - start;
    sender.reset();
    ASSERT_EQ(receiver.WaitForEnd(kWaitMs), SimLinkEnd::kClosed);

    EXPECT_EQ(JoinedMessages(log.Chunks()), messages) << "the messages arrived changed or out of order";
    EXPECT_EQ(receiver.ReceivedBytes(), FrameBytes(small.size()) + bytes);
    const double burst = sim::SimLinkShaper::kBurstSeconds;
    const double expected = static_cast<double>(bytes) / rate - burst + delay;
    const double took = log.Arrivals().back() - start;
    std::printf("%s: %.0f bytes of frames in %.3f s, expected %.3f s (%+.1f%%); the last delivery returned after "
                "%.3f s\n",
                transfer.profile, static_cast<double>(bytes), took, expected, 100 * (took / expected - 1), returned);
    EXPECT_GE(took, expected);
    EXPECT_LE(took, expected + Allowance(expected));
    const double buffered = static_cast<double>(sim::SimLinkShaper::kSendBuffer) / rate;
    EXPECT_GE(returned, static_cast<double>(bytes) / rate - burst - buffered);
  }
}

// A client's hello as the server end reads it from a new connection.
std::optional<sim::ClientHello> HelloAfter(const std::function<UniqueSocket(uint16_t port)>& connect) {
  uint16_t port = 0;
  const UniqueSocket listener = sim::ListenOnLoopback(port);
  const UniqueSocket client = connect(port);
  const UniqueSocket accepted = sim::AcceptConnection(listener.get(), kWaitMs);
  EXPECT_TRUE(client && accepted);
  return accepted ? sim::ReceiveClientHello(accepted.get(), 1000) : std::nullopt;
}

// Sends the bytes on a new connection to the port, then closes the sending side.
UniqueSocket SendRaw(uint16_t port, const Bytes& bytes) {
  UniqueSocket connection = sim::ConnectToLoopback(port);
  EXPECT_TRUE(connection && sim::SendAll(connection.get(), bytes));
  shutdown(connection.get(), SD_SEND);
  return connection;
}

Bytes RawHello(uint8_t nameSize, const std::string& name) {
  Bytes bytes{7, 0, 0, 0, nameSize};
  bytes.insert(bytes.end(), name.begin(), name.end());
  return bytes;
}

TEST(ChannelLinkTest, ClientHelloNamesTheSessionAndTheLinkProfile) {
  const sim::WinsockSession winsock;
  ASSERT_TRUE(winsock.Started());
  for (const std::string profile : {"", "none", "wan", "lan"}) {
    SCOPED_TRACE(profile);
    const auto hello = HelloAfter([&](uint16_t port) { return sim::ConnectClientLink(port, 0x01020304, profile); });
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->sessionId, 0x01020304u);
    EXPECT_EQ(hello->linkProfile, profile);
    EXPECT_EQ(hello->shape, sim::LinkProfile(profile));
  }
  const std::pair<const char*, Bytes> kRefused[] = {
      {"an unknown profile", RawHello(3, "xyz")},
      {"a profile of 17 characters", RawHello(17, std::string(17, 'w'))},
      {"a name cut short", RawHello(3, "wa")},
      {"a session id cut short", Bytes{7, 0}},
  };
  for (const auto& [name, bytes] : kRefused) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(HelloAfter([&](uint16_t port) { return SendRaw(port, bytes); }));
  }
}

Bytes Frame(const sim::SimLinkFrameHeader& header, const Bytes& data) {
  const auto headerBytes = sim::EncodeFrameHeader(header);
  Bytes frame(headerBytes.begin(), headerBytes.end());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

Bytes Concat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

constexpr sim::SimLinkChannelName kQPrn{'Q', 'P', 'r', 'n'};
const Bytes kValid = Frame({kSessionId, kQPrn, 4, kFirst | kLast, 4}, Bytes(4, 9));

struct MalformedCase {
  const char* name;
  Bytes bytes;
  bool peerCloses;  // after sending the bytes; otherwise the connection stays open
  SimLinkEnd end;
  size_t chunksHandedOn;
};

const MalformedCase kMalformed[] = {
    {"a well-formed frame, then the end", kValid, true, SimLinkEnd::kClosed, 1},
    {"1601 data bytes", Frame({kSessionId, kQPrn, 1601, kFirst, 1601}, Bytes(1601, 9)), false,
     SimLinkEnd::kOversizedChunk, 0},
    {"4 GiB of data announced", Frame({kSessionId, kQPrn, 0xFFFFFFFF, kFirst, 0xFFFFFFFF}, {}), false,
     SimLinkEnd::kOversizedChunk, 0},
    {"a well-formed frame, then 1601 data bytes",
     Concat(kValid, Frame({kSessionId, kQPrn, 1601, kFirst, 1601}, Bytes(1601, 9))), false,
     SimLinkEnd::kOversizedChunk, 1},
    {"channel QXyz", Frame({kSessionId, {'Q', 'X', 'y', 'z'}, 4, kFirst | kLast, 4}, Bytes(4, 9)), false,
     SimLinkEnd::kUnknownChannel, 0},
    {"channel QPr and a NUL", Frame({kSessionId, {'Q', 'P', 'r', '\0'}, 4, kFirst | kLast, 4}, Bytes(4, 9)),
     false, SimLinkEnd::kUnknownChannel, 0},
    {"flag 0x10", Frame({kSessionId, kQPrn, 4, kFirst | kLast | 0x10, 4}, Bytes(4, 9)), false,
     SimLinkEnd::kUnknownFlags, 0},
    {"8 data bytes of a 4-byte message", Frame({kSessionId, kQPrn, 4, kFirst | kLast, 8}, Bytes(8, 9)), false,
     SimLinkEnd::kDataBeyondTotal, 0},
    {"a header cut short", Bytes(kValid.begin(), kValid.begin() + 10), true, SimLinkEnd::kTruncatedFrame, 0},
    {"data cut short", Frame({kSessionId, kQPrn, 100, kFirst | kLast, 100}, Bytes(40, 9)), true,
     SimLinkEnd::kTruncatedFrame, 0},
};

TEST(ChannelLinkTest, ReceiverRefusesMalformedFramesAndReportsTheEnd) {
  const sim::WinsockSession winsock;
  ASSERT_TRUE(winsock.Started());
  for (const MalformedCase& malformed : kMalformed) {
    SCOPED_TRACE(malformed.name);
    Connection connection = ConnectOnLoopback();
    ChunkLog log;
    sim::SimLinkReceiver receiver(std::move(connection.accepted),
                                  [&log](DWORD sessionId, const std::string& channelName, uint32_t totalLength,
                                         uint32_t flags, std::span<const uint8_t> data) {
                                    log.Add(sessionId, channelName, totalLength, flags, data);
                                  });
    ASSERT_TRUE(sim::SendAll(connection.connected.get(), malformed.bytes));
    if (malformed.peerCloses) connection.connected.reset();
    EXPECT_EQ(receiver.WaitForEnd(kWaitMs), malformed.end);
    const auto chunks = log.Chunks();
    ASSERT_EQ(chunks.size(), malformed.chunksHandedOn);
    if (!chunks.empty()) {
      EXPECT_EQ(chunks[0], (Chunk{kSessionId, "QPrn", 4, kFirst | kLast, Bytes(4, 9)}));
    }
  }
}

}  // namespace
}  // namespace quil::test
