// Configuration commands that wait for the module's answer: SendCommand and
// CloseChannelAndWait, and how answers are matched to the command that waits for them.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "device/dsi_framer_ant.h"
#include "tests/device/ant_frames.h"
#include "tests/device/fake_serial.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Outcomes = std::vector<std::string>;

// Long enough for a busy sanitizer build to pass an answer through, short enough for tests of
// silence.
constexpr auto kShortWait = 50ms;
// For tests where the answer comes from another thread at its own pace; a passing test never
// waits this long.
constexpr auto kPatientWait = 2000ms;

const AntMessage kChannelPeriod = Message(AntId::kChannelPeriod, {0x00, 0x00, 0x20});
const Bytes kChannelPeriodWire = {0xA4, 0x03, 0x43, 0x00, 0x00, 0x20, 0xC4, 0x00, 0x00};
const Bytes kCloseChannel0Wire = {0xA4, 0x01, 0x4C, 0x00, 0xE9, 0x00, 0x00};

Bytes ChannelResponse(std::uint8_t channel, std::uint8_t answered, std::uint8_t code) {
  return Frame(AntId::kChannelResponse, {channel, answered, code});
}

// The module's answer to a write, whatever was written.
FakeSerial::Answerer Always(Bytes reply) {
  return [reply](const Bytes&) { return reply; };
}

// Waits until the transport has been written `count` times.
void AwaitWrites(const FakeSerial& serial, std::size_t count) {
  const auto deadline = Clock::now() + kPatientWait;
  while (serial.Writes().size() < count && Clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
}

class DSIFramerANTCommandTest : public ::testing::Test {
 protected:
  explicit DSIFramerANTCommandTest(std::chrono::milliseconds wait = kShortWait)
      : framer(&serial, wait) {
    serial.SetCallback(&framer);
    EXPECT_TRUE(framer.Init());
  }
  ~DSIFramerANTCommandTest() override { serial.Close(false); }

  FakeSerial serial;
  DSIFramerANT framer;
};

class DSIFramerANTPatientCommandTest : public DSIFramerANTCommandTest {
 protected:
  DSIFramerANTPatientCommandTest() : DSIFramerANTCommandTest(kPatientWait) {}
};

struct AnswerCase {
  const char* name;
  Bytes reply;
  bool succeeds;
};

// The module's reply to "channel period, channel 0". Only a channel response for channel 0 and
// message 0x43 counts, and only with code 0.
const AnswerCase kChannelPeriodAnswers[] = {
    {"no error", ChannelResponse(0x00, 0x43, AntResponse::kNoError), true},
    {"channel in wrong state", ChannelResponse(0x00, 0x43, AntResponse::kChannelInWrongState),
     false},
    {"channel not opened", ChannelResponse(0x00, 0x43, AntResponse::kChannelNotOpened), false},
    {"silence", {}, false},
    {"answer for channel 1", ChannelResponse(0x01, 0x43, AntResponse::kNoError), false},
    {"answer to assign channel", ChannelResponse(0x00, 0x42, AntResponse::kNoError), false},
    {"the same bytes in a broadcast", Frame(AntId::kBroadcastData, {0x00, 0x43, 0x00}), false},
    {"a response without its code", Frame(AntId::kChannelResponse, {0x00, 0x43}), false},
    {"a response shorter than the filter", Frame(AntId::kChannelResponse, {0x00}), false},
    {"a response with a broken checksum", BadFrame(AntId::kChannelResponse, {0x00, 0x43, 0x00}),
     false},
    {"a response with bytes after the code",
     Frame(AntId::kChannelResponse, {0x00, 0x43, 0x00, 0x99}), true},
    {"no error after other traffic",
     Concat({Frame(AntId::kBroadcastData, {0x00, 1, 2, 3, 4, 5, 6, 7, 8}),
             ChannelResponse(0x00, AntId::kEvent, AntEvent::kRxFail),
             ChannelResponse(0x00, 0x43, AntResponse::kNoError)}),
     true},
    {"an event of the channel", ChannelResponse(0x00, AntId::kEvent, 0x00), false},
};

// The transport passes each answer on while the writer is still inside WriteBytes, so no case
// depends on how fast another thread runs; the waiter is in place before the command goes out.
TEST_F(DSIFramerANTCommandTest, SendCommandSucceedsOnlyOnItsOwnNoErrorResponse) {
  for (const AnswerCase& c : kChannelPeriodAnswers) {
    SCOPED_TRACE(c.name);
    serial.AnswerWith(Always(c.reply));
    EXPECT_EQ(framer.SendCommand(kChannelPeriod, 3), c.succeeds);
    Drain(framer);
  }
  const std::vector<Bytes> writes = serial.Writes();
  ASSERT_EQ(writes.size(), std::size(kChannelPeriodAnswers));
  for (const Bytes& written : writes) EXPECT_EQ(written, kChannelPeriodWire);
}

// The answers that settle the command, now from the receive thread while the command waits.
const AnswerCase kSettlingAnswers[] = {
    {"no error", ChannelResponse(0x00, 0x43, AntResponse::kNoError), true},
    {"channel in wrong state", ChannelResponse(0x00, 0x43, AntResponse::kChannelInWrongState),
     false},
    {"no error after other traffic",
     Concat({Frame(AntId::kBroadcastData, {0x00, 1, 2, 3, 4, 5, 6, 7, 8}),
             ChannelResponse(0x01, 0x43, AntResponse::kChannelInWrongState),
             ChannelResponse(0x00, 0x43, AntResponse::kNoError)}),
     true},
};

TEST_F(DSIFramerANTPatientCommandTest, AnswersFromTheReceiveThreadSettleTheCommand) {
  ASSERT_TRUE(serial.Open());
  for (const AnswerCase& c : kSettlingAnswers) {
    SCOPED_TRACE(c.name);
    serial.AnswerWith(Always(c.reply));
    const auto start = Clock::now();
    EXPECT_EQ(framer.SendCommand(kChannelPeriod, 3), c.succeeds);
    EXPECT_LT(Clock::now() - start, kPatientWait / 2);
    serial.Settle();
    Drain(framer);
  }
}

TEST_F(DSIFramerANTPatientCommandTest, ThePumpStillSeesTheAnswer) {
  ASSERT_TRUE(serial.Open());
  serial.AnswerWith(Always(ChannelResponse(0x00, 0x43, AntResponse::kNoError)));
  EXPECT_TRUE(framer.SendCommand(kChannelPeriod, 3));
  serial.Settle();
  EXPECT_EQ(Drain(framer), Outcomes{"40 00 43 00"});
}

TEST_F(DSIFramerANTCommandTest, SilenceFailsAfterTheResponseWait) {
  ASSERT_TRUE(serial.Open());
  const auto start = Clock::now();
  EXPECT_FALSE(framer.SendCommand(kChannelPeriod, 3));
  EXPECT_GE(Clock::now() - start, kShortWait);
}

TEST_F(DSIFramerANTCommandTest, AnAnswerFromBeforeTheCommandDoesNotCount) {
  serial.Feed(ChannelResponse(0x00, 0x43, AntResponse::kNoError));
  EXPECT_FALSE(framer.SendCommand(kChannelPeriod, 3));
}

TEST_F(DSIFramerANTCommandTest, AnAnswerAfterTheWaitFindsNoWaiterAndIsQueued) {
  ASSERT_TRUE(serial.Open());
  EXPECT_FALSE(framer.SendCommand(kChannelPeriod, 3));
  // The waiter is gone; under AddressSanitizer a stale list entry would show here.
  serial.Deliver(ChannelResponse(0x00, 0x43, AntResponse::kNoError));
  serial.Settle();
  EXPECT_EQ(Drain(framer), Outcomes{"40 00 43 00"});
}

TEST_F(DSIFramerANTCommandTest, TheFilterUsesTheCommandsFirstDataByte) {
  // Transmit power carries a filler byte first, the network key the network number.
  const AntMessage power = Message(AntId::kTransmitPower, {0x00, 0x03});
  serial.AnswerWith(Always(ChannelResponse(0x00, AntId::kTransmitPower, 0x00)));
  EXPECT_TRUE(framer.SendCommand(power, 2));
  const AntMessage key = Message(AntId::kNetworkKey, {0x01, 1, 2, 3, 4, 5, 6, 7, 8});
  serial.AnswerWith(Always(ChannelResponse(0x01, AntId::kNetworkKey, 0x00)));
  EXPECT_TRUE(framer.SendCommand(key, 9));
  serial.AnswerWith(Always(ChannelResponse(0x00, AntId::kNetworkKey, 0x00)));
  EXPECT_FALSE(framer.SendCommand(key, 9));
}

TEST_F(DSIFramerANTPatientCommandTest, AFailedWriteFailsAtOnce) {
  serial.FailWrites(true);
  serial.AnswerWith(Always(ChannelResponse(0x00, 0x43, AntResponse::kNoError)));
  const auto start = Clock::now();
  EXPECT_FALSE(framer.SendCommand(kChannelPeriod, 3));
  EXPECT_FALSE(framer.CloseChannelAndWait(0));
  EXPECT_LT(Clock::now() - start, kPatientWait / 2);
  EXPECT_EQ(serial.Writes().size(), 2u);
}

TEST_F(DSIFramerANTPatientCommandTest, ACommandTooLongToFrameFailsAtOnce) {
  const auto start = Clock::now();
  EXPECT_FALSE(framer.SendCommand(kChannelPeriod, 21));
  EXPECT_LT(Clock::now() - start, kPatientWait / 2);
  EXPECT_TRUE(serial.Writes().empty());
}

TEST_F(DSIFramerANTPatientCommandTest, CommandsInFlightTogetherEachGetTheirOwnAnswer) {
  ASSERT_TRUE(serial.Open());
  bool channel0 = true;
  bool channel1 = false;
  std::thread first([&] { channel0 = framer.SendCommand(kChannelPeriod, 3); });
  std::thread second([&] { channel1 = framer.SendCommand(Message(0x43, {0x01, 0x00, 0x20}), 3); });
  // Both wait now; the answers come in the other order.
  AwaitWrites(serial, 2);
  serial.Deliver(Concat({ChannelResponse(0x01, 0x43, AntResponse::kNoError),
                         ChannelResponse(0x00, 0x43, AntResponse::kChannelInWrongState)}));
  first.join();
  second.join();
  EXPECT_FALSE(channel0);
  EXPECT_TRUE(channel1);
}

struct CloseCase {
  const char* name;
  Bytes reply;
  bool closed;
};

const Bytes kClosed0 = ChannelResponse(0x00, AntId::kEvent, AntEvent::kChannelClosed);
const Bytes kCloseAccepted0 = ChannelResponse(0x00, AntId::kCloseChannel, AntResponse::kNoError);

const CloseCase kCloseAnswers[] = {
    {"response, then the channel-closed event", Concat({kCloseAccepted0, kClosed0}), true},
    {"the event before the response", Concat({kClosed0, kCloseAccepted0}), true},
    {"response only", kCloseAccepted0, false},
    {"response with an error, and the event",
     Concat(
         {ChannelResponse(0x00, AntId::kCloseChannel, AntResponse::kChannelNotOpened), kClosed0}),
     false},
    {"the event without a response", kClosed0, false},
    {"response, and the event of channel 1",
     Concat({kCloseAccepted0, ChannelResponse(0x01, AntId::kEvent, AntEvent::kChannelClosed)}),
     false},
    {"response, and another event of channel 0",
     Concat({kCloseAccepted0, ChannelResponse(0x00, AntId::kEvent, AntEvent::kRxSearchTimeout)}),
     false},
    {"response, and the event as a broadcast",
     Concat({kCloseAccepted0, Frame(AntId::kBroadcastData, {0x00, 0x01, 0x07})}), false},
    {"silence", {}, false},
};

TEST_F(DSIFramerANTCommandTest, CloseChannelAndWaitIsTrueOnlyWhenTheEventCame) {
  for (const CloseCase& c : kCloseAnswers) {
    SCOPED_TRACE(c.name);
    serial.AnswerWith(Always(c.reply));
    EXPECT_EQ(framer.CloseChannelAndWait(0), c.closed);
    Drain(framer);
  }
  const std::vector<Bytes> writes = serial.Writes();
  ASSERT_EQ(writes.size(), std::size(kCloseAnswers));
  for (const Bytes& written : writes) EXPECT_EQ(written, kCloseChannel0Wire);
}

// The answers that settle both waits of a close, from the receive thread.
const CloseCase kSettlingCloseAnswers[] = {
    {"response, then the channel-closed event", Concat({kCloseAccepted0, kClosed0}), true},
    {"the event before the response", Concat({kClosed0, kCloseAccepted0}), true},
    {"response with an error",
     ChannelResponse(0x00, AntId::kCloseChannel, AntResponse::kChannelNotOpened), false},
};

TEST_F(DSIFramerANTPatientCommandTest, CloseAnswersFromTheReceiveThreadSettleTheClose) {
  ASSERT_TRUE(serial.Open());
  for (const CloseCase& c : kSettlingCloseAnswers) {
    SCOPED_TRACE(c.name);
    serial.AnswerWith(Always(c.reply));
    const auto start = Clock::now();
    EXPECT_EQ(framer.CloseChannelAndWait(0), c.closed);
    EXPECT_LT(Clock::now() - start, kPatientWait / 2);
    serial.Settle();
    Drain(framer);
  }
}

TEST_F(DSIFramerANTCommandTest, CloseChannelAndWaitClosesTheGivenChannel) {
  serial.AnswerWith(Always(Concat({ChannelResponse(0x03, AntId::kCloseChannel, 0x00),
                                   ChannelResponse(0x03, AntId::kEvent, 0x07)})));
  EXPECT_TRUE(framer.CloseChannelAndWait(3));
  EXPECT_EQ(serial.Writes(),
            std::vector<Bytes>{Concat({Frame(AntId::kCloseChannel, {0x03}), {0x00, 0x00}})});
  // Both answers reach the pump too.
  EXPECT_EQ(Drain(framer), (Outcomes{"40 03 4C 00", "40 03 01 07"}));
}

TEST_F(DSIFramerANTPatientCommandTest, TheClosedEventMayComeAWhileAfterTheResponse) {
  ASSERT_TRUE(serial.Open());
  serial.AnswerWith(Always(kCloseAccepted0));
  std::thread module([this] {
    AwaitWrites(serial, 1);
    std::this_thread::sleep_for(10ms);
    serial.Deliver(kClosed0);
  });
  EXPECT_TRUE(framer.CloseChannelAndWait(0));
  module.join();
}

}  // namespace
}  // namespace Pellux
