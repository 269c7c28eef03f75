#include "service/host_events.h"

#include <regex>

#include "base/log_format.h"
#include "base/log_level.h"

namespace Pellux {
namespace {

// Interface names are wide text; the log and the matching see the low byte of each character.
std::string Narrow(const std::u16string& wide) {
  std::string narrow;
  narrow.reserve(wide.size());
  for (const char16_t c : wide) narrow.push_back(static_cast<char>(c & 0xFF));
  return narrow;
}

std::string UpperCased(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

HostEventOutcome::Line EventLine(const std::string& name) {
  return {LogLevel::kTrace, FormatLine("[POWER EVENT] %s", name).str()};
}

std::string UnknownEvent(const char* what, std::uint32_t type, std::uintptr_t dataAddress) {
  return FormatLine("UNKNOWN %s EVENT -- event:0x%08x data:0x%08x", what, type, dataAddress).str();
}

}  // namespace

std::string DeviceInstanceId(const std::string& interfaceName) {
  const auto lastHash = interfaceName.rfind('#');
  if (interfaceName.size() <= 4 || lastHash == std::string::npos || lastHash < 4) return {};
  std::string id = interfaceName.substr(4, lastHash - 4);
  for (char& c : id) {
    if (c == '#') c = '\\';
  }
  return id;
}

std::string SerialOfInterfaceName(const std::string& upperCasedName) {
  // Compiled once, on first use, and kept for the process's life.
  static const std::regex kExpression(R"(^\\\\\?\\USB#Vid_([^&]+)&Pid_([^#]+)#([^#]+)#.*$)",
                                      std::regex::ECMAScript | std::regex::icase);
  std::smatch match;
  if (!std::regex_match(upperCasedName, match, kExpression)) return {};
  return match[3].str();
}

HostEventOutcome TranslateDeviceEvent(const DeviceEvent& event, std::uint16_t vendorId,
                                      std::uint16_t productId, const DeviceNameLookup& lookup) {
  HostEventOutcome outcome;
  outcome.lines.push_back(
      {LogLevel::kTrace,
       FormatLine("[DEVICE EVENT] event:0x%08x data:0x%08x", event.type, event.dataAddress).str()});
  const bool arrival = event.type == DeviceEvent::kArrival;
  if ((!arrival && event.type != DeviceEvent::kRemoveComplete) ||
      event.deviceType != DeviceEvent::kInterfaceDeviceType) {
    return outcome;
  }
  const std::string name = Narrow(event.interfaceName);
  outcome.lines.push_back({LogLevel::kTrace, FormatLine("Device info: %s", name).str()});

  const std::string instanceId = DeviceInstanceId(name);
  const auto slash = instanceId.find('\\');
  if (slash != std::string::npos && lookup) {
    if (const auto deviceName = lookup(instanceId.substr(0, slash), instanceId, arrival)) {
      outcome.lines.push_back({LogLevel::kTrace, FormatLine("Device name: %s", *deviceName).str()});
    }
  }

  const std::string upper = UpperCased(name);
  const std::string prefix = FormatLine("\\\\?\\USB#VID_%04X&PID_%04X#", vendorId, productId).str();
  if (upper.rfind(prefix, 0) != 0) return outcome;
  outcome.action = HostEventOutcome::Action{
      arrival ? "basestationconnect" : "basestationdisconnect", SerialOfInterfaceName(upper)};
  return outcome;
}

HostEventOutcome TranslateSerialPortEvent(const SerialPortEvent& event, std::uint16_t vendorId,
                                          std::uint16_t productId) {
  HostEventOutcome outcome;
  outcome.lines.push_back(
      {LogLevel::kTrace,
       FormatLine("[DEVICE EVENT] %s %s", event.arrived ? "add" : "remove", event.node).str()});
  outcome.lines.push_back(
      {LogLevel::kTrace, FormatLine("Device info: USB %04x:%04x serial '%s' product '%s'",
                                    event.vendorId, event.productId, event.serial, event.product)
                             .str()});
  if (event.vendorId != vendorId || event.productId != productId) return outcome;
  outcome.action = HostEventOutcome::Action{
      event.arrived ? "basestationconnect" : "basestationdisconnect", event.serial};
  return outcome;
}

HostEventOutcome TranslatePowerEvent(std::uint32_t type, std::uintptr_t dataAddress,
                                     const std::string& serialInUse) {
  struct Known {
    std::uint32_t type;
    const char* name;
    const char* action;
  };
  static constexpr Known kEvents[] = {
      {0, "QUERY SUSPEND", nullptr},
      {2, "QUERY SUSPEND FAILED", nullptr},
      {kPowerSuspend, "SUSPEND", "basestationdisconnect"},
      {6, "RESUME CRITICAL", "basestationconnect"},
      {kPowerResumeSuspend, "RESUME SUSPEND", "basestationconnect"},
      {9, "BATTERY LOW", nullptr},
      {10, "POWER STATUS CHANGE", nullptr},
      {11, "OEM EVENT", nullptr},
      {18, "RESUME AUTOMATIC", nullptr},
  };
  HostEventOutcome outcome;
  for (const Known& known : kEvents) {
    if (known.type != type) continue;
    outcome.lines.push_back(EventLine(known.name));
    if (known.action != nullptr)
      outcome.action = HostEventOutcome::Action{known.action, serialInUse};
    return outcome;
  }
  outcome.lines.push_back(EventLine(UnknownEvent("POWER", type, dataAddress)));
  return outcome;
}

HostEventOutcome TranslateSessionChange(std::uint32_t type, std::uintptr_t dataAddress) {
  static constexpr const char* kNames[] = {
      "CONSOLE CONNECT",   "CONSOLE DISCONNECT", "REMOTE CONNECT",
      "REMOTE DISCONNECT", "SESSION LOGON",      "SESSION LOGOFF",
      "SESSION LOCK",      "SESSION UNLOCK",     "SESSION REMOTE CONTROL"};
  HostEventOutcome outcome;
  outcome.lines.push_back(EventLine(type >= 1 && type <= std::size(kNames)
                                        ? std::string(kNames[type - 1])
                                        : UnknownEvent("SESSION", type, dataAddress)));
  return outcome;
}

}  // namespace Pellux
