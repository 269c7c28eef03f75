#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/link_state.h"

namespace Pellux {

class Packet;
class RadioEvents;

// The radio side of the engine as the session logic sees it: the base station, the ANT channel
// and the link to the tracker. What the radio reports back goes through the RadioEvents it was
// built with.
//
// Threads and locks: every operation is called with the engine's lock held, on whichever engine
// thread is running (an action's caller, the engine's event loop, or the radio's own pump inside
// one of its reports). An operation may report through RadioEvents before it returns (a close
// of a channel that is closed already reports OnChannelClosed at once); the engine is written
// for that re-entry.
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
  // Closes the channel; ends in OnChannelClosed, at once when it is already closed.
  virtual void CloseChannel() = 0;
  // Tears the channel down and closes the base station, without a continuation.
  virtual void DestroyChannel() = 0;
  // Back to searching for a beacon on the next opening.
  virtual void ResetChannel() = 0;
  // Frees the serial transport and framer left from an opening, if any (engine shutdown).
  virtual void ReleaseBaseStation() = 0;
  // Stops the ping/idle timer: a stopping engine wants no link time-out any more.
  virtual void CancelIdleTimer() = 0;

  // Queues one packet for the tracker; `failureMessage` is logged when it cannot be delivered.
  virtual void QueuePacket(const Packet& packet, const std::string& failureMessage) = 0;

  [[nodiscard]] virtual LinkState GetLinkState() const = 0;
  // The session's sleep request moves the link to Unlinking.
  virtual void SetLinkState(LinkState state) = 0;
  [[nodiscard]] virtual bool IsChannelOpen() const = 0;
  // A ping is outstanding: commands wait for its PONG.
  [[nodiscard]] virtual bool IsWaitingForPong() const = 0;
};

// Makes the engine's radio side, given the engine it reports to. The engine calls it once, from
// its constructor, before its event loop runs; it owns what it gets.
using RadioFactory = std::function<std::unique_ptr<RadioLink>(RadioEvents&)>;

}  // namespace Pellux
