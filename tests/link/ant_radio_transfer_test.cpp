#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/packet_bytes.h"
#include "tests/support/radio_engine_fixture.h"

namespace Pellux {
namespace {

// The transfer rules on an open channel whose tracker a test plays by hand: every unit the
// tracker would send is injected as the module would report it, and what the host writes is
// read back from the station.
class TransferTest : public RadioEngineTest {
 protected:
  void SetUp() override {
    RadioEngineTest::SetUp();
    station.Faults().SetTrackerInRange(false);
    station.Faults().SetTransfersSwallowed(true);
    Act("init", "standard");
    ASSERT_TRUE(radio->IsChannelOpen());
    Radio([this] { radio->SetLinkState(LinkState::Linked); });
  }

  void Inject(const AntFrame& frame) {
    station.InjectMessage(frame);
    Settle();
  }

  // An acknowledged unit from the tracker: transport byte 0x38 with `sequence` (and bit 6 for
  // a control packet), then a header.
  void InjectUnit(std::uint8_t sequence, const PacketHeader& header, bool control = false) {
    const auto transport = static_cast<std::uint8_t>(0x38 | (control ? 0x40 : 0) | sequence);
    const AntFrame frame{0x4F,
                         {0, transport, header[0], header[1], header[2], header[3], header[4],
                          header[5], header[6]}};
    Inject(frame);
  }

  void InjectEvent(std::uint8_t code) { Inject({0x40, {0, 0x01, code}}); }

  // Runs one operation of the current instruction, as a server document would.
  void RunOperation(std::vector<std::uint8_t> payload = {}) {
    Radio([this, &payload] {
      ServerResponse instruction;
      instruction.host = "srv";
      instruction.port = 80;
      instruction.path = "/next";
      instruction.action = "command";
      auto command = std::make_shared<Command>();
      command->packet =
          std::make_shared<CommandPacket>(LogicalPacket(PacketHeader{0x22, 1, 0, 0, 0, 0, 0}));
      command->payload = std::move(payload);
      instruction.remoteOps.push_back(command);
      manager->ProcessRequest(instruction);
    });
    Settle();
  }

  std::vector<AntFrame> WrittenSince(std::size_t mark) const {
    const std::vector<AntFrame> all = station.HostMessages();
    return {all.begin() + static_cast<std::ptrdiff_t>(mark), all.end()};
  }

  static std::size_t Count(const std::vector<AntFrame>& frames, std::uint8_t id) {
    std::size_t count = 0;
    for (const AntFrame& frame : frames) count += frame.id == id ? 1 : 0;
    return count;
  }

  static std::vector<std::uint8_t> ChannelBytes(const std::vector<AntFrame>& frames) {
    std::vector<std::uint8_t> bytes;
    for (const AntFrame& frame : frames) {
      if (frame.id == 0x50) bytes.push_back(frame.data.at(0));
    }
    return bytes;
  }
};

TEST_F(TransferTest, PingExpiryOnItsWayWhenAUnitRearmsTheTimerIsDropped) {
  RunOperation();  // with a command outstanding, an expiry is an idle time-out
  Radio([this] {
    // The deadline passes while the pump handles a unit, which re-arms the timer.
    clock.Release(std::chrono::milliseconds(manager->PingInterval()));
    const std::vector<std::uint8_t> pong{0, 0x78, 0, 0, 0, 0, 0, 0, 0};
    radio->HandleChannelEvent(AntRadio::kAcknowledgedEvent, pong);
  });
  clock.Settle();
  Settle();
  EXPECT_FALSE(ui.HasLog("Idle timeout: 4000 milliseconds"));
  Radio([this] { EXPECT_NE(manager->RunningCommand(), nullptr); });
  // The wait it was re-armed with still ends in the time-out.
  Advance(std::chrono::milliseconds(4000));
  EXPECT_TRUE(ui.HasLog("Idle timeout: 4000 milliseconds"));
}

TEST_F(TransferTest, ShortPayloadIsPaddedAndBurstInTwoBlocks) {
  const std::size_t mark = station.HostMessageCount();
  Radio([this] { radio->QueuePacket(DataPacket(Pattern(5), DataRequestPacket()), "x"); });
  Settle();
  EXPECT_TRUE(ui.HasLog("Padding 13 bytes of data with 3 null bytes"));
  EXPECT_TRUE(ui.HasLog(">>>>> BURSTING 16 bytes of data"));
  const std::vector<AntFrame> written = WrittenSince(mark);
  ASSERT_EQ(written.size(), 2U);
  EXPECT_EQ(ChannelBytes(written), (std::vector<std::uint8_t>{0x00, 0xA0}));
  EXPECT_EQ(written[1].data, (std::vector<std::uint8_t>{0xA0, 0, 1, 2, 3, 4, 0, 0, 0}));
}

TEST_F(TransferTest, FiveBlockBurstCountsItsSequenceBitsAroundAndOneTransferIsInFlight) {
  const std::size_t mark = station.HostMessageCount();
  Radio([this] {
    radio->QueuePacket(DataPacket(Pattern(32), DataRequestPacket()), "x");
    radio->QueuePacket(PingPacket(), "y");
  });
  Settle();
  const std::vector<AntFrame> written = WrittenSince(mark);
  EXPECT_EQ(ChannelBytes(written), (std::vector<std::uint8_t>{0x00, 0x20, 0x40, 0x60, 0xA0}));
  // The ping went out once the burst was reported sent, not beside it.
  ASSERT_EQ(written.size(), 6U);
  EXPECT_EQ(written[5].id, 0x4F);
  EXPECT_LT(ui.FindLog("Sending 40 bytes of BURST data..."),
            ui.FindLog("Sending 8 bytes of ACK data...",
                       ui.FindLog("Sending 40 bytes of BURST data...")));
}

TEST_F(TransferTest, DataRequestIsAnsweredWithAtMostTheRequestedSize) {
  RunOperation(Pattern(1000));
  const std::size_t mark = station.HostMessageCount();
  // The tracker asks for 512 bytes (request number 0).
  InjectUnit(0, {0x60, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00});
  const std::vector<AntFrame> burst = WrittenSince(mark);
  ASSERT_EQ(burst.size(), 65U);
  EXPECT_EQ(burst.back().data.at(0) & 0x80, 0x80);
  // The data packet's header: type 4, 512 bytes, the request's number, the checksum.
  const std::vector<std::uint8_t> first(burst[0].data.begin() + 2, burst[0].data.end());
  const std::vector<std::uint8_t> expected = Pattern(1000);
  EXPECT_EQ(first, (std::vector<std::uint8_t>{0x80, 0x00, 0x02, 0x00, 0x00, 0x00,
                                              Checksum(std::span(expected.data(), 512))}));
  Radio([this] { EXPECT_EQ(manager->RunningCommand()->payload.size(), 488U); });
  EXPECT_FALSE(ui.HasLog("Padding"));
}

TEST_F(TransferTest, DataRequestsAreNumberedFromZeroOnEachChannel) {
  RunOperation();
  const std::size_t mark = station.HostMessageCount();
  // "Data available" twice: each answered with a data request of the next number.
  InjectUnit(0, {0x42, 0, 0, 0, 0, 0, 0});
  InjectUnit(1, {0x42, 0, 0, 0, 0, 0, 0});
  const std::vector<AntFrame> written = WrittenSince(mark);
  ASSERT_EQ(written.size(), 2U);
  EXPECT_EQ(written[0].data.at(2), 0x60);
  EXPECT_EQ(written[0].data.at(5), 0);
  EXPECT_EQ(written[1].data.at(5), 1);
  EXPECT_TRUE(ui.HasLog("DRQ packet 0..."));
  EXPECT_TRUE(ui.HasLog("DRQ packet 1..."));
}

TEST_F(TransferTest, AcknowledgedUnitsAreTakenInSequenceOnly) {
  RunOperation();
  const PacketHeader available{0x42, 0, 0, 0, 0, 0, 0};
  InjectUnit(3, available);  // nothing accepted yet: any number goes
  InjectUnit(3, available);
  EXPECT_TRUE(ui.HasLog("Ignoring duplicate packet [3]"));
  InjectUnit(5, available);
  EXPECT_TRUE(ui.HasLog("Lost packet?  Received packet out of order -- expected 4, not 5"));
  EXPECT_EQ(ui.CountLog("Data available."), 1U);
  for (std::uint8_t sequence : std::vector<std::uint8_t>{4, 5, 6, 7, 0}) {
    InjectUnit(sequence, available);
  }
  EXPECT_EQ(ui.CountLog("Data available."), 6U);
  // Receive failures start the count afresh.
  InjectEvent(0x04);
  EXPECT_TRUE(ui.HasLog("Data reception failed! Resetting data buffer..."));
  InjectUnit(6, available);
  EXPECT_EQ(ui.CountLog("Data available."), 7U);
}

TEST_F(TransferTest, BurstDataIsTrimmedToItsAnnouncedSizeOrRefused) {
  RunOperation();
  const auto receive = [this](std::uint16_t announced, std::uint8_t checksum) {
    // The data packet header in the first block, 24 bytes in three more.
    Inject({0x50, {0x00, 0x38, 0x80, static_cast<std::uint8_t>(announced), 0, 0, 0, 0, checksum}});
    Inject({0x50, {0x20, 0, 1, 2, 3, 4, 5, 6, 7}});
    Inject({0x50, {0x40, 8, 9, 10, 11, 12, 13, 14, 15}});
    Inject({0x50, {0xE0, 16, 17, 18, 19, 20, 21, 22, 23}});
  };
  receive(20, Checksum(Pattern(20)));
  EXPECT_TRUE(ui.HasLog("Trimming 4 trailing bytes"));
  EXPECT_TRUE(ui.HasLog("Received 20 bytes of data."));
  Radio([this] { EXPECT_EQ(manager->RunningCommand()->response, Pattern(20)); });

  receive(30, 0);
  EXPECT_TRUE(ui.HasLog("Data size mismatch: expected 30 bytes, not 24"));
  EXPECT_TRUE(ui.HasLog("Error reported: wrong_size"));
}

TEST_F(TransferTest, RepeatedBurstBlockIsDroppedAndBadChecksumRefused) {
  RunOperation();
  Inject({0x50, {0x00, 0x38, 0x80, 8, 0, 0, 0, 0, 0x55}});
  Inject({0x50, {0x20, 1, 2, 3, 4, 5, 6, 7, 8}});
  Inject({0x50, {0x20, 1, 2, 3, 4, 5, 6, 7, 8}});
  EXPECT_TRUE(ui.HasLog("Ignoring duplicate burst packet [0x20]"));
  Inject({0x50, {0xC0}});
  EXPECT_TRUE(ui.HasLog("Ignoring short ANT message 0x50 (1 bytes)"));
  Inject({0x50, {0xC0, 0, 0, 0, 0, 0, 0, 0, 0}});
  EXPECT_TRUE(ui.HasLog("Trimming 8 trailing bytes"));
  EXPECT_TRUE(ui.HasLog("Corrupt transfer: expected checksum 0x55, not 0x08"));
  EXPECT_TRUE(ui.HasLog("Error reported: wrong_checksum"));
}

TEST_F(TransferTest, NoPingWhileACommandRunsAndSilenceIsAnIdleTimeOut) {
  RunOperation();
  const std::size_t mark = station.HostMessageCount();
  Advance(std::chrono::milliseconds(4000));
  EXPECT_EQ(Count(WrittenSince(mark), 0x4F), 0U);
  EXPECT_FALSE(ui.HasLog("PING"));
  EXPECT_TRUE(ui.HasLog("Idle timeout: 4000 milliseconds"));
  EXPECT_TRUE(ui.HasLog("Disconnecting: idle_timeout"));
}

TEST_F(TransferTest, KeepAlivePingsAndAMissingPongEndsTheLink) {
  // Linked with nothing to do: the ping interval brings a ping.
  Radio([this] { radio->QueuePacket(PingPacket(), "first"); });
  Settle();
  Advance(std::chrono::milliseconds(4000));
  EXPECT_EQ(ui.CountLog("PING"), 1U);
  // Its PONG arrives; the next interval pings again and this time nothing answers.
  InjectUnit(0, {0, 0, 0, 0, 0, 0, 0}, true);
  EXPECT_FALSE(radio->IsWaitingForPong());
  Advance(std::chrono::milliseconds(4000));
  EXPECT_EQ(ui.CountLog("PING"), 2U);
  Advance(std::chrono::milliseconds(4000));
  EXPECT_TRUE(ui.HasLog("Ping timeout: 8000 milliseconds"));
  EXPECT_TRUE(ui.HasLog("Disconnecting: ping_timeout"));
}

TEST_F(TransferTest, FailedTransferIsRetriedWithinTheBudgetThenReported) {
  RunOperation();
  Radio([this] { radio->SetRetryBudget(2); });
  const std::size_t mark = station.HostMessageCount();
  station.Faults().SetTransfersSwallowed(false);
  station.Faults().FailTransfers(3);
  Radio([this] { radio->QueuePacket(PingPacket(), "Failed to send PING"); });
  Settle();
  Advance(std::chrono::milliseconds(500));
  EXPECT_EQ(Count(WrittenSince(mark), 0x4F), 3U);
  EXPECT_EQ(ui.CountLog("Retrying..."), 2U);
  EXPECT_EQ(ui.CountLog("Failed to send PING"), 3U);
  EXPECT_TRUE(ui.HasLog("Retries exhausted"));
  EXPECT_TRUE(ui.HasLog("Disconnecting: send_failed"));
}

}  // namespace
}  // namespace Pellux
