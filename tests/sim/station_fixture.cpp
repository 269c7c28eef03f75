#include "station_fixture.h"

#include "device/ant_message.h"
#include "link/received_unit.h"

namespace Pellux {

AntFrame ResponseFrame(std::uint8_t first, std::uint8_t answered, std::uint8_t code) {
  return AntFrame{AntId::kChannelResponse, {first, answered, code}};
}

AntFrame EventFrame(std::uint8_t channel, std::uint8_t code) {
  return ResponseFrame(channel, AntId::kEvent, code);
}

AntFrame StartupFrame() {
  return AntFrame{AntId::kStartup, {kAntStartupCommandReset}};
}

bool IsEvent(const AntFrame& frame, std::uint8_t code) {
  return frame.id == AntId::kChannelResponse && frame.data.size() == 3 &&
         frame.data[1] == AntId::kEvent && frame.data[2] == code;
}

std::vector<AntFrame> WithId(const std::vector<AntFrame>& frames, std::uint8_t id) {
  std::vector<AntFrame> selected;
  for (const AntFrame& frame : frames) {
    if (frame.id == id) selected.push_back(frame);
  }
  return selected;
}

std::size_t CountEvents(const std::vector<AntFrame>& frames, std::uint8_t code) {
  std::size_t count = 0;
  for (const AntFrame& frame : frames) {
    if (IsEvent(frame, code)) ++count;
  }
  return count;
}

std::vector<AntFrame> ConfigurationSequence(std::uint16_t deviceNumber, std::uint8_t frequency) {
  const auto low = static_cast<std::uint8_t>(deviceNumber & 0xFF);
  const auto high = static_cast<std::uint8_t>(deviceNumber >> 8);
  return {
      {AntId::kSystemReset, {0x00}},
      {AntId::kNetworkKey, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {AntId::kAssignChannel, {0, 0, 0}},
      {AntId::kChannelPeriod, {0, 0x00, 0x10}},
      {AntId::kRadioFrequency, {0, frequency}},
      {AntId::kTransmitPower, {0x00, 3}},
      {AntId::kSearchTimeout, {0, 0xFF}},
      {AntId::kChannelId, {0, low, high, 1, 1}},
      {AntId::kOpenChannel, {0}},
  };
}

std::vector<AntFrame> BurstFrames(std::uint8_t channel, const std::vector<std::uint8_t>& image) {
  std::vector<AntFrame> frames;
  const std::size_t blocks = image.size() / 8;
  std::uint8_t sequence = 0;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::uint8_t channelByte = channel | sequence;
    if (i + 1 == blocks) channelByte |= 0x80;
    AntFrame frame{AntId::kBurstData, {channelByte}};
    frame.data.insert(frame.data.end(), image.begin() + static_cast<std::ptrdiff_t>(i * 8),
                      image.begin() + static_cast<std::ptrdiff_t>(i * 8 + 8));
    frames.push_back(std::move(frame));
    sequence = sequence == 0x60 ? 0x20 : static_cast<std::uint8_t>(sequence + 0x20);
  }
  return frames;
}

void StationTest::TearDown() {
  if (station_) station_->Close(false);
}

void StationTest::Start(BaseStationOptions options) {
  if (station_) station_->Close(false);
  station_ = std::make_unique<VirtualBaseStation>(clock_, std::move(options));
  station_->SetCallback(&host_);
  ASSERT_TRUE(station_->Init(50000, 0));
  ASSERT_TRUE(station_->Open());
}

void StationTest::Write(const AntFrame& message) {
  std::vector<std::uint8_t> bytes = message.Encode();
  bytes.push_back(0);
  bytes.push_back(0);
  ASSERT_TRUE(station_->WriteBytes(bytes.data(), bytes.size()));
}

std::vector<AntFrame> StationTest::Command(const AntFrame& message) {
  Write(message);
  station_->Settle();
  return host_.Take();
}

std::vector<AntFrame> StationTest::Wait(std::chrono::milliseconds duration) {
  station_->Settle();
  clock_.Advance(duration);
  return host_.Take();
}

void StationTest::OpenChannel(std::uint16_t deviceNumber) {
  for (const AntFrame& step : ConfigurationSequence(deviceNumber)) {
    const std::vector<AntFrame> answer = Command(step);
    if (step.id == AntId::kSystemReset) {
      ASSERT_EQ(answer, std::vector<AntFrame>{StartupFrame()});
    } else {
      ASSERT_EQ(answer, std::vector<AntFrame>{ResponseFrame(step.data[0], step.id, 0)})
          << "step 0x" << std::hex << int{step.id};
    }
  }
  ResetSequence();
}

void StationTest::CloseChannel() {
  const std::vector<AntFrame> answer = Command({AntId::kCloseChannel, {kChannel}});
  ASSERT_EQ(answer, (std::vector<AntFrame>{ResponseFrame(kChannel, AntId::kCloseChannel, 0),
                                           EventFrame(kChannel, AntEvent::kChannelClosed)}));
}

std::vector<AntFrame> StationTest::Send(const Packet& packet) {
  std::vector<std::uint8_t> image;
  TransportPacket(packet, ++sequence_).Serialize(image);
  image.resize((image.size() + 7) / 8 * 8, 0);
  if (image.size() == 8) {
    AntFrame frame{AntId::kAcknowledgedData, {kChannel}};
    frame.data.insert(frame.data.end(), image.begin(), image.end());
    lastSent_ = {frame};
  } else {
    lastSent_ = BurstFrames(kChannel, image);
  }
  return Resend();
}

std::vector<AntFrame> StationTest::Resend() {
  for (const AntFrame& frame : lastSent_) {
    Write(frame);
  }
  station_->Settle();
  return host_.Take();
}

std::vector<AntFrame> StationTest::Deliver(const Packet& packet) {
  std::vector<AntFrame> answered = Send(packet);
  EXPECT_TRUE(answered.empty());
  return Periods(1);
}

std::vector<std::uint8_t> StationTest::ReceiveFromTracker(int limit) {
  for (int i = 0; i < limit; ++i) {
    lastFrames_ = Periods(1);
    std::vector<std::uint8_t> image;
    lastBurstChannelBytes_.clear();
    for (const AntFrame& frame : lastFrames_) {
      if (frame.id == AntId::kAcknowledgedData) {
        return {frame.data.begin() + 1, frame.data.end()};
      }
      if (frame.id == AntId::kBurstData) {
        lastBurstChannelBytes_.push_back(frame.data[0]);
        image.insert(image.end(), frame.data.begin() + 1, frame.data.end());
        if ((frame.data[0] & 0x80) != 0) return image;
      }
    }
  }
  ADD_FAILURE() << "nothing from the tracker in " << limit << " message periods";
  return {};
}

void StationTest::Link(std::uint16_t sessionDeviceNumber, std::uint32_t hostId) {
  OpenChannel(0xFFFF);
  ASSERT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
  ResetSequence();
  ASSERT_EQ(CountEvents(Deliver(ResetPacket()), AntEvent::kTransferTxCompleted), 1u);
  ResetSequence();
  ASSERT_EQ(
      CountEvents(Deliver(LinkPacket(sessionDeviceNumber, hostId)), AntEvent::kTransferTxCompleted),
      1u);
  CloseChannel();
  OpenChannel(sessionDeviceNumber);
  ASSERT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
  ASSERT_EQ(CountEvents(Deliver(PingPacket()), AntEvent::kTransferTxCompleted), 1u);
  const std::vector<std::uint8_t> pong = ReceiveFromTracker();
  ASSERT_EQ(pong.size(), 8u);
  ASSERT_EQ(ClassifyUnit(pong).kind, UnitKind::Control);
}

}  // namespace Pellux
