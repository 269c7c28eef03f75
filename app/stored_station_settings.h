#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/station_settings_reader.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

// The base station list's settings as the settings store holds them: "SerialPort", "VID" and
// "PID" of section "Tracker", read anew on every call. A missing "SerialPort" is written back
// empty when this object is made, so that it shows in the settings file; a stored one, of either
// type or of neither (unusable, reported by the store), is never overwritten.
//
// Thread-safe as the store is; `settings` must outlive this object.
class StoredStationSettings final : public StationSettingsReader {
 public:
  static constexpr const char* kSection = "Tracker";
  static constexpr const char* kSerialPortSetting = "SerialPort";

  explicit StoredStationSettings(SettingsStore& settings);

  std::string SerialPort() override;
  std::optional<std::uint32_t> VendorId() override;
  std::optional<std::uint32_t> ProductId() override;

 private:
  SettingsStore& settings_;
};

}  // namespace Pellux
