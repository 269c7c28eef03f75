#pragma once

// The contract every DSISerial backend keeps, as a typed test suite: each backend's test
// program instantiates it with a rig of its own, e.g.
//   INSTANTIATE_TYPED_TEST_SUITE_P(Tty, DSISerialContractTest, ::testing::Types<PtyRig>);
//
// A rig is default-constructible and offers:
//   DSISerial& Transport();                  the backend under test, not yet initialised
//   std::uint8_t DeviceNumber();             where its far end is listed
//   std::uint32_t Baud();                    the rate to open it at
//   void FarEndSend(const std::vector<std::uint8_t>&);      bytes toward the host
//   std::vector<std::uint8_t> FarEndReceive(std::size_t count, std::chrono::milliseconds);
//                                            what the host wrote, up to `count` bytes
//   void Unplug();                           the device goes away under the open transport
//   void Replug();                           a device is there again at DeviceNumber()

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "device/dsi_serial.h"
#include "tests/device/recording_receiver.h"

namespace Pellux {

template <typename Rig>
class DSISerialContractTest : public ::testing::Test {
 protected:
  static std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<std::uint8_t>((i * 13 + seed) % 256);
    }
    return bytes;
  }

  bool OpenIt() {
    DSISerial& transport = rig.Transport();
    transport.SetCallback(&receiver);
    return transport.Init(rig.Baud(), rig.DeviceNumber()) && transport.Open();
  }

  void TearDown() override {
    rig.Transport().Close(false);
    receiver.ExpectSilence();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(receiver.CallsWhileSilent(), 0);
  }

  Rig rig;
  RecordingReceiver receiver;
};

TYPED_TEST_SUITE_P(DSISerialContractTest);

TYPED_TEST_P(DSISerialContractTest, OpensOnlyWithAReceiverAndAnAttachedDevice) {
  DSISerial& transport = this->rig.Transport();
  ASSERT_TRUE(transport.Init(this->rig.Baud(), this->rig.DeviceNumber()));
  EXPECT_FALSE(transport.Open());  // no receiver
  transport.SetCallback(&this->receiver);
  ASSERT_TRUE(transport.Init(this->rig.Baud(), 200));
  EXPECT_EQ(transport.GetDeviceNumber(), 200);
  EXPECT_FALSE(transport.Open());  // nothing attached there
  ASSERT_TRUE(transport.Init(this->rig.Baud(), this->rig.DeviceNumber()));
  EXPECT_TRUE(transport.Open());
  EXPECT_FALSE(transport.Open());  // open already
  std::uint16_t productId = 0;
  EXPECT_TRUE(transport.GetDevicePID(productId));
}

TYPED_TEST_P(DSISerialContractTest, CarriesBytesBothWaysInOrder) {
  ASSERT_TRUE(this->OpenIt());
  const std::vector<std::uint8_t> down = this->Pattern(20000, 1);
  for (std::size_t at = 0; at < down.size(); at += 700) {
    const auto end = down.begin() + static_cast<std::ptrdiff_t>(std::min(at + 700, down.size()));
    this->rig.FarEndSend(
        std::vector<std::uint8_t>(down.begin() + static_cast<std::ptrdiff_t>(at), end));
  }
  ASSERT_TRUE(this->receiver.WaitForBytes(down.size(), std::chrono::seconds(10)));
  EXPECT_EQ(this->receiver.Bytes(), down);

  const std::vector<std::uint8_t> up = this->Pattern(20000, 7);
  std::vector<std::uint8_t> received;
  std::thread reader(
      [&] { received = this->rig.FarEndReceive(up.size(), std::chrono::seconds(10)); });
  for (std::size_t at = 0; at < up.size(); at += 333) {
    const std::size_t size = std::min<std::size_t>(333, up.size() - at);
    EXPECT_TRUE(this->rig.Transport().WriteBytes(up.data() + at, size));
  }
  reader.join();
  EXPECT_EQ(received, up);
  EXPECT_TRUE(this->receiver.Errors().empty());
}

TYPED_TEST_P(DSISerialContractTest, CallsBackOnOneThreadOfItsOwn) {
  ASSERT_TRUE(this->OpenIt());
  this->rig.FarEndSend(this->Pattern(100, 3));
  ASSERT_TRUE(this->receiver.WaitForBytes(100, std::chrono::seconds(5)));
  const auto threads = this->receiver.Threads();
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TYPED_TEST_P(DSISerialContractTest, ClosesWithinASecondWhileTheReadThreadWaits) {
  ASSERT_TRUE(this->OpenIt());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  this->rig.Transport().Close(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  this->receiver.ExpectSilence();
  this->rig.FarEndSend({1, 2, 3});
  const std::uint8_t byte = 0x55;
  EXPECT_FALSE(this->rig.Transport().WriteBytes(&byte, 1));
  this->rig.Transport().Close(false);  // a second close does nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(this->receiver.CallsWhileSilent(), 0);
  EXPECT_EQ(this->rig.Transport().GetDeviceSerialNumber(), 0u);
}

TYPED_TEST_P(DSISerialContractTest, RefusesToWriteFromNowhere) {
  ASSERT_TRUE(this->OpenIt());
  EXPECT_FALSE(this->rig.Transport().WriteBytes(nullptr, 4));
}

TYPED_TEST_P(DSISerialContractTest, InitClosesAnOpenTransport) {
  ASSERT_TRUE(this->OpenIt());
  ASSERT_TRUE(this->rig.Transport().Init(this->rig.Baud(), this->rig.DeviceNumber()));
  const std::uint8_t byte = 0x55;
  EXPECT_FALSE(this->rig.Transport().WriteBytes(&byte, 1));
  EXPECT_TRUE(this->rig.Transport().Open());
}

TYPED_TEST_P(DSISerialContractTest, AGoneDeviceIsReportedOnEveryPollUntilClosed) {
  ASSERT_TRUE(this->OpenIt());
  this->rig.Unplug();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(this->receiver.WaitForErrors(DSISerialCallback::kDeviceUnreadable, 1,
                                           std::chrono::milliseconds(1500)));
  // Once at first, then once every poll (1000 ms), not in a tight loop.
  ASSERT_TRUE(this->receiver.WaitForErrors(DSISerialCallback::kDeviceUnreadable, 3,
                                           std::chrono::milliseconds(3500)));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1800));
  EXPECT_EQ(this->receiver.Count(DSISerialCallback::kReadFailed), 0u);

  const std::uint8_t byte = 0x55;
  EXPECT_FALSE(this->rig.Transport().WriteBytes(&byte, 1));
  EXPECT_TRUE(this->receiver.WaitForErrors(DSISerialCallback::kWriteFailed, 1,
                                           std::chrono::milliseconds(1500)));
  const auto closing = std::chrono::steady_clock::now();
  this->rig.Transport().Close(false);
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(1000));
  this->receiver.ExpectSilence();
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(this->receiver.CallsWhileSilent(), 0);
}

TYPED_TEST_P(DSISerialContractTest, OpensAgainOnceTheDeviceIsBack) {
  ASSERT_TRUE(this->OpenIt());
  this->rig.Unplug();
  ASSERT_TRUE(this->receiver.WaitForErrors(DSISerialCallback::kDeviceUnreadable, 1,
                                           std::chrono::milliseconds(1500)));
  this->rig.Transport().Close(false);
  this->rig.Replug();
  this->receiver.Clear();
  ASSERT_TRUE(this->rig.Transport().Open());
  this->rig.FarEndSend({0xA4, 0x01, 0x6F, 0x20, 0xEA});
  ASSERT_TRUE(this->receiver.WaitForBytes(5, std::chrono::seconds(5)));
  EXPECT_EQ(this->receiver.Bytes(), (std::vector<std::uint8_t>{0xA4, 0x01, 0x6F, 0x20, 0xEA}));
  const std::vector<std::uint8_t> reset{0xA4, 0x01, 0x4A, 0x00, 0xEF, 0x00, 0x00};
  EXPECT_TRUE(this->rig.Transport().WriteBytes(reset.data(), reset.size()));
  EXPECT_EQ(this->rig.FarEndReceive(reset.size(), std::chrono::seconds(5)), reset);
  EXPECT_TRUE(this->receiver.Errors().empty());
}

REGISTER_TYPED_TEST_SUITE_P(DSISerialContractTest, OpensOnlyWithAReceiverAndAnAttachedDevice,
                            CarriesBytesBothWaysInOrder, CallsBackOnOneThreadOfItsOwn,
                            ClosesWithinASecondWhileTheReadThreadWaits, RefusesToWriteFromNowhere,
                            InitClosesAnOpenTransport, AGoneDeviceIsReportedOnEveryPollUntilClosed,
                            OpensAgainOnceTheDeviceIsBack);

}  // namespace Pellux
