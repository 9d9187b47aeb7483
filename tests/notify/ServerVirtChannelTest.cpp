// The server end of a virtual channel against the simulated channels.
#include "CQuilServerVirtChannel.h"

#include <gmock/gmock.h>

#include "NotifyTestSupport.h"
#include "ShortAnswerWait.h"
#include "SimLock.h"
#include "SquattedObjects.h"
#include "TestLogFile.h"

namespace quil::test {
namespace {

constexpr DWORD kSession = 3;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

// A client end that only records what reached it.
class RecordingClient : public sim::SimMessageSink {
 public:
  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override {
    sim::Guard guard(lock_);
    deliveries_.push_back({sessionId, channelName, std::move(message)});
  }
  struct Delivery {
    DWORD sessionId;
    std::string channelName;
    std::vector<uint8_t> message;
  };
  std::vector<Delivery> Deliveries() {
    sim::Guard guard(lock_);
    return deliveries_;
  }

 private:
  sim::CriticalSection lock_;
  std::vector<Delivery> deliveries_;
};

class ServerVirtChannelTest : public NotifyTest {
 protected:
  void SetUp() override {
    NotifyTest::SetUp();
    channels_.SetClient(kSession, &client_);
  }
  RecordingClient client_;
};

struct ReadResult {
  CQuilServerVirtChannel* channel;
  bool succeeded = false;
  std::vector<uint8_t> message;
};

DWORD WINAPI ReadOnThread(LPVOID parameter) {
  auto* result = static_cast<ReadResult*>(parameter);
  result->succeeded = result->channel->Read(result->message);
  return 0;
}

TEST_F(ServerVirtChannelTest, WriteHandsTheWholeMessageToTheSessionsClient) {
  CQuilServerVirtChannel channel(L"QuillonNotify");
  ASSERT_TRUE(channel.Open(kSession, "QPrn"));
  const auto message = Pattern(5000);
  EXPECT_TRUE(channel.Write(message.data(), static_cast<DWORD>(message.size())));
  const auto deliveries = client_.Deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].sessionId, kSession);
  EXPECT_EQ(deliveries[0].channelName, "QPrn");
  EXPECT_EQ(deliveries[0].message, message);
  EXPECT_TRUE(channel.Close());
}

TEST_F(ServerVirtChannelTest, ReadsAOneChunkMessageWithItsExactLength) {
  CQuilServerVirtChannel channel(L"QuillonNotify");
  ASSERT_TRUE(channel.Open(kSession, "QPrn"));
  for (const size_t size : {1u, 12u, 1600u}) {
    ASSERT_TRUE(channels_.SendToServer(kSession, "QPrn", Pattern(size)));
    std::vector<uint8_t> message;
    ASSERT_TRUE(channel.Read(message)) << size;
    EXPECT_EQ(message, Pattern(size));
  }
}

TEST_F(ServerVirtChannelTest, JoinsAMessageOfFourChunks) {
  CQuilServerVirtChannel channel(L"QuillonNotify");
  ASSERT_TRUE(channel.Open(kSession, "QSpl"));
  const auto sent = Pattern(5000);
  // 1600 + 1600 + 1600 + 200 bytes, as the platform splits them.
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QSpl", 5000, 0x1, {sent.begin(), sent.begin() + 1600}));
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QSpl", 5000, 0x0, {sent.begin() + 1600, sent.begin() + 3200}));
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QSpl", 5000, 0x0, {sent.begin() + 3200, sent.begin() + 4800}));
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QSpl", 5000, 0x2, {sent.begin() + 4800, sent.end()}));
  std::vector<uint8_t> message;
  ASSERT_TRUE(channel.Read(message));
  EXPECT_EQ(message, sent);

  ASSERT_TRUE(channels_.SendToServer(kSession, "QSpl", Pattern(3201)));
  ASSERT_TRUE(channel.Read(message)) << "the next message starts afresh";
  EXPECT_EQ(message, Pattern(3201));
}

TEST_F(ServerVirtChannelTest, RefusesMalformedChunks) {
  CQuilServerVirtChannel channel(L"QuillonNotify");
  ASSERT_TRUE(channel.Open(kSession, "QPrn"));
  std::vector<uint8_t> message{1, 2, 3};

  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QPrn", 0, 0x3, {}));
  EXPECT_FALSE(channel.Read(message)) << "a first chunk announcing 0 bytes";
  EXPECT_TRUE(message.empty());

  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QPrn", 10, 0x1, Pattern(8)));
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QPrn", 10, 0x2, Pattern(8)));
  EXPECT_FALSE(channel.Read(message)) << "more data than announced";

  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QPrn", 1700, 0x3, Pattern(1600)));
  EXPECT_FALSE(channel.Read(message)) << "a last chunk short of the total";
  EXPECT_TRUE(message.empty());

  // No reply of the client comes near 64 KiB; a larger announcement is not allocated at all.
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QPrn", 0x7FFFFFFF, 0x1, Pattern(1600)));
  EXPECT_FALSE(channel.Read(message)) << "a message announcing 2 GiB";
  ASSERT_TRUE(channels_.SendChunkToServer(kSession, "QPrn", 8, 0x3, Pattern(8)));
  EXPECT_TRUE(channel.Read(message)) << "the next well-formed reply still arrives";
  EXPECT_EQ(message, Pattern(8));
}

// The owner's thread alone closes the channel: a disconnect, or the owner's release event, only
// ends the waiting read, and every later call fails without reaching the channel or the client.
TEST_F(ServerVirtChannelTest, DisconnectOrReleaseEndsABlockedReadAndLaterCallsFailWithoutTouchingTheChannel) {
  const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const UniqueHandle disconnect = NamedEvent(L"Global\\QuillonNotify-3-Disconnect");
  const struct {
    HANDLE signal;
    const char* log;
  } cases[] = {{disconnect.get(), "CQuilServerVirtChannel::CheckDisconnect - disconnected"},
               {release.get(), "CQuilServerVirtChannel::CheckDisconnect - released"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    const size_t closesBefore = channels_.Closes();
    CQuilServerVirtChannel channel(L"QuillonNotify", release.get());
    ASSERT_TRUE(channel.Open(kSession, "QPrn"));
    ReadResult result{&channel, true, {}};
    UniqueHandle reader(CreateThread(nullptr, 0, ReadOnThread, &result, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return channels_.BlockedReads() == 1; }));

    ASSERT_TRUE(SetEvent(c.signal));
    ASSERT_EQ(WaitForSingleObject(reader.get(), WaitBound(10000)), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(channels_.Closes(), closesBefore) << "only the owner closes the channel";
    ASSERT_TRUE(channels_.SendToServer(kSession, "QPrn", Pattern(4)));
    std::vector<uint8_t> message;
    EXPECT_FALSE(channel.Read(message)) << "an answer after the disconnect is not taken";
    EXPECT_FALSE(channel.Write("x", 1));
    EXPECT_TRUE(client_.Deliveries().empty());
    EXPECT_EQ(channels_.UnreadChunks(kSession, "QPrn"), 1u);

    EXPECT_TRUE(channel.Close());
    EXPECT_EQ(channels_.Closes(), closesBefore + 1);
    EXPECT_EQ(TestLogFile::CountMessage(c.log), 1u);
  }
}

// A lost answer ends the read after the bound, as a disconnect does.
TEST_F(ServerVirtChannelTest, AnswerThatDoesNotComeWithinTheBoundEndsTheReadAndLaterCallsFail) {
  ShortAnswerWait shortWait(300);
  CQuilServerVirtChannel channel(L"QuillonPort");
  ASSERT_TRUE(channel.Open(kSession, "QSpl"));
  ReadResult result{&channel, true, {}};
  UniqueHandle reader(CreateThread(nullptr, 0, ReadOnThread, &result, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(reader.get(), WaitBound(10000)), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(result.succeeded);
  EXPECT_EQ(TestLogFile::CountMessage("CQuilServerVirtChannel::Read - no answer within 300 ms"), 1u);
  EXPECT_FALSE(channel.Write("x", 1));
  EXPECT_TRUE(client_.Deliveries().empty());
  EXPECT_EQ(channels_.Closes(), 0u);
}

// Another user who made the channel's disconnect event first, or took its name with a mutex, can
// neither end the exchange nor stop it: the channel runs without the event.
TEST_F(ServerVirtChannelTest, DisconnectEventNameHeldByAnotherOwnerOrKindIsNotUsed) {
  const std::wstring name = L"Global\\QuillonNotify-3-Disconnect";
  for (const bool asMutex : {false, true}) {
    SCOPED_TRACE(asMutex ? "mutex" : "event of another owner");
    const UniqueHandle squatter = asMutex ? SquattingMutex(name) : ForeignOwnedEvent(name);
    ASSERT_TRUE(squatter);
    CQuilServerVirtChannel channel(L"QuillonNotify");
    ASSERT_TRUE(channel.Open(kSession, "QPrn"));
    if (!asMutex) {
      ASSERT_TRUE(SetEvent(squatter.get()));
    }
    ASSERT_TRUE(channels_.SendToServer(kSession, "QPrn", Pattern(4)));
    std::vector<uint8_t> message;
    EXPECT_TRUE(channel.Read(message));
    EXPECT_TRUE(channel.Write("x", 1));
  }
  EXPECT_EQ(TestLogFile::CountMessage("Event Global\\QuillonNotify-3-Disconnect exists with another owner: not used"),
            1u);
  EXPECT_EQ(TestLogFile::CountMessage("Event Global\\QuillonNotify-3-Disconnect cannot be created"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("CQuilServerVirtChannel::CheckDisconnect - disconnected"), 0u);
}

TEST_F(ServerVirtChannelTest, DisconnectEventOfAnotherOwnerOrSessionDoesNotClose) {
  CQuilServerVirtChannel channel(L"QuillonPort");
  ASSERT_TRUE(channel.Open(kSession, "QSpl"));
  const UniqueHandle otherOwner = NamedEvent(L"Global\\QuillonNotify-3-Disconnect");
  const UniqueHandle otherSession = NamedEvent(L"Global\\QuillonPort-4-Disconnect");
  SetEvent(otherOwner.get());
  SetEvent(otherSession.get());
  ASSERT_TRUE(channels_.SendToServer(kSession, "QSpl", Pattern(4)));
  std::vector<uint8_t> message;
  EXPECT_TRUE(channel.Read(message));
  EXPECT_EQ(channels_.Closes(), 0u);
  EXPECT_EQ(CQuilServerVirtChannel::DisconnectEventName(L"QuillonPort", 3), L"Global\\QuillonPort-3-Disconnect");
}

TEST_F(ServerVirtChannelTest, CloseClosesOnceEvenWhenDestroyedAfterwards) {
  {
    CQuilServerVirtChannel channel(L"QuillonNotify");
    ASSERT_TRUE(channel.Open(kSession, "QPrn"));
    EXPECT_EQ(channels_.OpenChannels(), 1u);
    EXPECT_TRUE(channel.Close());
    EXPECT_FALSE(channel.Write("x", 1));
    std::vector<uint8_t> message;
    EXPECT_FALSE(channel.Read(message));
  }
  EXPECT_EQ(channels_.OpenChannels(), 0u);
  EXPECT_EQ(channels_.Closes(), 1u);
  EXPECT_EQ(channels_.InvalidCloses(), 0u);
}

TEST_F(ServerVirtChannelTest, DestroyAloneClosesTheOpenChannel) {
  { CQuilServerVirtChannel(L"QuillonNotify").Open(kSession, "QPrn"); }
  EXPECT_EQ(channels_.OpenChannels(), 0u);
  EXPECT_EQ(channels_.Closes(), 1u);
}

TEST_F(ServerVirtChannelTest, FailedOpenLeavesNothingOpenAndCloseReportsNoChannel) {
  {
    CQuilServerVirtChannel channel(L"QuillonNotify");
    EXPECT_FALSE(channel.Open(7, "QPrn")) << "session 7 has no client";
    EXPECT_FALSE(channel.Close());
    EXPECT_FALSE(channel.Write("x", 1));
  }
  EXPECT_EQ(channels_.Opens(), 0u);
  EXPECT_EQ(channels_.Closes(), 0u);
  EXPECT_EQ(channels_.InvalidCloses(), 0u);
}

}  // namespace
}  // namespace quil::test
