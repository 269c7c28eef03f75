// What the pump sees: WaitForMessage and GetMessage over the receive queue and posted errors.

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

const Bytes kEvent = Frame(0x40, {0x00, 0x01, 0x07});
const Bytes kBroadcast = Frame(0x4E, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});

class DSIFramerANTQueueTest : public ::testing::Test {
 protected:
  DSIFramerANTQueueTest() {
    serial.SetCallback(&framer);
    EXPECT_TRUE(framer.Init());
  }
  // The transport stops calling the framer before the framer goes.
  ~DSIFramerANTQueueTest() override { serial.Close(false); }

  // Frames whose first two data bytes count up from `first`, so that order shows.
  void FeedNumbered(std::size_t count, std::size_t first = 0) {
    for (std::size_t i = first; i < first + count; ++i) {
      serial.Feed(Frame(0x4E, {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)}));
    }
  }

  // Takes `count` messages out and checks that they are the numbered ones from `first` on.
  void ExpectNumbered(std::size_t count, std::size_t first = 0) {
    for (std::size_t i = first; i < first + count; ++i) {
      AntMessage out;
      const std::uint16_t result = framer.GetMessage(out, 0);
      if (result != 2 || out.id != 0x4E || out.data[0] != static_cast<std::uint8_t>(i) ||
          out.data[1] != static_cast<std::uint8_t>(i >> 8)) {
        FAIL() << "message " << i << ": " << Describe(result, out);
      }
    }
  }

  FakeSerial serial;
  DSIFramerANT framer{&serial};
};

TEST_F(DSIFramerANTQueueTest, WaitForMessageGivesTheHeadLengthAndLeavesItQueued) {
  serial.Feed(Concat({kBroadcast, kEvent}));
  EXPECT_EQ(framer.WaitForMessage(0), 9);
  EXPECT_EQ(framer.WaitForMessage(1000), 9);
  AntMessage out;
  EXPECT_EQ(framer.GetMessage(out, 0), 9);
  EXPECT_EQ(framer.WaitForMessage(0), 3);
}

TEST_F(DSIFramerANTQueueTest, WaitForMessageTimesOutWhenNothingComes) {
  EXPECT_EQ(framer.WaitForMessage(0), DSIFramer::kTimedOut);
  const auto start = Clock::now();
  EXPECT_EQ(framer.WaitForMessage(20), DSIFramer::kTimedOut);
  EXPECT_GE(Clock::now() - start, 20ms);
  // A frame still in progress is not a message.
  serial.Feed({0xA4, 0x03, 0x4E});
  EXPECT_EQ(framer.WaitForMessage(20), DSIFramer::kTimedOut);
}

TEST_F(DSIFramerANTQueueTest, GetMessageOnAnEmptyQueueTimesOutAtOnce) {
  AntMessage out;
  out.id = 0x99;
  EXPECT_EQ(framer.GetMessage(out, 0), DSIFramer::kTimedOut);
  EXPECT_EQ(out.id, 0x99);
}

TEST_F(DSIFramerANTQueueTest, WaitForMessageWakesForAMessageFromTheReceiveThread) {
  ASSERT_TRUE(serial.Open());
  std::thread later([this] {
    std::this_thread::sleep_for(10ms);
    serial.Deliver(kEvent);
  });
  const auto start = Clock::now();
  EXPECT_EQ(framer.WaitForMessage(5000), 3);
  EXPECT_LT(Clock::now() - start, 2500ms);
  later.join();
  serial.Close(false);
}

TEST_F(DSIFramerANTQueueTest, WaitForMessageWakesForAnError) {
  ASSERT_TRUE(serial.Open());
  std::thread later([this] {
    std::this_thread::sleep_for(10ms);
    serial.DeliverError(DSISerialCallback::kReadFailed);
  });
  const auto start = Clock::now();
  EXPECT_EQ(framer.WaitForMessage(5000), DSIFramer::kFramerError);
  EXPECT_LT(Clock::now() - start, 2500ms);
  later.join();
  serial.Close(false);
}

TEST_F(DSIFramerANTQueueTest, APostedErrorComesBeforeQueuedMessages) {
  serial.Feed(Concat({kEvent, kBroadcast}));
  serial.FeedError(DSISerialCallback::kWriteFailed);
  EXPECT_EQ(framer.WaitForMessage(0), DSIFramer::kFramerError);
  EXPECT_EQ(framer.WaitForMessage(20), DSIFramer::kFramerError);
  AntMessage out;
  ASSERT_EQ(framer.GetMessage(out, 0), DSIFramer::kFramerError);
  EXPECT_EQ(out.id, DSIFramerANT::kErrorReported);
  EXPECT_EQ(out.data[0], DSISerialCallback::kWriteFailed);
  // Taking the error out clears it; the messages are still there, in order.
  EXPECT_EQ(framer.WaitForMessage(0), 3);
  EXPECT_EQ(Drain(framer), (Outcomes{"40 00 01 07", "4E 00 01 02 03 04 05 06 07 08"}));
}

TEST_F(DSIFramerANTQueueTest, ABadChecksumStopsThePumpEvenWithGoodMessagesQueued) {
  serial.Feed(Concat({kEvent, kBroadcast, {0xA4, 0x01, 0x6F, 0x20, 0xEB}}));
  EXPECT_EQ(framer.WaitForMessage(1000), DSIFramer::kFramerError);
  EXPECT_EQ(Drain(framer),
            (Outcomes{"error 2 code 04", "40 00 01 07", "4E 00 01 02 03 04 05 06 07 08"}));
}

TEST_F(DSIFramerANTQueueTest, TheLatestErrorIsTheOneReported) {
  serial.FeedError(DSISerialCallback::kDeviceUnreadable);
  serial.FeedError(DSISerialCallback::kReadFailed);
  EXPECT_EQ(Drain(framer), Outcomes{"error 2 code 03"});
}

TEST_F(DSIFramerANTQueueTest, TransportErrorCodesPassThrough) {
  for (const std::uint8_t code :
       {DSISerialCallback::kDeviceUnreadable, DSISerialCallback::kWriteFailed,
        DSISerialCallback::kReadFailed, std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    SCOPED_TRACE(static_cast<int>(code));
    serial.FeedError(code);
    AntMessage out;
    ASSERT_EQ(framer.GetMessage(out, 0), DSIFramer::kFramerError);
    EXPECT_EQ(out.id, DSIFramerANT::kErrorReported);
    EXPECT_EQ(out.data[0], code);
    EXPECT_EQ(framer.GetMessage(out, 0), DSIFramer::kTimedOut);
  }
}

struct CutCase {
  std::uint8_t length;   // data bytes in the received frame
  std::uint8_t maximum;  // GetMessage's maximum
  std::string outcome;
};

// A frame of `length` bytes 01, 02, ... taken out with a maximum: a non-zero maximum that the
// length reaches cuts it; what is still over 20 is error 3.
const CutCase kCuts[] = {
    {8, 0, "4E 01 02 03 04 05 06 07 08"},
    {8, 9, "4E 01 02 03 04 05 06 07 08"},
    {8, 8, "4E 01 02 03 04 05 06 07 08"},
    {8, 4, "4E 01 02 03 04"},
    {8, 1, "4E 01"},
    {0, 0, "4E"},
    {0, 5, "4E"},
    {20, 0, "4E 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14"},
    {21, 0, "error 3"},
    {25, 20, "4E 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14"},
    {25, 8, "4E 01 02 03 04 05 06 07 08"},
    {25, 21, "error 3"},
    {25, 255, "error 3"},
    {29, 0, "error 3"},
};

TEST_F(DSIFramerANTQueueTest, GetMessageCutsToTheMaximumAndRefusesOverTwenty) {
  for (const CutCase& c : kCuts) {
    SCOPED_TRACE(::testing::Message() << int{c.length} << " bytes, maximum " << int{c.maximum});
    Bytes data(c.length);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
    serial.Feed(Concat({Frame(0x4E, data), kEvent}));
    EXPECT_EQ(framer.WaitForMessage(0), c.length);
    AntMessage out;
    EXPECT_EQ(Describe(framer.GetMessage(out, c.maximum), out), c.outcome);
    // Either way that message is gone and the next one is at the head.
    EXPECT_EQ(Drain(framer), Outcomes{"40 00 01 07"});
  }
}

TEST_F(DSIFramerANTQueueTest, KeepsMessagesInOrderAcrossTheRingsWrap) {
  // 35000 in and out twice moves both indices past 65535 back to 0.
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    FeedNumbered(35000);
    ExpectNumbered(35000);
    EXPECT_EQ(framer.WaitForMessage(0), DSIFramer::kTimedOut);
  }
}

TEST_F(DSIFramerANTQueueTest, OverflowLosesTheFrameAndPostsError1ThenDrains) {
  FeedNumbered(DSIFramerANT::kQueueCapacity);
  // Full, but no error yet.
  EXPECT_EQ(framer.WaitForMessage(0), 2);
  serial.Feed(kEvent);
  EXPECT_EQ(framer.WaitForMessage(0), DSIFramer::kFramerError);
  AntMessage out;
  ASSERT_EQ(framer.GetMessage(out, 0), DSIFramer::kFramerError);
  EXPECT_EQ(out.id, DSIFramerANT::kQueueOverflow);
  // Every queued message comes out, the lost one does not, and then the queue takes more.
  ExpectNumbered(DSIFramerANT::kQueueCapacity);
  EXPECT_EQ(framer.GetMessage(out, 0), DSIFramer::kTimedOut);
  serial.Feed(kEvent);
  EXPECT_EQ(Drain(framer), Outcomes{"40 00 01 07"});
}

TEST_F(DSIFramerANTQueueTest, OneFreeRecordIsEnoughToQueueAgain) {
  FeedNumbered(DSIFramerANT::kQueueCapacity);
  ExpectNumbered(1);
  FeedNumbered(1, DSIFramerANT::kQueueCapacity);
  EXPECT_NE(framer.WaitForMessage(0), DSIFramer::kFramerError);
  ExpectNumbered(DSIFramerANT::kQueueCapacity, 1);
  EXPECT_EQ(framer.WaitForMessage(0), DSIFramer::kTimedOut);
}

TEST_F(DSIFramerANTQueueTest, InitForgetsQueuedMessagesAndErrors) {
  serial.Feed(Concat({kEvent, kBroadcast}));
  serial.FeedError(DSISerialCallback::kReadFailed);
  EXPECT_TRUE(framer.Init());
  EXPECT_EQ(framer.WaitForMessage(0), DSIFramer::kTimedOut);
  serial.Feed(kEvent);
  EXPECT_EQ(Drain(framer), Outcomes{"40 00 01 07"});
}

}  // namespace
}  // namespace Pellux
