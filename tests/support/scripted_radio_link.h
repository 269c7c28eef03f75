#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "session/radio_link.h"

namespace Pellux {

class CommunicationManager;

// A radio side whose outcomes the test decides. It records every call as a short line
// ("OpenCommunication", "SetSearchDeviceNumber 65535", ...). A close either completes at once
// (the channel was closed already) or waits for FinishClose, as a real channel close does.
class ScriptedRadioLink final : public RadioLink {
 public:
  void Attach(CommunicationManager* manager) { manager_ = manager; }

  void SetSearchDeviceNumber(std::uint16_t deviceNumber) override;
  void SetRetryBudget(std::int32_t retries) override;
  bool OpenCommunication() override;
  void CloseChannel() override;
  void DestroyChannel() override;
  void ResetChannel() override;
  void ReleaseBaseStation() override;
  void QueuePacket(const Packet& packet, const std::string& failureMessage) override;
  [[nodiscard]] LinkState GetLinkState() const override;
  void SetLinkState(LinkState state) override;
  [[nodiscard]] bool IsChannelOpen() const override;
  [[nodiscard]] bool IsWaitingForPong() const override;

  // Completes an outstanding close: the channel-closed handling ends in the continuation.
  void FinishClose();

  [[nodiscard]] std::vector<std::string> Calls() const;
  [[nodiscard]] std::size_t Count(const std::string& call) const;
  void ClearCalls();

  struct QueuedPacket {
    std::vector<std::uint8_t> header;  // the seven bytes Serialize writes
    bool control;
    std::string failureMessage;
  };
  [[nodiscard]] std::vector<QueuedPacket> Queued() const;

  // Script.
  bool openSucceeds = true;
  bool closeCompletesAtOnce = false;
  bool channelOpen = false;
  LinkState linkState = LinkState::Searching;
  bool waitingForPong = false;
  std::int32_t retryBudget = 0;
  std::uint16_t searchDeviceNumber = 0xFFFF;

 private:
  void Record(std::string call);

  CommunicationManager* manager_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<QueuedPacket> queued_;
};

}  // namespace Pellux
