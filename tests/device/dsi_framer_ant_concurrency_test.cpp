// The framer's three threads at once: the transport's receive thread, the pump, and threads
// that send commands and data. Short runs with real threads, meant for ThreadSanitizer.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "device/dsi_framer_ant.h"
#include "tests/device/ant_frames.h"
#include "tests/device/fake_serial.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// A passing run never waits this long for anything.
constexpr auto kPatientWait = 2000ms;

constexpr int kBroadcasts = 2000;
constexpr int kCommandThreads = 2;
constexpr int kCommandsPerThread = 40;
constexpr int kDataWrites = 200;

// The module: answers every configuration command with "no error", data with nothing.
Bytes Module(const Bytes& written) {
  const std::uint8_t id = written[2];
  if (id == AntId::kAcknowledgedData || id == AntId::kBurstData) return {};
  return Frame(AntId::kChannelResponse, {written[3], id, AntResponse::kNoError});
}

struct PumpResult {
  int broadcasts = 0;
  int responses = 0;
  int outOfOrder = 0;
  int errors = 0;
};

// A pump as the manager runs it: wait, take, repeat; stops on an error or once it has seen
// everything it expects.
PumpResult Pump(DSIFramer& framer, int responses) {
  PumpResult result;
  int idleWaits = 0;
  while (result.broadcasts < kBroadcasts || result.responses < responses) {
    const std::uint16_t waited = framer.WaitForMessage(100);
    if (waited == DSIFramer::kTimedOut) {
      if (++idleWaits * 100ms > kPatientWait) break;
      continue;
    }
    AntMessage out;
    const std::uint16_t length = framer.GetMessage(out, 0);
    if (length == DSIFramer::kFramerError || waited == DSIFramer::kFramerError) {
      ++result.errors;
      break;
    }
    if (out.id == AntId::kBroadcastData && length == 9) {
      const int number = out.data[1] | (out.data[2] << 8);
      if (number != result.broadcasts) ++result.outOfOrder;
      ++result.broadcasts;
    } else if (out.id == AntId::kChannelResponse) {
      ++result.responses;
    }
  }
  return result;
}

TEST(DSIFramerANTConcurrencyTest, ReceivePumpCommandsAndDataTogether) {
  FakeSerial serial;
  DSIFramerANT framer(&serial, kPatientWait);
  serial.SetCallback(&framer);
  ASSERT_TRUE(framer.Init());
  serial.AnswerWith(Module);
  ASSERT_TRUE(serial.Open());

  const int expectedResponses = kCommandThreads * kCommandsPerThread;
  PumpResult pumped;
  std::thread pump([&] { pumped = Pump(framer, expectedResponses); });

  std::atomic<int> succeeded{0};
  std::vector<std::thread> commanders;
  for (int t = 0; t < kCommandThreads; ++t) {
    commanders.emplace_back([&, t] {
      for (int i = 0; i < kCommandsPerThread; ++i) {
        const auto channel = static_cast<std::uint8_t>(t);
        if (framer.SendCommand(Message(AntId::kChannelPeriod, {channel, 0x00, 0x20}), 3)) {
          ++succeeded;
        }
      }
    });
  }

  std::atomic<int> written{0};
  std::thread data([&] {
    for (int i = 0; i < kDataWrites; ++i) {
      if (framer.WriteMessage(Message(AntId::kAcknowledgedData, {0x00, 1, 2, 3, 4, 5, 6, 7, 8}),
                              9)) {
        ++written;
      }
    }
  });

  // The radio's broadcasts, a few frames to a USB packet.
  for (int i = 0; i < kBroadcasts; i += 4) {
    Bytes packet;
    for (int j = i; j < i + 4; ++j) {
      packet = Concat({packet, Frame(AntId::kBroadcastData,
                                     {0x00, static_cast<std::uint8_t>(j),
                                      static_cast<std::uint8_t>(j >> 8), 3, 4, 5, 6, 7, 8})});
    }
    serial.Deliver(packet);
  }

  for (std::thread& commander : commanders) commander.join();
  data.join();
  pump.join();
  serial.Close(false);

  EXPECT_EQ(succeeded.load(), expectedResponses);
  EXPECT_EQ(written.load(), kDataWrites);
  EXPECT_EQ(pumped.broadcasts, kBroadcasts);
  EXPECT_EQ(pumped.responses, expectedResponses);
  EXPECT_EQ(pumped.outOfOrder, 0);
  EXPECT_EQ(pumped.errors, 0);
}

TEST(DSIFramerANTConcurrencyTest, AnErrorFromTheReceiveThreadStopsAWaitingPump) {
  FakeSerial serial;
  DSIFramerANT framer(&serial, kPatientWait);
  serial.SetCallback(&framer);
  ASSERT_TRUE(framer.Init());
  ASSERT_TRUE(serial.Open());

  AntMessage error;
  std::thread pump([&] {
    // Goes on through messages until the error comes, as the manager's pump does: the error may
    // show in WaitForMessage or, when it comes in between, in GetMessage.
    for (;;) {
      const std::uint16_t waited = framer.WaitForMessage(1000);
      if (waited == DSIFramer::kTimedOut) continue;
      const std::uint16_t taken = framer.GetMessage(error, 0);
      if (waited == DSIFramer::kFramerError || taken == DSIFramer::kFramerError) return;
    }
  });
  for (int i = 0; i < 100; ++i) serial.Deliver(Frame(AntId::kBroadcastData, {0x00}));
  serial.Deliver({0xA4, 0x01, 0x6F, 0x20, 0xEB});
  pump.join();
  serial.Close(false);

  EXPECT_EQ(error.id, DSIFramerANT::kErrorReported);
  EXPECT_EQ(error.data[0], DSIFramerANT::kBadChecksum);
}

TEST(DSIFramerANTConcurrencyTest, CommandsOnManyChannelsWhileFramesPourIn) {
  // Many waiters in the list at once, registered and removed while the receive thread walks it.
  FakeSerial serial;
  DSIFramerANT framer(&serial, kPatientWait);
  serial.SetCallback(&framer);
  ASSERT_TRUE(framer.Init());
  serial.AnswerWith(Module);
  ASSERT_TRUE(serial.Open());

  std::atomic<int> closed{0};
  std::vector<std::thread> closers;
  for (int channel = 0; channel < 8; ++channel) {
    closers.emplace_back([&, channel] {
      const auto ch = static_cast<std::uint8_t>(channel);
      for (int i = 0; i < 10; ++i) {
        // The response comes from the module; the event from the radio below.
        if (framer.CloseChannelAndWait(ch)) ++closed;
      }
    });
  }
  std::atomic<bool> stop{false};
  std::thread radio([&] {
    while (!stop) {
      Bytes events;
      for (int channel = 0; channel < 8; ++channel) {
        events = Concat(
            {events, Frame(AntId::kChannelResponse, {static_cast<std::uint8_t>(channel),
                                                     AntId::kEvent, AntEvent::kChannelClosed})});
      }
      serial.Deliver(events);
      serial.Settle();
      // The pump's part: keep the queue short.
      while (framer.WaitForMessage(0) != DSIFramer::kTimedOut) {
        AntMessage out;
        framer.GetMessage(out, 0);
      }
    }
  });
  for (std::thread& closer : closers) closer.join();
  stop = true;
  radio.join();
  serial.Close(false);
  EXPECT_EQ(closed.load(), 80);
}

}  // namespace
}  // namespace Pellux
