#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "ui/settings/json_settings_store.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

std::unique_ptr<SettingsStore> SettingsStore::CreateForPlatform(const std::string& location,
                                                                Reporter reporter) {
  // Read once, before the engine starts its threads; nothing in the daemon changes it.
  const std::string path =
      location.empty() ? DefaultSettingsPath(std::getenv("STATE_DIRECTORY")) : location;
  return std::make_unique<JsonSettingsStore>(path, std::move(reporter));
}

}  // namespace Pellux
