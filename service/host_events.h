#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Pellux {

// What the service host makes of a system event: the lines it logs (level, text, in order) and
// at most one action for the engine ("basestationconnect" / "basestationdisconnect" with a
// serial). Pure: the platform code gathers the event's facts, runs the action and logs the lines.
struct HostEventOutcome {
  struct Line {
    int level;
    std::string text;
    bool operator==(const Line&) const = default;
  };
  struct Action {
    std::string name;
    std::string argument;
    bool operator==(const Action&) const = default;
  };
  std::vector<Line> lines;
  std::optional<Action> action;
};

// A device notification as the service's control handler receives it.
struct DeviceEvent {
  static constexpr std::uint32_t kArrival = 0x8000;
  static constexpr std::uint32_t kRemoveComplete = 0x8004;
  static constexpr std::uint32_t kInterfaceDeviceType = 5;

  std::uint32_t type = 0;
  // The address of the event data, only for the log.
  std::uintptr_t dataAddress = 0;
  // The device type of the data's header; its interface name (wide text), for an interface.
  std::uint32_t deviceType = 0;
  std::u16string interfaceName;
};

// Finds the name of the device whose instance id is `instanceId` among the devices of
// `enumerator` (present ones only for an arrival): its friendly name, else its description,
// else "(unknown)"; nullopt when no device has that id.
using DeviceNameLookup = std::function<std::optional<std::string>(
    const std::string& enumerator, const std::string& instanceId, bool arrival)>;

// The lines and the action of a device event, for the base station of `vendorId`/`productId`.
HostEventOutcome TranslateDeviceEvent(const DeviceEvent& event, std::uint16_t vendorId,
                                      std::uint16_t productId, const DeviceNameLookup& lookup);

// The instance id within an interface name ("\\?\USB#VID_1&PID_2#123#{guid}" gives
// "USB\VID_1&PID_2\123"); empty when the name has none.
std::string DeviceInstanceId(const std::string& interfaceName);

// The serial of a base station's interface name: the third part of
// "\\?\USB#Vid_..&Pid_..#serial#..." (any case), upper-cased; empty when the name does not have
// that form.
std::string SerialOfInterfaceName(const std::string& upperCasedName);

// Power events: one line, and for a suspend or a resume the action with `serialInUse` (the
// base station the engine uses at that moment).
HostEventOutcome TranslatePowerEvent(std::uint32_t type, std::uintptr_t dataAddress,
                                     const std::string& serialInUse);
inline constexpr std::uint32_t kPowerSuspend = 4;
inline constexpr std::uint32_t kPowerResumeSuspend = 7;

// A USB serial port that came or went on Linux (the udev monitor's event), in the same terms as
// a Windows device event: "[DEVICE EVENT] add <node>" or "remove", "Device info: ..." with its
// ids, serial and product, and for the base station of `vendorId`/`productId` the action with
// its serial.
struct SerialPortEvent {
  bool arrived = false;
  std::string node;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serial;
  std::string product;
};
HostEventOutcome TranslateSerialPortEvent(const SerialPortEvent& event, std::uint16_t vendorId,
                                          std::uint16_t productId);

// Session changes are only logged.
HostEventOutcome TranslateSessionChange(std::uint32_t type, std::uintptr_t dataAddress);

}  // namespace Pellux
