// How the framer cuts the module's byte stream into messages: where it finds frames, what it
// does with broken ones, and how it gets back in step after garbage.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "device/dsi_framer_ant.h"
#include "tests/device/ant_frames.h"
#include "tests/device/fake_serial.h"

namespace Pellux {
namespace {

using Outcomes = std::vector<std::string>;

class DSIFramerANTReceiveTest : public ::testing::Test {
 protected:
  DSIFramerANTReceiveTest() { serial.SetCallback(&framer); }

  // Feeds `stream` byte by byte into a fresh start and takes out everything that came of it.
  Outcomes Decode(const Bytes& stream) {
    EXPECT_TRUE(framer.Init());
    serial.Feed(stream);
    return Drain(framer);
  }

  FakeSerial serial;
  DSIFramerANT framer{&serial};
};

Bytes Zeros(std::size_t count) {
  return Bytes(count, 0x00);
}

const Bytes kStartup = {0x00, 0xA4, 0x01, 0x6F, 0x20, 0xEA};
const Bytes kBroadcast = Frame(0x4E, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
const Bytes kEvent = Frame(0x40, {0x00, 0x01, 0x07});

struct StreamCase {
  const char* name;
  Bytes stream;
  Outcomes outcomes;
};

const StreamCase kWellFormed[] = {
    {"start-up message after a leading zero", kStartup, {"6F 20"}},
    {"broadcast data", kBroadcast, {"4E 00 01 02 03 04 05 06 07 08"}},
    {"channel event", kEvent, {"40 00 01 07"}},
    {"no data bytes", Frame(0x4A, {}), {"4A"}},
    {"twenty data bytes",
     Frame(0x50, Bytes(20, 0x5A)),
     {"50 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A 5A"}},
    {"sync bytes inside the data are data",
     Frame(0x4E, {0xA4, 0xA4, 0x14, 0xA4}),
     {"4E A4 A4 14 A4"}},
    {"back to back, in order",
     Concat({kEvent, kBroadcast, Frame(0x6F, {0x20})}),
     {"40 00 01 07", "4E 00 01 02 03 04 05 06 07 08", "6F 20"}},
    {"nothing but bytes between frames", {0x00, 0x01, 0x55, 0xFF, 0x7E}, {}},
    {"a frame that has not ended yet", {0xA4, 0x03, 0x4E, 0x00, 0x01}, {}},
};

TEST_F(DSIFramerANTReceiveTest, CutsWellFormedStreamsIntoMessages) {
  for (const StreamCase& c : kWellFormed) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.stream), c.outcomes);
  }
}

// 21 to 29 data bytes get past the length check; only 20 are kept, so GetMessage calls the
// message error 3 rather than hand out a part of it.
const StreamCase kLongFrames[] = {
    {"21 data bytes", Frame(0x4E, Bytes(21, 0x11)), {"error 3"}},
    {"29 data bytes, the longest that passes", Frame(0x4E, Bytes(29, 0x11)), {"error 3"}},
    {"a long frame does not disturb the next",
     Concat({Frame(0x4E, Bytes(25, 0x11)), kEvent}),
     {"error 3", "40 00 01 07"}},
};

TEST_F(DSIFramerANTReceiveTest, FramesOverTwentyDataBytesComeOutAsError3) {
  for (const StreamCase& c : kLongFrames) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.stream), c.outcomes);
  }
}

const StreamCase kBroken[] = {
    {"wrong checksum", {0xA4, 0x01, 0x6F, 0x20, 0xEB}, {"error 2 code 04"}},
    {"wrong checksum, then a good frame",
     Concat({BadFrame(0x4E, {0x00, 0x01}), kEvent}),
     {"error 2 code 04", "40 00 01 07"}},
    // The error is reported before messages that came earlier: the pump stops on it.
    {"good frames, then a wrong checksum",
     Concat({kEvent, kBroadcast, BadFrame(0x40, {0x00, 0x43, 0x00})}),
     {"error 2 code 04", "40 00 01 07", "4E 00 01 02 03 04 05 06 07 08"}},
    // One slot for errors: two bad frames in a row are one error.
    {"two wrong checksums",
     Concat({BadFrame(0x40, {0x00}), BadFrame(0x40, {0x01})}),
     {"error 2 code 04"}},
    {"length 30 abandons the frame",
     Concat({{0xA4, 0x1E, 0x4E, 0x00, 0x01}, kEvent}),
     {"40 00 01 07"}},
    {"length 0xA4 starts a frame of its own", {0xA4, 0xA4, 0x01, 0x6F, 0x20, 0xEA}, {"6F 20"}},
    {"runs of sync bytes", Concat({{0xA4, 0xA4, 0xA4, 0xA4}, Frame(0x6F, {0x20})}), {"6F 20"}},
    // A zero after a stray sync is a valid length: the empty frame it starts takes the real
    // sync as its id and fails its checksum, and the real frame is lost with it.
    {"a stray sync before a zero", Concat({{0xA4}, kStartup}), {"error 2 code 04"}},
    // A length near 255 must not wrap around to a short frame.
    {"length 0xFD", Concat({{0xA4, 0xFD, 0x4E, 0x00}, kEvent}), {"40 00 01 07"}},
    {"length 0xFE", Concat({{0xA4, 0xFE, 0x4E, 0x00}, kEvent}), {"40 00 01 07"}},
    {"length 0xFF", Concat({{0xA4, 0xFF, 0x4E, 0x00}, kEvent}), {"40 00 01 07"}},
    // A cut-off frame takes the start of the next as its own and fails its checksum; the bytes
    // left over hold no sync, so the frame after those comes through.
    {"cut-off frame swallows the next one",
     Concat({{0xA4, 0x03, 0x4E, 0x00}, Frame(0x6F, {0x20}), kEvent}),
     {"error 2 code 04", "40 00 01 07"}},
};

TEST_F(DSIFramerANTReceiveTest, DropsBrokenFramesAndReportsBadChecksums) {
  for (const StreamCase& c : kBroken) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.stream), c.outcomes);
  }
}

TEST_F(DSIFramerANTReceiveTest, EveryLengthByteTakesItsOwnPath) {
  for (int value = 0; value < 256; ++value) {
    const auto length = static_cast<std::uint8_t>(value);
    SCOPED_TRACE(value);
    Bytes stream;
    Outcomes expected;
    if (length <= 29) {
      Bytes data(length);
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
      stream = Frame(0x4E, data);
      if (length <= 20) {
        std::string text = "4E";
        for (const std::uint8_t byte : data) text += " " + Hex(byte);
        expected.push_back(text);
      } else {
        expected.push_back("error 3");
      }
    } else {
      // Too long for any frame: the length byte and what follows up to the next sync are lost.
      stream = {0xA4, length, 0x4E, 0x00};
    }
    stream = Concat({stream, kEvent});
    expected.push_back("40 00 01 07");
    EXPECT_EQ(Decode(stream), expected);
  }
}

// Whatever came before, a run of bytes without a sync as long as the longest frame ends any
// frame in progress, and the framer reads the next frame correctly.
TEST_F(DSIFramerANTReceiveTest, GetsBackInStepAfterGarbage) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byteValue(0, 255);
  std::uniform_int_distribution<int> size(1, 200);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    Bytes garbage(static_cast<std::size_t>(size(random)));
    for (std::uint8_t& byte : garbage) {
      // Plenty of syncs and short lengths, so that frames start inside the garbage.
      const int pick = byteValue(random);
      byte = pick < 40   ? kAntSync
             : pick < 80 ? static_cast<std::uint8_t>(pick % 30)
                         : static_cast<std::uint8_t>(byteValue(random));
    }
    const Outcomes outcomes = Decode(Concat({garbage, Zeros(33), kEvent}));
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back(), "40 00 01 07");
    for (const std::string& outcome : outcomes) {
      EXPECT_EQ(outcome.find("impossible"), std::string::npos) << outcome;
      if (outcome.rfind("error", 0) == 0) {
        EXPECT_TRUE(outcome == "error 2 code 04" || outcome == "error 3") << outcome;
      }
    }
  }
}

TEST_F(DSIFramerANTReceiveTest, InitForgetsAFrameInProgress) {
  // Reset in the middle of a frame, the framer does not glue the old half to the new bytes.
  serial.Feed({0xA4, 0x05, 0x4E, 0x00});
  EXPECT_EQ(Decode(Concat({{0x01, 0x02, 0x03}, kEvent})), Outcomes{"40 00 01 07"});
}

}  // namespace
}  // namespace Pellux
