#include <memory>
#include <string>
#include <utility>

#include "ui/settings/registry_settings_store_win.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

std::unique_ptr<SettingsStore> SettingsStore::CreateForPlatform(const std::string& /*location*/,
                                                                Reporter reporter) {
  // The service keeps its settings where the installer and administrators put them:
  // HKEY_LOCAL_MACHINE\Software\Pellux.
  return std::make_unique<RegistrySettingsStore>(std::move(reporter));
}

}  // namespace Pellux
