#include "tests/support/scripted_radio_link.h"

#include <algorithm>
#include <atomic>

#include "link/packet.h"
#include "link/packet_bytes.h"

namespace Pellux {

void ScriptedRadioLink::SetSearchDeviceNumber(std::uint16_t deviceNumber) {
  searchDeviceNumber = deviceNumber;
  Record("SetSearchDeviceNumber " + std::to_string(deviceNumber));
}

void ScriptedRadioLink::SetRetryBudget(std::int32_t retries) {
  retryBudget = retries;
  Record("SetRetryBudget " + std::to_string(retries));
}

bool ScriptedRadioLink::OpenCommunication() {
  Record("OpenCommunication");
  if (openSucceeds) {
    channelOpen = true;
    events_.OnBaseStationOpened("SCRIPTED-1", "scripted base station");
  } else {
    events_.OnBaseStationClosed();
  }
  return openSucceeds;
}

void ScriptedRadioLink::CloseChannel() {
  Record("CloseChannel");
  // A channel that is closed already ends in the continuation at once; an open one waits for
  // FinishClose, as a real close waits for the module's event.
  if (closeCompletesAtOnce || !channelOpen) {
    channelOpen = false;
    events_.OnChannelClosed();
  }
}

void ScriptedRadioLink::FinishClose() {
  // The radio side runs its handlers under the engine's lock, as the pump thread does.
  static const std::atomic<bool> kAlways{true};
  events_.EnterWhile(kAlways, [this] {
    channelOpen = false;
    events_.OnChannelClosed();
  });
}

void ScriptedRadioLink::DestroyChannel() {
  Record("DestroyChannel");
  channelOpen = false;
}

void ScriptedRadioLink::CancelIdleTimer() {}

void ScriptedRadioLink::ResetChannel() {
  Record("ResetChannel");
  linkState = LinkState::Searching;
}

void ScriptedRadioLink::ReleaseBaseStation() {
  Record("ReleaseBaseStation");
}

void ScriptedRadioLink::QueuePacket(const Packet& packet, const std::string& failureMessage) {
  QueuedPacket entry{{}, packet.IsControl(), failureMessage};
  packet.Serialize(entry.header);
  Record("QueuePacket " + HexBytes(entry.header));
  calls_->RecordPacket(std::move(entry));
}

LinkState ScriptedRadioLink::GetLinkState() const {
  return linkState;
}

void ScriptedRadioLink::SetLinkState(LinkState state) {
  Record("SetLinkState " + std::to_string(static_cast<int>(state)));
  linkState = state;
}

bool ScriptedRadioLink::IsWaitingForPong() const {
  return waitingForPong;
}

bool ScriptedRadioLink::IsChannelOpen() const {
  return channelOpen;
}

void ScriptedRadioCalls::Record(std::string call) {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.push_back(std::move(call));
}

void ScriptedRadioCalls::RecordPacket(QueuedPacket packet) {
  std::lock_guard<std::mutex> guard(mutex_);
  queued_.push_back(std::move(packet));
}

std::vector<std::string> ScriptedRadioCalls::Calls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return calls_;
}

std::size_t ScriptedRadioCalls::Count(const std::string& call) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), call));
}

std::vector<ScriptedRadioCalls::QueuedPacket> ScriptedRadioCalls::Queued() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return queued_;
}

void ScriptedRadioCalls::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.clear();
  queued_.clear();
}

}  // namespace Pellux
