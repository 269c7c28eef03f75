// The serial transport over the bridge against the stand-in library with a virtual
// base station behind it, in real time: selection, the opening and closing sequences, both
// read paths, writes, an unplug mid-read, and the thread-stop rule.

#include "device/dsi_serial_si_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "sim/virtual_clock.h"
#include "tests/support/stand_in_bridge_win.h"

namespace Pellux {
namespace {

using json = nlohmann::json;
using std::chrono::milliseconds;
using Steady = std::chrono::steady_clock;

// Remembers every callback, with the time of each error.
class RecordingCallback final : public DSISerialCallback {
 public:
  void ProcessByte(std::uint8_t byte) override {
    std::function<void()> hook;
    {
      std::lock_guard guard(mutex_);
      bytes_.push_back(byte);
      hook = onByte;
    }
    if (hook) hook();
  }
  void Error(std::uint8_t code) override {
    std::lock_guard guard(mutex_);
    errors_.push_back({code, Steady::now()});
  }

  std::vector<std::uint8_t> Bytes() const {
    std::lock_guard guard(mutex_);
    return bytes_;
  }
  std::size_t CountErrors(std::uint8_t code) const {
    std::lock_guard guard(mutex_);
    return static_cast<std::size_t>(std::count_if(
        errors_.begin(), errors_.end(), [code](const auto& error) { return error.code == code; }));
  }
  Steady::time_point FirstError(std::uint8_t code) const {
    std::lock_guard guard(mutex_);
    for (const auto& error : errors_) {
      if (error.code == code) return error.at;
    }
    return Steady::time_point::max();
  }
  std::size_t Callbacks() const {
    std::lock_guard guard(mutex_);
    return bytes_.size() + errors_.size();
  }

  // Runs after each byte is recorded, on the read thread; set before Open.
  std::function<void()> onByte;

 private:
  struct ErrorEntry {
    std::uint8_t code;
    Steady::time_point at;
  };
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> bytes_;
  std::vector<ErrorEntry> errors_;
};

class SerialSITest : public ::testing::Test {
 protected:
  DSISerialSI MakeSerial() {
    return DSISerialSI(clock, [this](const std::string& pattern) { restarts.push_back(pattern); });
  }

  std::unique_ptr<DSISerialSI> OpenSerial(std::uint8_t deviceNumber = 0) {
    auto serial = std::make_unique<DSISerialSI>(
        clock, [this](const std::string& pattern) { restarts.push_back(pattern); });
    serial->SetCallback(&callback);
    EXPECT_TRUE(serial->Init(50000, deviceNumber));
    EXPECT_TRUE(serial->Open());
    return serial;
  }

  // Waits until the receive thread has a read pending on device `index`.
  bool ReadPending(int index = 0, std::uint64_t atLeast = 1) {
    return StandInBridge::WaitFor(
        [&] { return bridge.Device(index)["pendingReads"].get<std::uint64_t>() >= atLeast; });
  }

  static bool AllThreadsEnded(milliseconds limit = std::chrono::seconds(10)) {
    return StandInBridge::WaitFor(
        [] {
          return DSISerialSI::RunningReadThreads() == 0 &&
                 USBDeviceHandleSI::RunningReceiveThreads() == 0;
        },
        limit);
  }

  void TearDown() override { EXPECT_TRUE(AllThreadsEnded()); }

  StandInBridge bridge;
  VirtualClock clock;
  RecordingCallback callback;
  std::vector<std::string> restarts;
};

// ANT frames: assign channel 0 (answered with a channel response), and a broadcast message.
const std::vector<std::uint8_t> kAssignChannel{0xA4, 0x03, 0x42, 0x00, 0x00, 0x00, 0xE5};

TEST_F(SerialSITest, OpenGoesThroughTheSevenStepsAndCloseWithoutResetDoesNotSleep) {
  bridge.Attach();
  bridge.ClearCalls();
  auto serial = OpenSerial();
  EXPECT_EQ(bridge.Calls(),
            (std::vector<std::string>{"SI_Open(0)", "SI_GetTimeouts", "SI_SetTimeouts(500,3000)",
                                      "SI_SetBaudRate(50000)", "SI_SetLineControl(2048)",
                                      "SI_SetFlowControl(1,1,0,0,0,0)", "SI_FlushBuffers(1,1)"}));
  EXPECT_TRUE(bridge.Device(0)["open"].get<bool>());
  bridge.ClearCalls();
  serial->Close(false);
  EXPECT_EQ(bridge.Calls(), (std::vector<std::string>{"SI_SetFlowControl(0,0,0,0,0,0)",
                                                      "SI_FlushBuffers(1,1)", "SI_Close"}));
  EXPECT_EQ(clock.TotalSlept(), milliseconds(0));
  EXPECT_FALSE(bridge.Device(0)["open"].get<bool>());
  EXPECT_EQ(bridge.Device(0)["resets"], 0);
}

TEST_F(SerialSITest, CloseWithResetResetsTheBridgeAndSleeps3500MsInAll) {
  bridge.Attach();
  auto serial = OpenSerial();
  bridge.ClearCalls();
  serial->Close(true);
  EXPECT_EQ(bridge.Calls(),
            (std::vector<std::string>{"SI_SetFlowControl(0,0,0,0,0,0)", "SI_FlushBuffers(1,1)",
                                      "CP210x_Reset", "SI_Close"}));
  EXPECT_EQ(clock.TotalSlept(), milliseconds(3500));
  EXPECT_EQ(bridge.Device(0)["resets"], 1);
  // Closed already: only the transport's own sleep.
  serial->Close(true);
  EXPECT_EQ(clock.TotalSlept(), milliseconds(5250));
  serial->Close(false);
  EXPECT_EQ(clock.TotalSlept(), milliseconds(5250));
}

TEST_F(SerialSITest, AFailedOpeningStepClosesWhatWasOpened) {
  bridge.Attach({{"failCall", "SI_SetLineControl"}});
  bridge.ClearCalls();
  DSISerialSI serial = MakeSerial();
  serial.SetCallback(&callback);
  ASSERT_TRUE(serial.Init(50000, 0));
  EXPECT_FALSE(serial.Open());
  const std::vector<std::string> calls = bridge.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "SI_Close");
  EXPECT_FALSE(bridge.Device(0)["open"].get<bool>());
  EXPECT_EQ(serial.GetDeviceSerialNumber(), 0U);
}

TEST_F(SerialSITest, OpenNeedsACallbackAndADeviceNumberInTheList) {
  bridge.Attach();
  DSISerialSI serial = MakeSerial();
  ASSERT_TRUE(serial.Init(50000, 0));
  EXPECT_FALSE(serial.Open());
  serial.SetCallback(&callback);
  ASSERT_TRUE(serial.Init(50000, 1));
  EXPECT_FALSE(serial.Open());
  ASSERT_TRUE(serial.Init(50000, 0));
  EXPECT_TRUE(serial.Open());
  // Open twice is refused; the first stays.
  EXPECT_FALSE(serial.Open());
  EXPECT_EQ(serial.GetDeviceNumber(), 0);
}

TEST_F(SerialSITest, TheOpenDeviceIsDescribedByItsListEntry) {
  bridge.Attach({{"serial", "3900017"}, {"pid", "1008"}, {"product", "ANT USB Stick"}});
  DSISerialSI serial = MakeSerial();
  std::uint16_t productId = 0;
  EXPECT_FALSE(serial.GetDevicePID(productId));
  EXPECT_EQ(serial.GetDeviceSerialNumber(), 0U);
  std::string product;
  std::string serialText;
  EXPECT_TRUE(serial.GetDeviceUSBInfo(0, product, serialText));
  EXPECT_EQ(product, "ANT USB Stick");
  EXPECT_EQ(serialText, "3900017");
  EXPECT_FALSE(serial.GetDeviceUSBInfo(1, product, serialText));
  serial.SetCallback(&callback);
  ASSERT_TRUE(serial.Init(50000, 0));
  ASSERT_TRUE(serial.Open());
  EXPECT_TRUE(serial.GetDevicePID(productId));
  EXPECT_EQ(productId, 0x1008);
  EXPECT_EQ(serial.GetDeviceSerialNumber(), 3900017U);
}

TEST_F(SerialSITest, BytesArriveInOrderThroughBothReadPaths) {
  bridge.Attach();
  auto serial = OpenSerial();
  ASSERT_TRUE(ReadPending());
  // The first byte completes the pending read; the rest wait in the library and are read at
  // once by the next reads.
  std::vector<std::uint8_t> sent;
  for (int i = 0; i < 200; ++i) sent.push_back(static_cast<std::uint8_t>(i * 7));
  bridge.Si({{"command", "send"}, {"device", 0}, {"bytes", sent}});
  ASSERT_TRUE(StandInBridge::WaitFor([&] { return callback.Bytes().size() >= sent.size(); }));
  EXPECT_EQ(callback.Bytes(), sent);
  const json device = bridge.Device(0);
  EXPECT_GE(device["completedPending"].get<int>(), 1);
  EXPECT_GE(device["immediateReads"].get<int>(), 1);
  EXPECT_EQ(callback.CountErrors(DSISerialCallback::kDeviceUnreadable), 0U);
}

TEST_F(SerialSITest, WrittenMessagesReachTheStationAndItsAnswerComesBack) {
  bridge.Attach();
  auto serial = OpenSerial();
  EXPECT_TRUE(serial->WriteBytes(kAssignChannel.data(), kAssignChannel.size()));
  // The channel response: A4 03 40 00 42 00 checksum.
  ASSERT_TRUE(StandInBridge::WaitFor([&] { return callback.Bytes().size() >= 7; }));
  const std::vector<std::uint8_t> answer = callback.Bytes();
  EXPECT_EQ(answer[0], 0xA4);
  EXPECT_EQ(answer[2], 0x40);
  EXPECT_EQ(answer[4], 0x42);
  EXPECT_EQ(bridge.Device(0)["hostMessages"], 1);
  EXPECT_EQ(bridge.Device(0)["bytesWritten"], kAssignChannel.size());
  EXPECT_FALSE(serial->WriteBytes(nullptr, 3));
}

TEST_F(SerialSITest, AFailedWriteReportsError2OnTheReadThread) {
  bridge.Attach();
  auto serial = OpenSerial();
  bridge.Si({{"command", "failWrites"}, {"device", 0}});
  EXPECT_FALSE(serial->WriteBytes(kAssignChannel.data(), kAssignChannel.size()));
  ASSERT_TRUE(StandInBridge::WaitFor(
      [&] { return callback.CountErrors(DSISerialCallback::kWriteFailed) == 1; }));
  serial->Close(false);
  // Not open: refused without a report.
  EXPECT_FALSE(serial->WriteBytes(kAssignChannel.data(), kAssignChannel.size()));
  EXPECT_EQ(callback.CountErrors(DSISerialCallback::kWriteFailed), 1U);
}

TEST_F(SerialSITest, AnUnplugMidReadIsNoticedWithinASecondAndError1RepeatsUntilClosed) {
  bridge.Attach();
  auto serial = OpenSerial();
  ASSERT_TRUE(ReadPending());
  const Steady::time_point unplugged = Steady::now();
  bridge.Si({{"command", "unplug"}, {"device", 0}});
  ASSERT_TRUE(StandInBridge::WaitFor(
      [&] { return callback.CountErrors(DSISerialCallback::kDeviceUnreadable) >= 1; }));
  // The pending read's probe fails after its 1000 ms slice.
  const auto noticed = callback.FirstError(DSISerialCallback::kDeviceUnreadable) - unplugged;
  EXPECT_LT(noticed, milliseconds(2500));
  EXPECT_GE(bridge.Device(0)["failedProbes"].get<int>(), 1);
  // Reported again on each poll while the transport stays open.
  ASSERT_TRUE(StandInBridge::WaitFor(
      [&] { return callback.CountErrors(DSISerialCallback::kDeviceUnreadable) >= 3; }));
  EXPECT_FALSE(serial->WriteBytes(kAssignChannel.data(), kAssignChannel.size()));
  const Steady::time_point closing = Steady::now();
  serial->Close(false);
  EXPECT_LT(Steady::now() - closing, milliseconds(1000));
  const std::size_t atClose = callback.Callbacks();
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(callback.Callbacks(), atClose);
}

TEST_F(SerialSITest, AReadFailureStopsTheReceiveThreadAndTheTransportReportsError1) {
  bridge.Attach();
  auto serial = OpenSerial();
  ASSERT_TRUE(ReadPending());
  bridge.Si({{"command", "failReads"}, {"device", 0}, {"status", 2}});
  // Completes the pending read; the next read fails.
  bridge.Si({{"command", "send"}, {"device", 0}, {"bytes", {0x55}}});
  ASSERT_TRUE(StandInBridge::WaitFor(
      [&] { return callback.CountErrors(DSISerialCallback::kDeviceUnreadable) >= 2; }));
  EXPECT_EQ(callback.Bytes(), std::vector<std::uint8_t>{0x55});
  EXPECT_EQ(USBDeviceHandleSI::RunningReceiveThreads(), 0);
  serial->Close(false);
}

// A real driver frees what a read in flight uses when its handle is closed: the handle of a
// thread left inside SI_Read is closed by that thread once it is back, never under it. With a
// reset, the reset comes with that close.
TEST_F(SerialSITest, AReceiveThreadStuckInTheLibraryIsLeftBehindAndClosesTheDeviceWhenBack) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "Close(true)" : "Close(false)");
    bridge.Si({{"command", "reset"}});
    callback.onByte = nullptr;
    bridge.Attach();
    const std::size_t before = callback.Bytes().size();
    auto serial = OpenSerial();
    ASSERT_TRUE(ReadPending());
    // The next read stays in the library for 6 s.
    bridge.Si({{"command", "hangReads"}, {"device", 0}, {"ms", 6000}});
    bridge.Si({{"command", "send"}, {"device", 0}, {"bytes", {0x01}}});
    ASSERT_TRUE(StandInBridge::WaitFor([&] { return callback.Bytes().size() == before + 1; }));
    std::this_thread::sleep_for(milliseconds(200));
    const Steady::time_point closing = Steady::now();
    serial->Close(reset);
    const auto took = Steady::now() - closing;
    EXPECT_GE(took, milliseconds(2900));
    EXPECT_LT(took, milliseconds(reset ? 8500 : 5000));
    // Not terminated: still running, in the library, on a handle that is still open.
    EXPECT_EQ(USBDeviceHandleSI::RunningReceiveThreads(), 1);
    EXPECT_TRUE(bridge.Device(0)["open"].get<bool>());
    EXPECT_EQ(bridge.Device(0)["resets"], 0);
    // Back from the library, the abandoned thread sees the stop, closes the device and ends.
    EXPECT_TRUE(AllThreadsEnded());
    const json device = bridge.Device(0);
    EXPECT_FALSE(device["open"].get<bool>());
    EXPECT_EQ(device["closes"], 1);
    EXPECT_EQ(device["closesDuringRead"], 0);
    EXPECT_EQ(device["resets"], reset ? 1 : 0);
    // The transport opens the device again, and bytes flow.
    ASSERT_TRUE(serial->Init(50000, 0));
    ASSERT_TRUE(serial->Open());
    ASSERT_TRUE(ReadPending(0, 2));
    bridge.Si({{"command", "send"}, {"device", 0}, {"bytes", {0x02}}});
    ASSERT_TRUE(StandInBridge::WaitFor([&] { return callback.Bytes().size() == before + 2; }));
    serial->Close(false);
    EXPECT_TRUE(AllThreadsEnded());
    const std::vector<std::uint8_t> bytes = callback.Bytes();
    EXPECT_EQ(
        std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(before), bytes.end()),
        (std::vector<std::uint8_t>{0x01, 0x02}));
  }
}

TEST_F(SerialSITest, AReadThreadStuckInACallbackIsBarredFromTheCallbackAfter3000Ms) {
  bridge.Attach();
  std::atomic<bool> blocked{false};
  callback.onByte = [&blocked] {
    if (!blocked.exchange(true)) std::this_thread::sleep_for(milliseconds(4000));
  };
  auto serial = OpenSerial();
  ASSERT_TRUE(ReadPending());
  bridge.Si({{"command", "send"}, {"device", 0}, {"bytes", {0x01, 0x02, 0x03}}});
  ASSERT_TRUE(StandInBridge::WaitFor([&] { return blocked.load(); }));
  const Steady::time_point closing = Steady::now();
  serial->Close(false);
  // Waited 3000 ms, then for the callback already running; never killed.
  EXPECT_GE(Steady::now() - closing, milliseconds(3500));
  EXPECT_TRUE(serial->ReadThreadAbandoned());
  const std::size_t atClose = callback.Callbacks();
  EXPECT_TRUE(AllThreadsEnded());
  std::this_thread::sleep_for(milliseconds(200));
  // Nothing reached the callback once Close had returned.
  EXPECT_EQ(callback.Callbacks(), atClose);
}

TEST_F(SerialSITest, AutoInitTakesTheFirstStationThatOpensAtBaud0) {
  bridge.Attach({{"product", "Some Other Bridge"}});
  bridge.Attach({{"product", "ANT USB Stick"}, {"failOpen", true}});
  bridge.Attach({{"product", "ANT USB Stick 2"}});
  bridge.ClearCalls();
  DSISerialSI serial = MakeSerial();
  ASSERT_TRUE(serial.AutoInit());
  EXPECT_EQ(serial.GetDeviceNumber(), 2);
  const std::vector<std::string> calls = bridge.Calls();
  // Device 0 was skipped by its text, device 1 did not open, device 2 opened at 0 baud and
  // was closed at once.
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SI_Open(0)"), 0);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SI_Open(1)"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SI_Open(2)"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SI_SetBaudRate(0)"), 1);
  EXPECT_EQ(calls.back(), "SI_Close");
  EXPECT_TRUE(restarts.empty());
  // Selected at 50000 baud.
  serial.SetCallback(&callback);
  bridge.ClearCalls();
  ASSERT_TRUE(serial.Open());
  EXPECT_EQ(bridge.Device(2)["baud"], 50000);
}

TEST_F(SerialSITest, AutoInitAcceptsTheShortTextAntAndAnUnreadableText) {
  bridge.Attach({{"product", "ANT"}});
  DSISerialSI serial = MakeSerial();
  EXPECT_TRUE(serial.AutoInit());
  EXPECT_EQ(serial.GetDeviceNumber(), 0);
  bridge.Reset();
  bridge.Attach({{"product", "Something"}, {"failOptions", {1}}});
  EXPECT_TRUE(serial.AutoInit());
  EXPECT_EQ(serial.GetDeviceNumber(), 0);
}

TEST_F(SerialSITest, AutoInitWithoutAStationRestartsTheStationFamilyAndFails) {
  bridge.Attach({{"product", "ANT USB Stack"}});
  DSISerialSI serial = MakeSerial();
  EXPECT_FALSE(serial.AutoInit());
  EXPECT_EQ(restarts, std::vector<std::string>{"@USB\\VID_0FCF&PID_1004\\*"});
  bridge.Reset();
  EXPECT_FALSE(serial.AutoInit());
  EXPECT_EQ(restarts.size(), 2U);
}

TEST_F(SerialSITest, ClosingWhileAByteStreamRunsLosesNothingBeforeAndDeliversNothingAfter) {
  bridge.Attach();
  auto serial = OpenSerial();
  ASSERT_TRUE(ReadPending());
  bridge.Si({{"command", "stream"}, {"device", 0}, {"pattern", {1, 2, 3, 4}}, {"repeat", 100000}});
  ASSERT_TRUE(StandInBridge::WaitFor([&] { return callback.Bytes().size() > 1000; }));
  serial->Close(false);
  const std::vector<std::uint8_t> bytes = callback.Bytes();
  for (std::size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], (i % 4) + 1) << i;
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(callback.Bytes().size(), bytes.size());
}

}  // namespace
}  // namespace Pellux
