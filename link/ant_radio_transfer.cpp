// The link with the tracker on an open channel: finding and linking it, keeping the link alive,
// and moving packets both ways with one transfer in flight at a time.

#include <algorithm>
#include <utility>

#include "link/ant_radio.h"
#include "link/packet.h"
#include "link/packet_bytes.h"
#include "link/received_unit.h"

namespace Pellux {
namespace {

constexpr std::size_t kBlockSize = 8;
constexpr std::uint8_t kLastBlock = 0x80;
constexpr std::uint8_t kSequenceMask = 0xE0;

// Sequence bits of burst block `index`: 0x00 first, then 0x20, 0x40, 0x60 round and round.
std::uint8_t BurstSequenceBits(std::size_t index) {
  if (index == 0) return 0x00;
  return static_cast<std::uint8_t>(0x20 * (((index - 1) % 3) + 1));
}

}  // namespace

void AntRadio::Report(const std::string& status, bool error, bool disconnect,
                      std::span<const std::uint8_t> data) {
  events.OnCommandResult(status, error, disconnect, data);
}

void AntRadio::ArmPingTimer() {
  pingTimer->Start(std::chrono::milliseconds(events.Parameters().pingIntervalMs),
                   [this] { OnPingTimer(); });
}

void AntRadio::QueuePacket(const Packet& packet, const std::string& failureMessage) {
  Log(LogLevel::kTrace, "Queuing packet to send...");
  // The retry entry belongs to the transfer in flight, if there is one: a packet queued behind
  // it must not take away its retries.
  if (pendingAcks == 0) retryTable.Erase(RetryTable::kPacketSend);
  ArmPingTimer();

  ++transmitSequence;
  TransportPacket transport(packet, transmitSequence);
  transport.Serialize(transmitBuffer);
  // Every logical packet of type 3 carries the data request number in bytes 3-4, whoever built
  // it: a server command whose op code starts with 0x60 to 0x7F is numbered too. The tracker
  // knows the type, not who sent it, so the rule stays as wide as that.
  if (!packet.IsControl() && (packet.Type() >> 5) == LogicalPacket::kDataRequestType) {
    ++drqCounter;
    transmitBuffer.at(4) = static_cast<std::uint8_t>(drqCounter & 0xFF);
    transmitBuffer.at(5) = static_cast<std::uint8_t>((drqCounter >> 8) & 0xFF);
    Log(LogLevel::kTrace, "DRQ packet %d...", drqCounter);
  }
  const std::size_t remainder = transmitBuffer.size() % kBlockSize;
  if (remainder != 0) {
    Log(LogLevel::kTrace, "Padding %d bytes of data with %d null bytes", transmitBuffer.size(),
        kBlockSize - remainder);
    transmitBuffer.resize(transmitBuffer.size() + kBlockSize - remainder, 0);
  }
  outgoing.push_back({transmitBuffer, failureMessage});
  SendNext();
}

void AntRadio::SendNext() {
  if (pendingAcks != 0 || outgoing.empty()) return;
  Outgoing head = std::move(outgoing.front());
  outgoing.pop_front();
  if (head.bytes.size() == kBlockSize) {
    Log(LogLevel::kTrace, ">>>>> SEND %s", HexBytes(head.bytes));
    retryTable.Register(RetryTable::kPacketSend, retryBudget, head.failureMessage,
                        [this, bytes = head.bytes] { return SendAcknowledged(bytes); });
    SendAcknowledged(head.bytes);
  } else {
    Log(LogLevel::kTrace, ">>>>> BURSTING %d bytes of data", head.bytes.size());
    retryTable.Register(RetryTable::kPacketSend, retryBudget, head.failureMessage,
                        [this, bytes = head.bytes] { return SendBurst(bytes); });
    SendBurst(head.bytes);
  }
}

bool AntRadio::SendAcknowledged(const std::vector<std::uint8_t>& bytes) {
  Log(LogLevel::kTrace, "Sending %d bytes of ACK data...", bytes.size());
  ++pendingAcks;
  DSIFramerANT* framer = Framer();
  if (framer == nullptr) return false;
  AntMessage message{AntId::kAcknowledgedData, {}};
  message.data[0] = channelNumber;
  std::copy_n(bytes.begin(), kBlockSize, message.data.begin() + 1);
  return framer->WriteMessage(message, kBlockSize + 1);
}

bool AntRadio::SendBurst(const std::vector<std::uint8_t>& bytes) {
  Log(LogLevel::kTrace, "Sending %d bytes of BURST data...", bytes.size());
  ++pendingAcks;
  DSIFramerANT* framer = Framer();
  const std::size_t blocks = bytes.size() / kBlockSize;
  for (std::size_t index = 0; index < blocks; ++index) {
    AntMessage message{AntId::kBurstData, {}};
    message.data[0] = static_cast<std::uint8_t>(channelNumber | BurstSequenceBits(index) |
                                                (index + 1 == blocks ? kLastBlock : 0));
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(index * kBlockSize), kBlockSize,
                message.data.begin() + 1);
    if (framer == nullptr || !framer->WriteMessage(message, kBlockSize + 1)) {
      // The acknowledgement stays pending; the idle time-out ends the silence that follows.
      Log(LogLevel::kError, "Failed to burst data packet");
      return false;
    }
  }
  return true;
}

void AntRadio::ReleaseAcknowledgement(bool releaseNext) {
  --pendingAcks;
  if (pendingAcks < 1) {
    if (pendingAcks < 0) {
      pendingAcks = 0;
      Log(LogLevel::kDetail, "Pending acks UNDERFLOW (FIX ME) -- anchored at 0.");
    }
    if (releaseNext) SendNext();
  }
  if (pendingAcks != 0) Log(LogLevel::kDetail, "Pending acks: %d", pendingAcks);
}

void AntRadio::AfterUnlinkOrLink() {
  if (events.IsCloseRequested()) {
    events.EndSession();
  } else {
    CloseChannel();
  }
}

void AntRadio::OnTransferCompleted() {
  ReleaseAcknowledgement(true);
  // The packet that moves the link on (RESET, LINK, UNLINK) is the last one queued: when
  // another went out behind the one just completed, that one's own outcome decides.
  if (pendingAcks != 0) return;
  switch (linkState) {
    case LinkState::ResetSent:
      linkState = LinkState::LinkSent;
      deviceNumber = identifiers.NextSessionDeviceNumber();
      Log(LogLevel::kDetail, "Tracker reset.  Sending LINK REQUEST...");
      transmitSequence = -1;
      QueuePacket(LinkPacket(deviceNumber, identifiers.HostId()), "Failed to send LINK request");
      break;
    case LinkState::LinkSent:
    case LinkState::Unlinking:
      AfterUnlinkOrLink();
      break;
    default:
      break;
  }
}

void AntRadio::OnTransferFailed() {
  // The failed bytes are retried before anything queued behind them goes out: one transfer in
  // flight, and the retry entry stays the failed packet's.
  ReleaseAcknowledgement(false);
  if (retryTable.Consult(RetryTable::kPacketSend)) return;
  if (pendingAcks == 0) SendNext();
  if (linkState != LinkState::Unlinking) {
    Report("send_failed", true, true);
  } else if (pendingAcks == 0) {
    ResetChannel();
    AfterUnlinkOrLink();
  }
  // Otherwise a packet queued behind the failed one (the UNLINK at the latest) went out now,
  // and its own outcome ends the unlink.
}

void AntRadio::OnBeacon(std::span<const std::uint8_t> data) {
  if (linkState == LinkState::Searching) {
    linkState = LinkState::ResetSent;
    Log(LogLevel::kDetail, "Acquired beacon.  Sending RESET packet...");
    transmitSequence = -1;
    QueuePacket(ResetPacket(), "RESET tracker failed");
    return;
  }
  if (linkState != LinkState::SessionSearch) return;
  const std::uint32_t heard =
      static_cast<std::uint32_t>(data[1]) | (static_cast<std::uint32_t>(data[2]) << 8) |
      (static_cast<std::uint32_t>(data[3]) << 16) | (static_cast<std::uint32_t>(data[4]) << 24);
  if (heard != identifiers.HostId()) {
    Log(LogLevel::kError, "Host ID mismatch [expected %x, not %x].  Dropping link...",
        identifiers.HostId(), heard);
    events.EndSession();
    return;
  }
  linkState = LinkState::Pinging;
  Log(LogLevel::kDetail, "Acquired beacon on %s session channel.  Pinging tracker...",
      events.Parameters().beaconType);
  waitingForPong = true;
  QueuePacket(PingPacket(), "Resetting tracker failed");
}

void AntRadio::OnPong() {
  if (linkState == LinkState::Pinging) {
    linkState = LinkState::Linked;
    Log(LogLevel::kDetail, "LINKED! [%s beacon]", events.Parameters().beaconType);
    beaconSearchTimer->Cancel();
    waitingForPong = false;
    events.OnLinked();
    return;
  }
  // The answer to a keep-alive ping: the command held back meanwhile goes out now.
  if (waitingForPong) {
    waitingForPong = false;
    events.OnPongReceived();
  }
}

void AntRadio::OnPingTimer() {
  if (linkState == LinkState::Linked && !events.IsCommandRunning() && !waitingForPong) {
    Log(LogLevel::kTrace, "PING");
    waitingForPong = true;
    QueuePacket(PingPacket(), "Failed to send PING");
    return;
  }
  events.AddRequestField("trackerConnectionDropped", "true");
  const std::int32_t interval = events.Parameters().pingIntervalMs;
  if (waitingForPong) {
    waitingForPong = false;
    Log(LogLevel::kError, "Ping timeout: %d milliseconds", 2 * interval);
    Report("ping_timeout", true, true);
  } else {
    Log(LogLevel::kError, "Idle timeout: %d milliseconds", interval);
    Report("idle_timeout", true, true);
  }
}

void AntRadio::ReceiveData(std::uint8_t code, std::span<const std::uint8_t> data) {
  if (pendingAcks != 0) Log(LogLevel::kDetail, "Pending acks: %d", pendingAcks);
  const std::uint8_t channelByte = data[0];
  const std::span<const std::uint8_t> block = data.subspan(1, kBlockSize);
  if (code == kBurstEvent && (channelByte & kSequenceMask) != 0) {
    ReceiveBurstContinuation(static_cast<std::uint8_t>(channelByte >> 5), block,
                             (channelByte & kLastBlock) != 0);
    return;
  }
  ReceiveUnit(code, data);
}

void AntRadio::ReceiveBurstContinuation(std::uint8_t sequenceBits,
                                        std::span<const std::uint8_t> block, bool last) {
  if (sequenceBits == lastBurstSequence) {
    Log(LogLevel::kDetail, "Ignoring duplicate burst packet [0x%02x]",
        static_cast<int>(sequenceBits << 5));
    return;
  }
  // A burst that never ends must not grow without bound; what runs past the largest data
  // packet would be trimmed at its end anyway.
  if (receiveBuffer.size() < kMaxReceiveBuffer) {
    receiveBuffer.insert(receiveBuffer.end(), block.begin(), block.end());
  }
  if (!last) {
    lastBurstSequence = sequenceBits;
    ArmPingTimer();
    return;
  }
  lastBurstSequence = -1;
  const std::size_t expected = static_cast<std::size_t>(expectedSize);
  if (receiveBuffer.size() > expected) {
    Log(LogLevel::kDetail, "Trimming %d trailing bytes", receiveBuffer.size() - expected);
    receiveBuffer.resize(expected);
  }
  if (receiveBuffer.size() != expected) {
    Log(LogLevel::kError, "Data size mismatch: expected %d bytes, not %d", expectedSize,
        receiveBuffer.size());
    Report("wrong_size", true, false);
    return;
  }
  Log(LogLevel::kDetail, "Received %d bytes of data.", receiveBuffer.size());
  const int checksum = Checksum(receiveBuffer);
  if (checksum != expectedChecksum) {
    Log(LogLevel::kError, "Corrupt transfer: expected checksum 0x%02x, not 0x%02x",
        expectedChecksum, checksum);
    Report("wrong_checksum", true, false);
    return;
  }
  if (events.AppendCommandResponse(receiveBuffer)) {
    receiveBuffer.clear();
    QueuePacket(DataRequestPacket(), "Failed to send DRQ packet");
  }
}

void AntRadio::ReceiveUnit(std::uint8_t code, std::span<const std::uint8_t> data) {
  const std::uint8_t channelByte = data[0];
  const std::span<const std::uint8_t> block = data.subspan(1, kBlockSize);
  const ReceivedUnit unit = ClassifyUnit(block);
  if (code == kAcknowledgedEvent && lastReceivedSequence >= 0) {
    const int expected = (lastReceivedSequence + 1) % 8;
    if (unit.sequence != expected) {
      if (unit.sequence == lastReceivedSequence) {
        Log(LogLevel::kDetail, "Ignoring duplicate packet [%d]", static_cast<int>(unit.sequence));
      } else {
        Log(LogLevel::kError, "Lost packet?  Received packet out of order -- expected %d, not %d",
            expected, static_cast<int>(unit.sequence));
      }
      return;
    }
  }
  lastReceivedSequence = unit.sequence;
  lastBurstSequence = (channelByte & kSequenceMask) >> 5;
  ArmPingTimer();

  if (unit.kind == UnitKind::Control) {
    Log(LogLevel::kDetail, "PONG");
    OnPong();
    return;
  }
  Log(LogLevel::kDetail, "Received logical packet.");
  const LogicalPacket logical(unit.header);
  switch (unit.kind) {
    case UnitKind::Status: {
      const StatusPacket status(logical);
      if (status.HasDataAvailable()) {
        Log(LogLevel::kDetail, "Data available.");
        QueuePacket(DataRequestPacket(), "Failed to send data request packet");
        return;
      }
      Log(LogLevel::kDetail, "Received terminating status packet.");
      const std::vector<std::uint8_t> result = status.ResultBytes();
      Report(status.IsSuccess() ? "success" : "fail", false, false, result);
      return;
    }
    case UnitKind::Data: {
      const DataPacket announced(logical);
      if (announced.IsEndOfTransfer()) {
        Log(LogLevel::kDetail, "Data transfer complete.");
        Report("success", false, false);
        return;
      }
      expectedSize = announced.DeclaredSize();
      expectedChecksum = announced.PayloadChecksum();
      receiveBuffer.clear();
      return;
    }
    case UnitKind::DataRequest:
      OnDataRequest(DataRequestPacket(logical));
      return;
    default:
      Log(LogLevel::kDetail, "Received unknown packet type");
      return;
  }
}

void AntRadio::OnDataRequest(const DataRequestPacket& request) {
  Log(LogLevel::kDetail, "Received DRQ packet...");
  std::vector<std::uint8_t> chunk;
  if (!events.TakeCommandPayload(request.RequestedSize(), chunk)) return;
  const DataPacket answer(std::move(chunk), request);
  Log(LogLevel::kDetail, "Sending DATA packet...");
  QueuePacket(answer, "Failed to send data packet");
}

void AntRadio::OnReceptionFailed() {
  Log(LogLevel::kError, "Data reception failed! Resetting data buffer...");
  receiveBuffer.clear();
  expectedSize = 0;
  expectedChecksum = 0;
  lastReceivedSequence = -1;
}

void AntRadio::OnSearchTimeout() {
  Log(LogLevel::kError, "Timed out waiting for beacon: %d seconds", searchSeconds);
  ResetChannel();
  channelClosed = true;
  closing = false;
  Report("search_timeout", true, true);
}

void AntRadio::OnBeaconSearchExpired() {
  ResetSystem();
  OnSearchTimeout();
}

}  // namespace Pellux
