#pragma once

#include <cstdint>
#include <string>

#include "link/link_state.h"

namespace Pellux {

class Packet;

// The radio side of the engine as the session logic sees it: the base station, the ANT channel
// and the link to the tracker. Every operation is called with the engine's lock held, on
// whichever engine thread is running. When a channel that CloseChannel asked to close has
// closed, the radio side calls CommunicationManager::ContinueSession (with the lock held); the
// outcome of a command, a lost link or a failed transfer goes to
// CommunicationManager::OnCommandResult.
class RadioLink {
 public:
  RadioLink() = default;
  RadioLink(const RadioLink&) = delete;
  RadioLink& operator=(const RadioLink&) = delete;
  virtual ~RadioLink() = default;

  // Device number searched for on the beacon channel (0xFFFF, or 0xFFFE for a special beacon).
  virtual void SetSearchDeviceNumber(std::uint16_t deviceNumber) = 0;
  // Retries left for packet sends until the next instruction.
  virtual void SetRetryBudget(std::int32_t retries) = 0;
  // Finds and opens the base station (or restarts the channel of the open one) and starts the
  // beacon search. False when no base station could be opened.
  virtual bool OpenCommunication() = 0;
  // Closes the channel; ends in ContinueSession, at once when it is already closed.
  virtual void CloseChannel() = 0;
  // Tears the channel down and closes the base station, without a continuation.
  virtual void DestroyChannel() = 0;
  // Back to searching for a beacon on the next opening.
  virtual void ResetChannel() = 0;
  // Frees the serial transport and framer left from an opening, if any (engine shutdown).
  virtual void ReleaseBaseStation() = 0;

  // Queues one packet for the tracker; `failureMessage` is logged when it cannot be delivered.
  virtual void QueuePacket(const Packet& packet, const std::string& failureMessage) = 0;

  [[nodiscard]] virtual LinkState GetLinkState() const = 0;
  // The session's sleep request moves the link to Unlinking.
  virtual void SetLinkState(LinkState state) = 0;
  [[nodiscard]] virtual bool IsChannelOpen() const = 0;
  // A ping is outstanding: commands wait for its PONG.
  [[nodiscard]] virtual bool IsWaitingForPong() const = 0;
};

}  // namespace Pellux
