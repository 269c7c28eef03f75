#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Pellux {

// The settings that the Linux base station list reads on every listing: "SerialPort", "VID"
// and "PID" (section "Tracker"). Given to LinuxBaseStationDevices in its constructor, so that the
// radio side reads them without knowing the settings store above it.
//
// Called from any thread that lists or opens base stations (an engine thread, the transport's
// opening), with no lock of the caller held; an implementation is thread-safe.
class StationSettingsReader {
 public:
  StationSettingsReader() = default;
  StationSettingsReader(const StationSettingsReader&) = delete;
  StationSettingsReader& operator=(const StationSettingsReader&) = delete;
  virtual ~StationSettingsReader() = default;

  // "SerialPort": the device to use instead of discovery; empty when it is empty, missing or not
  // a text.
  virtual std::string SerialPort() = 0;
  // "VID" and "PID" as stored, or nothing when missing or not a number; the caller checks the
  // range.
  virtual std::optional<std::uint32_t> VendorId() = 0;
  virtual std::optional<std::uint32_t> ProductId() = 0;
};

}  // namespace Pellux
