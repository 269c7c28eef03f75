#include <gtest/gtest.h>

#include <vector>

#include "device/ant_message.h"
#include "link/packet.h"
#include "link/packet_bytes.h"
#include "link/received_unit.h"
#include "sim/virtual_ant_module.h"
#include "station_fixture.h"
#include "transfer_helpers.h"

namespace Pellux {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kSession = 0x2345;
constexpr std::uint32_t kHostId = 0x7A6B5C4D;

class DataTransferTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    Link(kSession, kHostId);
  }

  void Script(std::vector<std::uint8_t> prefix, TrackerAnswer answer) {
    Station().WithTracker(
        [&](VirtualTracker& tracker) { tracker.SetAnswer(std::move(prefix), std::move(answer)); });
  }

  // Sends a command and returns the tracker's first packet in answer.
  Bytes Ask(const CommandPacket& command) {
    EXPECT_EQ(CountEvents(Deliver(command), AntEvent::kTransferTxCompleted), 1u);
    return ReceiveFromTracker(1);
  }
};

TEST_F(DataTransferTest, ACommandIsAnsweredWithItsScriptedTerminatingStatus) {
  Script({0x21, 0x05}, TrackerAnswer::Status(StatusPacket::kSuccess, 0xAABBCCDD));
  const Bytes answer = Ask(MakeCommand({0x21, 0x05, 1, 2, 3, 4, 5}));
  ASSERT_EQ(answer.size(), 8u);
  EXPECT_EQ(ClassifyUnit(answer).kind, UnitKind::Status);
  EXPECT_EQ(answer[0], 0x39);  // after the PONG of the link
  const StatusPacket status{Carried(answer)};
  EXPECT_TRUE(status.IsSuccess());
  EXPECT_EQ(status.StatusData(), 0xAABBCCDDu);
  EXPECT_EQ(Station().Tracker().commands,
            (std::vector<ReceivedCommand>{{{0x21, 0x05, 1, 2, 3, 4, 5}, {}}}));
}

TEST_F(DataTransferTest, AFailingCommandAndAnUnknownOneEndWithOtherSubCodes) {
  Script({0x30}, TrackerAnswer::Status(5));
  const StatusPacket failed{Carried(Ask(MakeCommand({0x30, 9})))};
  EXPECT_TRUE(failed.IsFailure());
  EXPECT_EQ(failed.SubCode(), 5);
  const StatusPacket unknown{Carried(Ask(MakeCommand({0x31, 9})))};
  EXPECT_EQ(unknown.SubCode(), TrackerAnswer::kUnknownCommand);
  EXPECT_EQ(Station().Tracker().commands.size(), 2u);
}

TEST_F(DataTransferTest, TheLongestMatchingPrefixChoosesTheAnswer) {
  Script({0x21}, TrackerAnswer::Status(1));
  Script({0x21, 0x07}, TrackerAnswer::Status(3));
  Script({0x21, 0x07, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, TrackerAnswer::Status(4));
  EXPECT_EQ(StatusPacket{Carried(Ask(MakeCommand({0x21, 0x07, 0x01})))}.SubCode(), 3);
  EXPECT_EQ(StatusPacket{Carried(Ask(MakeCommand({0x21, 0x08})))}.SubCode(), 1);
  Station().WithTracker(
      [](VirtualTracker& tracker) { tracker.SetDefaultAnswer(TrackerAnswer::Status(6)); });
  EXPECT_EQ(StatusPacket{Carried(Ask(MakeCommand({0x22})))}.SubCode(), 6);
}

TEST_F(DataTransferTest, DataAvailableIsFetchedInBurstsOnTheHostsRequests) {
  const Bytes data = Pattern(1000);
  Script({0x22}, TrackerAnswer::Download(data));
  const StatusPacket available{Carried(Ask(MakeCommand({0x22, 0x01})))};
  EXPECT_TRUE(available.HasDataAvailable());
  EXPECT_EQ(available.StatusData(), 1000u);

  Bytes fetched;
  std::uint8_t transport = 0x3A;
  for (std::uint16_t request = 0; request < 2; ++request) {
    EXPECT_EQ(CountEvents(Deliver(RequestNumbered(request)), AntEvent::kTransferTxCompleted), 1u);
    const Bytes image = ReceiveFromTracker(1);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image[0], transport++);
    ASSERT_EQ(ClassifyUnit(std::span(image).first(8)).kind, UnitKind::Data);
    const DataPacket chunk{Carried(image)};
    const std::size_t expectedSize = request == 0 ? 512 : 488;
    EXPECT_EQ(chunk.DeclaredSize(), expectedSize);
    EXPECT_EQ(chunk.RequestNumber(), request);
    // 8 header bytes and the chunk, padded to whole blocks, with the burst sequence bits.
    EXPECT_EQ(image.size(), (8 + expectedSize + 7) / 8 * 8);
    EXPECT_EQ(lastBurstChannelBytes_, BurstChannelBytes(image.size() / 8));
    const Bytes payload(image.begin() + 8, image.begin() + 8 + static_cast<long>(expectedSize));
    EXPECT_EQ(Checksum(payload), chunk.PayloadChecksum());
    fetched.insert(fetched.end(), payload.begin(), payload.end());
  }
  EXPECT_EQ(fetched, data);

  // Nothing left: an empty chunk, in a single acknowledged message.
  Deliver(RequestNumbered(2));
  const Bytes end = ReceiveFromTracker(1);
  ASSERT_EQ(end.size(), 8u);
  EXPECT_EQ(WithId(lastFrames_, AntId::kAcknowledgedData).size(), 1u);
  EXPECT_TRUE(WithId(lastFrames_, AntId::kBurstData).empty());
  EXPECT_TRUE(DataPacket{Carried(end)}.IsEndOfTransfer());
}

TEST_F(DataTransferTest, ADataPacketEchoesTheRequestAndPadsTheLastBlock) {
  Script({0x22}, TrackerAnswer::Download(Bytes{0x01, 0x02, 0x04}));
  Ask(MakeCommand({0x22}));
  Deliver(DataRequestPacket(LogicalPacket(PacketHeader{0x60, 0x00, 0x02, 0x07, 0x00, 0x09, 0})));
  const Bytes image = ReceiveFromTracker(1);
  EXPECT_EQ(image, (Bytes{0x3A, 0x80, 0x03, 0x00, 0x07, 0x00, 0x09, 0x07,  //
                          0x01, 0x02, 0x04, 0, 0, 0, 0, 0}));
  EXPECT_EQ(lastBurstChannelBytes_, (Bytes{0x00, 0xA0}));
}

TEST_F(DataTransferTest, AChunkIsNoLargerThanTheRequestedSize) {
  const Bytes data = Pattern(150);
  Script({0x22}, TrackerAnswer::Download(data));
  Ask(MakeCommand({0x22}));
  Bytes fetched;
  for (std::uint16_t request = 0; request < 3; ++request) {
    Deliver(DataRequestPacket(
        LogicalPacket(PacketHeader{0x60, 64, 0, static_cast<std::uint8_t>(request), 0, 0, 0})));
    const Bytes image = ReceiveFromTracker(1);
    const DataPacket chunk{Carried(image)};
    EXPECT_EQ(chunk.DeclaredSize(), request < 2 ? 64 : 22);
    fetched.insert(fetched.end(), image.begin() + 8, image.begin() + 8 + chunk.DeclaredSize());
  }
  EXPECT_EQ(fetched, data);
}

TEST_F(DataTransferTest, ARequestWithNothingToFetchGetsAnEmptyChunk) {
  Deliver(RequestNumbered(4));
  const Bytes end = ReceiveFromTracker(1);
  ASSERT_EQ(end.size(), 8u);
  const DataPacket packet{Carried(end)};
  EXPECT_TRUE(packet.IsEndOfTransfer());
  EXPECT_EQ(packet.RequestNumber(), 4);
}

TEST_F(DataTransferTest, TheTrackerFetchesAThousandBytePayloadIn512ByteRequests) {
  const Bytes payload = Pattern(1000);
  Script({0x40, 0x11}, TrackerAnswer::Upload(512, 1000));
  Bytes request = Ask(MakeCommand({0x40, 0x11}));
  std::size_t offset = 0;
  for (std::uint16_t number = 0; number < 2; ++number) {
    ASSERT_EQ(ClassifyUnit(request).kind, UnitKind::DataRequest);
    const DataRequestPacket drq{Carried(request)};
    EXPECT_EQ(drq.RequestedSize(), 512);
    EXPECT_EQ(drq.RequestNumber(), number);
    const std::size_t size = std::min<std::size_t>(512, payload.size() - offset);
    const DataPacket chunk(Bytes(payload.begin() + static_cast<long>(offset),
                                 payload.begin() + static_cast<long>(offset + size)),
                           drq);
    offset += size;
    EXPECT_EQ(CountEvents(Deliver(chunk), AntEvent::kTransferTxCompleted), 1u);
    request = ReceiveFromTracker(1);
  }
  // The expected size has come: the tracker ends without asking again.
  const StatusPacket status{Carried(request)};
  EXPECT_TRUE(status.IsSuccess());
  EXPECT_EQ(status.StatusData(), 1000u);
  const TrackerSnapshot tracker = Station().Tracker();
  ASSERT_EQ(tracker.commands.size(), 1u);
  EXPECT_EQ(tracker.commands[0].payload, payload);
  EXPECT_EQ(tracker.dataErrors, 0u);
}

TEST_F(DataTransferTest, WithoutAnExpectedSizeTheUploadEndsOnAnEmptyChunk) {
  Script({0x41}, TrackerAnswer::Upload(256));
  const Bytes payload = Pattern(300);
  DataRequestPacket drq{Carried(Ask(MakeCommand({0x41})))};
  EXPECT_EQ(drq.RequestedSize(), 256);
  Deliver(DataPacket(Bytes(payload.begin(), payload.begin() + 256), drq));
  drq = DataRequestPacket{Carried(ReceiveFromTracker(1))};
  Deliver(DataPacket(Bytes(payload.begin() + 256, payload.end()), drq));
  drq = DataRequestPacket{Carried(ReceiveFromTracker(1))};
  EXPECT_EQ(drq.RequestNumber(), 2);
  Deliver(DataPacket({}, drq));
  const StatusPacket status{Carried(ReceiveFromTracker(1))};
  EXPECT_TRUE(status.IsSuccess());
  EXPECT_EQ(status.StatusData(), 300u);
  EXPECT_EQ(Station().Tracker().commands[0].payload, payload);
}

TEST_F(DataTransferTest, AnUploadChunkForAnotherRequestEndsTheCommandAsBadData) {
  Script({0x41}, TrackerAnswer::Upload(512));
  const DataRequestPacket drq{Carried(Ask(MakeCommand({0x41})))};
  Deliver(DataPacket(Pattern(10),
                     RequestNumbered(static_cast<std::uint16_t>(drq.RequestNumber() + 1))));
  const StatusPacket status{Carried(ReceiveFromTracker(1))};
  EXPECT_EQ(status.SubCode(), TrackerAnswer::kBadData);
  EXPECT_EQ(Station().Tracker().dataErrors, 1u);
  EXPECT_TRUE(Station().Tracker().commands[0].payload.empty());
}

TEST_F(DataTransferTest, ABurstWithBrokenSequenceBitsFailsAndReachesNobody) {
  const std::size_t before = Station().Tracker().received.size();
  Bytes image;
  TransportPacket(DataPacket(Pattern(20), RequestNumbered(0)), ++sequence_).Serialize(image);
  image.resize(32, 0);
  std::vector<AntFrame> blocks = BurstFrames(kChannel, image);
  blocks[2].data[0] = 0x60;  // 0x40 expected
  for (const AntFrame& block : blocks) {
    Write(block);
  }
  const std::vector<AntFrame> period = Periods(1);
  EXPECT_EQ(CountEvents(period, AntEvent::kTransferTxFailed), 1u);
  EXPECT_EQ(CountEvents(period, AntEvent::kTransferTxCompleted), 0u);
  EXPECT_EQ(Station().Tracker().received.size(), before);
}

TEST_F(DataTransferTest, ASecondTransferBeforeThePeriodIsRefusedAsInProgress) {
  Send(PingPacket());
  const std::vector<AntFrame> answered = Send(PingPacket());
  EXPECT_EQ(answered, std::vector<AntFrame>{ResponseFrame(kChannel, AntId::kAcknowledgedData,
                                                          VirtualAntModule::kTransferInProgress)});
  Bytes image(16, 0);
  image[0] = 0x38;
  for (const AntFrame& block : BurstFrames(kChannel, image)) {
    Write(block);
  }
  Station().Settle();
  EXPECT_EQ(host_.Take(), std::vector<AntFrame>{ResponseFrame(
                              kChannel, AntId::kBurstData, VirtualAntModule::kTransferInProgress)});
  EXPECT_EQ(CountEvents(Periods(1), AntEvent::kTransferTxCompleted), 1u);
}

TEST_F(DataTransferTest, ABurstOnAClosedChannelIsRefused) {
  CloseChannel();
  Bytes image(16, 0);
  Write(BurstFrames(kChannel, image)[0]);
  Station().Settle();
  EXPECT_EQ(host_.Take(), std::vector<AntFrame>{ResponseFrame(kChannel, AntId::kBurstData, 0x16)});
}

}  // namespace
}  // namespace Pellux
