#include "device/usb_power_cycle_rules.h"

#include <algorithm>
#include <string_view>

namespace Pellux {
namespace {

bool AllDecimal(std::string_view text) {
  if (text.empty() || text.size() > 3) return false;
  return std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

bool AllHexadecimal(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace

PowerCycleVerdict JudgePowerCycle(const UsbDeviceFacts& facts, bool baseStationsOnly) {
  if (!facts.hasUsbParent) return PowerCycleVerdict::RootHub;
  // The kernel numbers devices 1 to 127 per bus and gives 1 to the root hub.
  if (!facts.deviceNumber || !AllDecimal(*facts.deviceNumber)) return PowerCycleVerdict::Unknown;
  if (std::stoi(*facts.deviceNumber) <= 1) return PowerCycleVerdict::RootHub;
  if (!facts.deviceClass || facts.deviceClass->size() != 2 || !AllHexadecimal(*facts.deviceClass)) {
    return PowerCycleVerdict::Unknown;
  }
  if (*facts.deviceClass == "09") return PowerCycleVerdict::Hub;
  if (baseStationsOnly && facts.baseStationMark != std::optional<std::string>("1")) {
    return PowerCycleVerdict::NotBaseStation;
  }
  return PowerCycleVerdict::Allowed;
}

const char* PowerCycleVerdictText(PowerCycleVerdict verdict) {
  switch (verdict) {
    case PowerCycleVerdict::Allowed:
      return "a device that may be power-cycled";
    case PowerCycleVerdict::RootHub:
      return "a root hub";
    case PowerCycleVerdict::Hub:
      return "a hub";
    case PowerCycleVerdict::Unknown:
      return "a device whose number or class cannot be read";
    case PowerCycleVerdict::NotBaseStation:
      return "not marked as a base station by udev (PELLUX_BASE_STATION=1, 60-pellux.rules)";
  }
  return "unknown";
}

}  // namespace Pellux
