// What the framer puts on the wire for a message, and what it refuses to send.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/ant_message.h"
#include "device/dsi_framer_ant.h"
#include "tests/device/ant_frames.h"
#include "tests/device/fake_serial.h"

namespace Pellux {
namespace {

struct WriteCase {
  const char* name;
  std::uint8_t id;
  Bytes data;
  Bytes wire;
};

// Sync, length, id, data, exclusive-or of all of those, two zeros.
const WriteCase kWrites[] = {
    {"open channel 0", 0x4B, {0x00}, {0xA4, 0x01, 0x4B, 0x00, 0xEE, 0x00, 0x00}},
    {"system reset", 0x4A, {0x00}, {0xA4, 0x01, 0x4A, 0x00, 0xEF, 0x00, 0x00}},
    {"close channel 0", 0x4C, {0x00}, {0xA4, 0x01, 0x4C, 0x00, 0xE9, 0x00, 0x00}},
    {"channel period 8192 on channel 0",
     0x43,
     {0x00, 0x00, 0x20},
     {0xA4, 0x03, 0x43, 0x00, 0x00, 0x20, 0xC4, 0x00, 0x00}},
    {"assign channel 0",
     0x42,
     {0x00, 0x00, 0x00},
     {0xA4, 0x03, 0x42, 0x00, 0x00, 0x00, 0xE5, 0x00, 0x00}},
    {"channel id, device number little-endian",
     0x51,
     {0x00, 0x34, 0x12, 0x01, 0x05},
     {0xA4, 0x05, 0x51, 0x00, 0x34, 0x12, 0x01, 0x05, 0xD2, 0x00, 0x00}},
    {"acknowledged data",
     0x4F,
     {0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07},
     {0xA4, 0x09, 0x4F, 0x01, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xE3, 0x00, 0x00}},
    {"no data bytes", 0x4E, {}, {0xA4, 0x00, 0x4E, 0xEA, 0x00, 0x00}},
    {"twenty data bytes, the most",
     0x50,
     {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
      0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13},
     {0xA4, 0x14, 0x50, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
      0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0xE0, 0x00, 0x00}},
};

TEST(DSIFramerANTWriteTest, FramesEachMessageWithChecksumAndTwoZeros) {
  for (const WriteCase& c : kWrites) {
    SCOPED_TRACE(c.name);
    FakeSerial serial;
    DSIFramerANT framer(&serial);
    EXPECT_TRUE(
        framer.WriteMessage(Message(c.id, c.data), static_cast<std::uint8_t>(c.data.size())));
    EXPECT_EQ(serial.Writes(), std::vector<Bytes>{c.wire});
  }
}

TEST(DSIFramerANTWriteTest, SendsOnlyTheGivenNumberOfDataBytes) {
  FakeSerial serial;
  DSIFramerANT framer(&serial);
  // The rest of the message's data stays home.
  const AntMessage message = Message(0x4B, {0x00, 0x77, 0x88, 0x99});
  EXPECT_TRUE(framer.WriteMessage(message, 1));
  EXPECT_EQ(serial.Writes(), (std::vector<Bytes>{{0xA4, 0x01, 0x4B, 0x00, 0xEE, 0x00, 0x00}}));
}

TEST(DSIFramerANTWriteTest, RefusesMoreThanTwentyDataBytesWithoutTouchingTheTransport) {
  for (const int length : {21, 22, 29, 30, 164, 255}) {
    SCOPED_TRACE(length);
    FakeSerial serial;
    DSIFramerANT framer(&serial);
    EXPECT_FALSE(framer.WriteMessage(Message(0x4E, {0x00}), static_cast<std::uint8_t>(length)));
    EXPECT_TRUE(serial.Writes().empty());
  }
}

TEST(DSIFramerANTWriteTest, ReportsAWriteTheTransportRefused) {
  FakeSerial serial;
  serial.FailWrites(true);
  DSIFramerANT framer(&serial);
  EXPECT_FALSE(framer.WriteMessage(Message(0x4B, {0x00}), 1));
  // It was offered the whole frame.
  EXPECT_EQ(serial.Writes(), (std::vector<Bytes>{{0xA4, 0x01, 0x4B, 0x00, 0xEE, 0x00, 0x00}}));
}

TEST(DSIFramerANTWriteTest, WithoutATransportNothingIsWrittenAndInitRefuses) {
  DSIFramerANT framer(nullptr);
  EXPECT_TRUE(framer.IsInitialized());
  EXPECT_FALSE(framer.Init());
  EXPECT_FALSE(framer.WriteMessage(Message(0x4B, {0x00}), 1));
}

TEST(DSIFramerANTWriteTest, InitAcceptsAFramerWithATransport) {
  FakeSerial serial;
  DSIFramerANT framer(&serial);
  EXPECT_TRUE(framer.IsInitialized());
  EXPECT_TRUE(framer.Init());
}

// The key is scrubbed from the framer's own copy after the write; what must still hold is that
// the module got the real key, whether the write worked or not, and that scrubbing does not
// reach into the caller's message.
TEST(DSIFramerANTWriteTest, NetworkKeyReachesTheTransportInFullEitherWay) {
  const Bytes key = {0x00, 0xB9, 0xA5, 0x21, 0xFB, 0xBD, 0x72, 0xC3, 0x45};
  const Bytes wire = Concat({Frame(AntId::kNetworkKey, key), {0x00, 0x00}});
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "refused write" : "write");
    FakeSerial serial;
    serial.FailWrites(fail);
    DSIFramerANT framer(&serial);
    const AntMessage message = Message(AntId::kNetworkKey, key);
    EXPECT_EQ(framer.WriteMessage(message, 9), !fail);
    EXPECT_EQ(serial.Writes(), std::vector<Bytes>{wire});
    EXPECT_EQ(message.data[1], 0xB9);
    EXPECT_EQ(message.data[8], 0x45);
  }
}

TEST(DSIFramerANTWriteTest, ASecondKeyWriteSendsTheKeyAgain) {
  // Nothing of the scrubbed first frame leaks into the next one.
  FakeSerial serial;
  DSIFramerANT framer(&serial);
  const Bytes key = {0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  const AntMessage message = Message(AntId::kNetworkKey, key);
  EXPECT_TRUE(framer.WriteMessage(message, 9));
  EXPECT_TRUE(framer.WriteMessage(message, 9));
  const Bytes wire = Concat({Frame(AntId::kNetworkKey, key), {0x00, 0x00}});
  EXPECT_EQ(serial.Writes(), (std::vector<Bytes>{wire, wire}));
}

}  // namespace
}  // namespace Pellux
