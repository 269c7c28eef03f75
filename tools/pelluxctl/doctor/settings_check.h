#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/proxy_settings.h"
#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

// The daemon's settings that the other checks need, with the daemon's own defaults
// (session/client_settings.h, pellux-settings(5)) for every key that is missing or unusable.
struct DoctorSettings {
  DoctorSettings();

  std::uint16_t vendorId;
  std::uint16_t productId;
  std::string serialPort;
  std::string serverHost;
  std::int32_t serverPort;
  std::string errorPath;
  ProxySettings proxy;
};

// One key the daemon knows in its section "Tracker", and whether it holds a number or a text.
struct SettingsKey {
  const char* name;
  bool number;
};
const std::vector<SettingsKey>& KnownSettingsKeys();

// The largest settings file the daemon reads (JsonSettingsStore::kMaxFileBytes).
inline constexpr std::size_t kMaxSettingsBytes = std::size_t{1024} * 1024;

// The settings file at `path` as the daemon reads it: `text` is what reading it gave, `facts`
// what it is, `user` the service's user (who must be able to read it; not judged when the user
// was not found). A file the daemon would set aside (not JSON, not an object, deeper than it
// reads, too large), a "Tracker" that is no object, or a file the service's user cannot read
// fail; unknown keys and sections and values of the wrong type warn, named. A missing file is
// fine (every key takes its default). Fills `settings` with what the daemon would use. Pure.
DoctorCheck CheckSettingsFile(const std::string& path, const FileText& text, const FileFacts& facts,
                              const UserFacts& user, DoctorSettings& settings);

// What the daemon would use of the values in `store` (the registry on Windows), each key read as
// KnownSettingsKeys() types it.
DoctorSettings DoctorSettingsFromStore(SettingsStore& store);

}  // namespace Pellux
