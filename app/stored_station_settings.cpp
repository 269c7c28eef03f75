#include "app/stored_station_settings.h"

namespace Pellux {

StoredStationSettings::StoredStationSettings(SettingsStore& settings) : settings_(settings) {
  // A value of neither type (true, a list) is an administrator's to mend: its read reported it.
  if (!settings_.ReadText(kSection, kSerialPortSetting) &&
      !settings_.ReadNumber(kSection, kSerialPortSetting) &&
      !settings_.HoldsUnusable(kSection, kSerialPortSetting, SettingsStore::Kind::kText)) {
    settings_.WriteText(kSection, kSerialPortSetting, "");
  }
}

std::string StoredStationSettings::SerialPort() {
  return settings_.ReadText(kSection, kSerialPortSetting).value_or("");
}

std::optional<std::uint32_t> StoredStationSettings::VendorId() {
  return settings_.ReadNumber(kSection, "VID");
}

std::optional<std::uint32_t> StoredStationSettings::ProductId() {
  return settings_.ReadNumber(kSection, "PID");
}

}  // namespace Pellux
