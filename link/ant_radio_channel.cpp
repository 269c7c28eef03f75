// The ANT channel: the configuration chain that advances on each of the module's answers,
// opening, closing and destroying the channel, and the dispatch of channel events.

#include <array>

#include "link/ant_radio.h"

namespace Pellux {
namespace {

constexpr std::uint8_t kInfiniteSearch = 0xFF;
constexpr std::int32_t kSessionSearchSeconds = 5;
constexpr std::chrono::milliseconds kResetSettleDelay{500};

// Steps 1 to 8 in order; the message each sends is built in RunStep.
constexpr std::array<AntRadio::StepInfo, 8> kSteps{{
    {1, AntId::kNetworkKey, "Network key set.", "SetNetworkKey failed", "set_network_key_failed",
     -1},
    {2, AntId::kAssignChannel, "Assigned channel.", "Assign failed", "assign_failed",
     RetryTable::kAssignChannel},
    {3, AntId::kChannelPeriod, "Message period set.", "SetChannelPeriod failed",
     "set_period_failed", RetryTable::kChannelPeriod},
    {4, AntId::kRadioFrequency, "Frequency set.", "SetChannelRFFreq failed", "set_frequency_failed",
     RetryTable::kRadioFrequency},
    {5, AntId::kTransmitPower, "Transmit power set.", "SetTransmitPower failed",
     "set_transmit_power_failed", RetryTable::kTransmitPower},
    {6, AntId::kSearchTimeout, "Search timeout set.", "SetChannelSearchTimeout failed",
     "set_timeout_failed", RetryTable::kSearchTimeout},
    {7, AntId::kChannelId, "Channel id set.", "SetId failed", "set_channel_id_failed",
     RetryTable::kChannelId},
    {8, AntId::kOpenChannel, "Channel opened.", "OpenChannel failed", "open_channel_failed",
     RetryTable::kOpenChannel},
}};

}  // namespace

const AntRadio::StepInfo* AntRadio::FindStep(std::uint8_t messageId) {
  for (const StepInfo& step : kSteps) {
    if (step.messageId == messageId) return &step;
  }
  return nullptr;
}

void AntRadio::StartChannel() {
  Log(LogLevel::kDetail, "Starting channel...");
  ResetSystem();
  RunStep(1);
}

void AntRadio::ResetSystem() {
  Log(LogLevel::kDetail, "Resetting system...");
  waitingForPong = false;
  beaconSearchTimer->Cancel();
  if (DSIFramerANT* framer = Framer()) {
    AntMessage reset{AntId::kSystemReset, {}};
    // The module restarts and is deaf for a moment; a failed write is not reported, the
    // configuration's own answers tell.
    if (framer->WriteMessage(reset, 1)) clock.Sleep(kResetSettleDelay);
  }
  channelClosed = true;
  closing = false;
}

void AntRadio::RunStep(int number) {
  const StepInfo& step = kSteps.at(static_cast<std::size_t>(number - 1));
  AntMessage message{step.messageId, {}};
  std::uint8_t length = 0;
  const auto put = [&](std::uint8_t byte) { message.data.at(length++) = byte; };
  switch (number) {
    case 1:
      Log(LogLevel::kDetail, "Setting network key [network: %d]...",
          static_cast<int>(networkNumber));
      put(networkNumber);
      for (std::uint8_t byte : networkKey) put(byte);
      break;
    case 2:
      Log(LogLevel::kDetail, "Assigning channel [channel: %d, type: %d, network: %d]...",
          static_cast<int>(channelNumber), static_cast<int>(channelType),
          static_cast<int>(networkNumber));
      put(channelNumber);
      put(channelType);
      put(networkNumber);
      break;
    case 3:
      Log(LogLevel::kDetail, "Setting period [period: %d]...", static_cast<int>(channelPeriod));
      put(channelNumber);
      put(static_cast<std::uint8_t>(channelPeriod & 0xFF));
      put(static_cast<std::uint8_t>(channelPeriod >> 8));
      break;
    case 4: {
      const int frequency = events.Parameters().frequency;
      Log(LogLevel::kDetail, "Setting frequency [frequency: %d]...", frequency);
      put(channelNumber);
      put(static_cast<std::uint8_t>(frequency));
      break;
    }
    case 5:
      Log(LogLevel::kDetail, "Setting transmit power [power: %d]...",
          static_cast<int>(transmitPower));
      put(0x00);
      put(transmitPower);
      break;
    case 6:
      searchSeconds = linkState == LinkState::SessionSearch ? kSessionSearchSeconds
                                                            : events.Parameters().acquireSeconds;
      Log(LogLevel::kDetail, "Setting %d second search timeout [timeout: %d]...", searchSeconds,
          static_cast<int>(kInfiniteSearch));
      put(channelNumber);
      put(kInfiniteSearch);
      break;
    case 7:
      Log(LogLevel::kDetail, "Setting channel id [number: %d, type: %d, transmission: %d]...",
          static_cast<int>(deviceNumber), static_cast<int>(deviceType),
          static_cast<int>(transmissionType));
      put(channelNumber);
      put(static_cast<std::uint8_t>(deviceNumber & 0xFF));
      put(static_cast<std::uint8_t>(deviceNumber >> 8));
      put(deviceType);
      put(transmissionType);
      break;
    default:
      Log(LogLevel::kDetail, "Opening channel...");
      put(channelNumber);
      break;
  }

  DSIFramerANT* framer = Framer();
  if (framer == nullptr) {
    Log(LogLevel::kError, number == 1 ? "%s comm_ is NULL" : "%s", step.failureText);
    return;
  }
  // The module's answer also reaches the pump, which takes the chain on from there.
  if (!framer->SendCommand(message, length)) Log(LogLevel::kError, "%s", step.failureText);
}

void AntRadio::OnChannelResponse(std::uint8_t answeredId, std::uint8_t code) {
  if (code == AntResponse::kChannelInWrongState || code == AntResponse::kChannelNotOpened) {
    Log(LogLevel::kError, "Channel in wrong state or not opened! Attempting hard restart...");
    events.OnChannelInWrongState();
    return;
  }
  const bool success = code == AntResponse::kNoError;
  if (const StepInfo* step = FindStep(answeredId)) {
    OnStepAnswer(*step, success);
  } else if (answeredId == AntId::kCloseChannel) {
    OnCloseAnswer(success);
  } else if (answeredId == AntId::kAcknowledgedData) {
    if (code == AntResponse::kTransferInProgress) {
      // The module refused a write because its transfer is still going: that transfer has not
      // failed, and its own event is still to come.
      Log(LogLevel::kError, "Acknowledged data refused: a transfer is in progress (ignoring)");
      return;
    }
    Log(LogLevel::kDetail, "Unexpected acknowledgement:  %s", success ? "success" : "failed");
    if (success) {
      OnTransferCompleted();
    } else {
      OnTransferFailed();
    }
  }
}

void AntRadio::OnStepAnswer(const StepInfo& step, bool success) {
  if (!success) {
    if (step.retryKey >= 0 && retryTable.Consult(step.retryKey)) return;
    fatalError = true;
    Report(step.failureKey, true, true);
    return;
  }
  Log(LogLevel::kDetail, "%s", step.successLine);
  if (step.retryKey >= 0) retryTable.Erase(step.retryKey);
  if (step.number == 1) ArmPingTimer();
  if (step.number < static_cast<int>(kSteps.size())) {
    RunStep(step.number + 1);
  } else {
    OnChannelOpened();
  }
}

void AntRadio::OnChannelOpened() {
  deviceNumber = kSearchAnyDevice;
  transmitSequence = -1;
  lastReceivedSequence = -1;
  lastBurstSequence = -1;
  drqCounter = -1;
  channelClosed = false;
  closing = false;
  retryBudget = events.Parameters().channelRetries;
  pendingAcks = 0;
  pingTimer->Cancel();
  transmitBuffer.clear();
  outgoing.clear();
  // A restart asked for by a wrong-state answer during an earlier configuration is not due any
  // more: the channel has been configured and opened since.
  events.OnChannelOpened();
  const std::int32_t seconds = searchSeconds < 0 ? 0 : searchSeconds;
  beaconSearchTimer->Start(std::chrono::seconds(seconds), [this] { OnBeaconSearchExpired(); });
}

void AntRadio::CloseChannel() {
  pingTimer->Cancel();
  if (channelClosed) {
    OnChannelClosed();
    return;
  }
  if (fatalError) {
    // The module failed a configuration step: reset it instead of closing, and let the next
    // opening configure it from the start. The close still completes for the engine.
    Log(LogLevel::kError, "There was a fatal error.  Performing a hard restart...");
    fatalError = false;
    ResetSystem();
    OnChannelClosed();
    return;
  }
  if (closing) return;
  closing = true;
  Log(LogLevel::kDetail, "Closing channel...");
  DSIFramerANT* framer = Framer();
  bool written = false;
  if (framer != nullptr && framer->CloseChannelAndWait(channelNumber, &written)) return;
  Log(LogLevel::kError, "CloseChannel failed");
  if (written) return;  // the module may still close the channel; its event ends the close
  // A close that never reached the module is never answered: the line to the base station is
  // dead. Tear it down and complete the close, so that the next session opens it afresh.
  Log(LogLevel::kError, "The close request could not be sent. Closing the base station...");
  DestroyChannel();
  OnChannelClosed();
}

void AntRadio::OnCloseAnswer(bool success) {
  if (success) {
    Log(LogLevel::kDetail, "Close request acknowledged...");
    retryTable.Erase(RetryTable::kCloseChannel);
    return;
  }
  if (channelClosed) {
    Log(LogLevel::kDetail, "Close request rejected while channel is already closed. (ignoring)");
    return;
  }
  if (retryTable.Consult(RetryTable::kCloseChannel)) return;
  Log(LogLevel::kError, "Forcing close...");
  OnChannelClosed();
}

void AntRadio::OnChannelClosed() {
  channelClosed = true;
  closing = false;
  pingTimer->Cancel();
  beaconSearchTimer->Cancel();
  Log(LogLevel::kDetail, "Closed channel.");
  if (pendingAcks != 0) Log(LogLevel::kDetail, "Pending acks: %d", pendingAcks);
  retryTable.Erase(RetryTable::kCloseChannel);
  if (!events.IsStopped() && linkState == LinkState::LinkSent) {
    // The tracker took the link request: meet it on its session channel.
    linkState = LinkState::SessionSearch;
    StartChannel();
    return;
  }
  events.OnChannelClosed();
}

void AntRadio::DestroyChannel() {
  Log(LogLevel::kDetail, "Destroying channel...");
  pingTimer->Cancel();
  beaconSearchTimer->Cancel();
  ResetChannel();
  channelClosed = true;
  closing = false;
  waitingForPong = false;
  fatalError = false;
  retryTable.Clear();
  if (ant) CloseCommunication();
  Log(LogLevel::kDetail, "Destroyed channel.");
}

void AntRadio::ResetChannel() {
  linkState = LinkState::Searching;
  deviceNumber = kSearchAnyDevice;
  Log(LogLevel::kDetail, "Reset channel.");
}

void AntRadio::HandleChannelEvent(std::uint8_t code, std::span<const std::uint8_t> data) {
  // The activity stamp was taken by ProcessAntMessage, the only way in.
  if (channelClosed) {
    Log(LogLevel::kDetail, "Received channel message while channel was supposedly closed!");
    return;
  }
  if (closing && code != AntEvent::kChannelClosed && code != AntEvent::kRxSearchTimeout) {
    Log(LogLevel::kDetail, "Waiting for close message -- ignoring incoming data");
    return;
  }
  switch (code) {
    case AntEvent::kRxSearchTimeout:
      OnSearchTimeout();
      break;
    case AntEvent::kRxFail:
      Log(LogLevel::kDetail, "Beacon failure");
      break;
    case AntEvent::kTransferRxFailed:
      OnReceptionFailed();
      break;
    case AntEvent::kTransferTxCompleted:
      OnTransferCompleted();
      break;
    case AntEvent::kTransferTxFailed:
      OnTransferFailed();
      break;
    case AntEvent::kChannelClosed:
      OnChannelClosed();
      break;
    case kBeaconEvent:
    case kAcknowledgedEvent:
    case kBurstEvent:
      // These carry a channel byte and eight data bytes; a module event that merely names one
      // of these codes carries neither.
      if (data.size() < kDataEventSize) {
        Log(LogLevel::kError, "Ignoring channel event 0x%02x without its data",
            static_cast<int>(code));
      } else if (code == kBeaconEvent) {
        OnBeacon(data);
      } else {
        ReceiveData(code, data);
      }
      break;
    default:
      break;
  }
}

}  // namespace Pellux
