#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/guarded_timer.h"

namespace Pellux {

// What the radio side needs of the engine for one step of its work, read when it needs it.
struct RadioParameters {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::int32_t frequency = 0;
  // Retries for packet sends after the channel opens.
  std::int32_t channelRetries = 0;
  // Seconds the beacon search of the current instruction lasts.
  std::int32_t acquireSeconds = 0;
  // Milliseconds of silence on a linked channel before a ping.
  std::int32_t pingIntervalMs = 0;
  // "standard" or "special", for the radio's log lines.
  std::string beaconType;
};

// The engine above the radio side, as the radio sees it: the events the radio reports upward,
// the few things it asks, and the engine's lock and event loop that it works under. The radio
// is given it in its constructor and never sees the engine itself.
//
// Threads and locks, unless a call says otherwise: called with the engine's lock held, from an
// engine entry (an action's caller or the event loop, inside a RadioLink operation or a radio
// timer) or from the radio's pump thread inside EnterWhile. A report may re-enter the radio
// through RadioLink before it returns: OnChannelClosed may open the next channel, OnLinked and
// OnPongReceived queue packets, OnCommandResult may close the channel.
class RadioEvents {
 public:
  RadioEvents() = default;
  RadioEvents(const RadioEvents&) = delete;
  RadioEvents& operator=(const RadioEvents&) = delete;

  // --- Reports ---
  // A base station was opened; `serial` is its USB serial text, `device` where the system names
  // it (a tty's node, a product text; may be empty).
  virtual void OnBaseStationOpened(const std::string& serial, const std::string& device) = 0;
  // An attempt to open one failed: no base station is in use.
  virtual void OnBaseStationClosed() = 0;
  // The module sent a message, whatever it was. Cheap: called for every message.
  virtual void OnRadioActivity() = 0;
  // The channel has been configured and opened.
  virtual void OnChannelOpened() = 0;
  // The module found the channel in a wrong state or not open.
  virtual void OnChannelInWrongState() = 0;
  // A close asked for by RadioLink::CloseChannel has completed (or was not needed).
  virtual void OnChannelClosed() = 0;
  // The tracker answered the first ping on its session channel.
  virtual void OnLinked() = 0;
  // The tracker answered a keep-alive ping: what waited for it may go out.
  virtual void OnPongReceived() = 0;
  // The outcome of the running operation, or of the link when none runs. `data` goes in front
  // of the operation's own response bytes.
  virtual void OnCommandResult(const std::string& status, bool error, bool disconnect,
                               std::span<const std::uint8_t> data) = 0;
  // A field for the next request ("acquired", "trackerConnectionDropped").
  virtual void AddRequestField(const std::string& name, const std::string& value) = 0;
  // The link is over for this session (the wrong host answered, or the tracker was unlinked
  // while the session is to close).
  virtual void EndSession() = 0;

  // --- Questions (no side effects) ---
  [[nodiscard]] virtual RadioParameters Parameters() const = 0;
  [[nodiscard]] virtual bool IsCloseRequested() const = 0;
  [[nodiscard]] virtual bool IsCommandRunning() const = 0;
  // Adds received bytes to the running operation's response; false when none runs.
  virtual bool AppendCommandResponse(std::span<const std::uint8_t> bytes) = 0;
  // Takes up to `most` bytes from the front of the running operation's payload into `chunk`;
  // false when none runs.
  virtual bool TakeCommandPayload(std::size_t most, std::vector<std::uint8_t>& chunk) = 0;

  // --- The engine's lock and event loop ---
  // Any thread, no lock: the engine has stopped. The pump reads it only inside EnterWhile, so
  // that a stop and restart within one entry does not look like a stop.
  [[nodiscard]] virtual bool IsStopped() const = 0;
  // The pump thread's way in, without the lock: keeps trying for the lock while `wanted` holds,
  // and runs `work` under it only if `wanted` still holds once the lock is taken. False when it
  // gave up, so that a thread closing the base station under the lock can wait for the pump.
  virtual bool EnterWhile(const std::atomic<bool>& wanted, const std::function<void()>& work) = 0;
  // A timer on the engine's event loop, guarded by its lock; the caller owns it and must
  // destroy it before the engine. Called from the radio's constructor.
  virtual std::unique_ptr<GuardedTimer> CreateTimer() = 0;

 protected:
  // The radio never owns the engine.
  ~RadioEvents() = default;
};

}  // namespace Pellux
