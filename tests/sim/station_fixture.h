#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/packet.h"
#include "sim/ant_frame.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_clock.h"
#include "test_host.h"

namespace Pellux {

// --- Frames ---

AntFrame ResponseFrame(std::uint8_t first, std::uint8_t answered, std::uint8_t code);
AntFrame EventFrame(std::uint8_t channel, std::uint8_t code);
AntFrame StartupFrame();
[[nodiscard]] bool IsEvent(const AntFrame& frame, std::uint8_t code);
[[nodiscard]] std::vector<AntFrame> WithId(const std::vector<AntFrame>& frames, std::uint8_t id);
[[nodiscard]] std::size_t CountEvents(const std::vector<AntFrame>& frames, std::uint8_t code);
// The host's configuration sequence, reset first, for a search on `deviceNumber`.
[[nodiscard]] std::vector<AntFrame> ConfigurationSequence(std::uint16_t deviceNumber,
                                                          std::uint8_t frequency = 2);
// Splits a packet image into burst blocks with the host's sequence bits.
[[nodiscard]] std::vector<AntFrame> BurstFrames(std::uint8_t channel,
                                                const std::vector<std::uint8_t>& image);

// A station opened at device position 0 behind a TestHost, with helpers that play the host's
// side of the radio the way the engine does.
class StationTest : public ::testing::Test {
 protected:
  static constexpr std::chrono::milliseconds kPeriod{125};
  static constexpr std::uint8_t kChannel = 0;

  void SetUp() override { Start(); }
  void TearDown() override;

  // Replaces the station with a new one, opened.
  void Start(BaseStationOptions options = {});
  VirtualBaseStation& Station() { return *station_; }

  // Writes one message as the host does: the frame, then two zero bytes.
  void Write(const AntFrame& message);
  // Writes and returns what the station answered at once.
  std::vector<AntFrame> Command(const AntFrame& message);
  // Lets `duration` of virtual time pass and returns what the station reported meanwhile.
  std::vector<AntFrame> Wait(std::chrono::milliseconds duration);
  std::vector<AntFrame> Periods(int count) { return Wait(kPeriod * count); }

  // Runs the configuration sequence for a search on `deviceNumber` and opens the channel,
  // expecting each step to succeed.
  void OpenChannel(std::uint16_t deviceNumber = 0xFFFF);
  // Closes the channel, expecting the response and the channel-closed event.
  void CloseChannel();

  // Wraps `packet` with the next transmit sequence number and writes it as one acknowledged
  // message or as a burst; returns what the station answered at once.
  std::vector<AntFrame> Send(const Packet& packet);
  // Writes the frames of the last Send again, as the engine's retry does; returns what the
  // station answered at once.
  std::vector<AntFrame> Resend();
  // Send, then one message period; returns what that period reported.
  std::vector<AntFrame> Deliver(const Packet& packet);
  // Starts the transmit sequence over, as the engine does before RESET and LINK and whenever
  // a channel opens.
  void ResetSequence() { sequence_ = -1; }
  // Runs message periods until the station reports a unit or a whole burst from the tracker
  // and returns its image; fails the test after `limit` periods. The frames of the last period
  // stay in lastFrames_ and the channel bytes of a burst in lastBurstChannelBytes_.
  std::vector<std::uint8_t> ReceiveFromTracker(int limit = 8);
  // The whole link: beacon search, RESET, LINK, close, session channel, PING and PONG.
  void Link(std::uint16_t sessionDeviceNumber, std::uint32_t hostId);

  VirtualClock clock_;
  TestHost host_;
  std::unique_ptr<VirtualBaseStation> station_;
  int sequence_ = -1;
  std::vector<AntFrame> lastSent_;
  std::vector<AntFrame> lastFrames_;
  std::vector<std::uint8_t> lastBurstChannelBytes_;
};

}  // namespace Pellux
