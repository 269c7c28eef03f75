#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "link/radio_events.h"
#include "link/radio_link.h"

namespace Pellux {

// What a scripted radio was asked, kept apart from it so that a test can still read it once the
// engine (and its radio) has gone. Thread-safe.
class ScriptedRadioCalls {
 public:
  struct QueuedPacket {
    std::vector<std::uint8_t> header;  // the seven bytes Serialize writes
    bool control;
    std::string failureMessage;
  };

  void Record(std::string call);
  void RecordPacket(QueuedPacket packet);
  [[nodiscard]] std::vector<std::string> Calls() const;
  [[nodiscard]] std::size_t Count(const std::string& call) const;
  [[nodiscard]] std::vector<QueuedPacket> Queued() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<QueuedPacket> queued_;
};

// A radio side whose outcomes the test decides. It records every call as a short line
// ("OpenCommunication", "SetSearchDeviceNumber 65535", ...). A close either completes at once
// (the channel was closed already) or waits for FinishClose, as a real channel close does.
class ScriptedRadioLink final : public RadioLink {
 public:
  ScriptedRadioLink(RadioEvents& events, std::shared_ptr<ScriptedRadioCalls> calls)
      : events_(events), calls_(std::move(calls)) {}
  explicit ScriptedRadioLink(RadioEvents& events)
      : ScriptedRadioLink(events, std::make_shared<ScriptedRadioCalls>()) {}

  void SetSearchDeviceNumber(std::uint16_t deviceNumber) override;
  void SetRetryBudget(std::int32_t retries) override;
  bool OpenCommunication() override;
  void CloseChannel() override;
  void DestroyChannel() override;
  void ResetChannel() override;
  void ReleaseBaseStation() override;
  // Not recorded: the engine stops the timer on every shutdown.
  void CancelIdleTimer() override;
  void QueuePacket(const Packet& packet, const std::string& failureMessage) override;
  [[nodiscard]] LinkState GetLinkState() const override;
  void SetLinkState(LinkState state) override;
  [[nodiscard]] bool IsChannelOpen() const override;
  [[nodiscard]] bool IsWaitingForPong() const override;

  // Completes an outstanding close: the channel-closed handling ends in the continuation.
  void FinishClose();

  [[nodiscard]] std::vector<std::string> Calls() const { return calls_->Calls(); }
  [[nodiscard]] std::size_t Count(const std::string& call) const { return calls_->Count(call); }
  void ClearCalls() { calls_->Clear(); }

  using QueuedPacket = ScriptedRadioCalls::QueuedPacket;
  [[nodiscard]] std::vector<QueuedPacket> Queued() const { return calls_->Queued(); }

  // Script.
  bool openSucceeds = true;
  bool closeCompletesAtOnce = false;
  bool channelOpen = false;
  LinkState linkState = LinkState::Searching;
  bool waitingForPong = false;
  std::int32_t retryBudget = 0;
  std::uint16_t searchDeviceNumber = 0xFFFF;

 private:
  void Record(std::string call) { calls_->Record(std::move(call)); }

  RadioEvents& events_;
  std::shared_ptr<ScriptedRadioCalls> calls_;
};

}  // namespace Pellux
