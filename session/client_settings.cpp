#include "session/client_settings.h"

#include "ui/user_interface.h"

namespace Pellux {
namespace {

constexpr std::int32_t kNotSet = -1;

void LoadText(UserInterface& ui, const char* name, std::string& value) {
  std::string stored = ui.ReadStringSetting(kSettingsSection, name, std::string());
  if (!stored.empty()) {
    value = std::move(stored);
  } else if (!ui.SettingUnusable(kSettingsSection, name, SettingsStore::Kind::kText)) {
    ui.WriteStringSetting(kSettingsSection, name, value);
  }
}

// Numbers are stored as 32-bit values; narrower settings keep the low bits of what is stored
// and write their own value back zero-extended. True when a stored value was read.
template <typename T>
bool LoadNumber(UserInterface& ui, const char* name, T& value) {
  const std::int32_t stored = ui.ReadIntSetting(kSettingsSection, name, kNotSet);
  if (stored != kNotSet) {
    value = static_cast<T>(static_cast<std::uint32_t>(stored));
    return true;
  }
  // A value there but unusable (of the other type, say) is left for an administrator to mend;
  // the value in use stays.
  if (!ui.SettingUnusable(kSettingsSection, name, SettingsStore::Kind::kNumber)) {
    ui.WriteIntSetting(kSettingsSection, name, static_cast<std::uint32_t>(value));
  }
  return false;
}

}  // namespace

void ClientSettings::Load(UserInterface& ui, std::int32_t& livePingInterval) {
  LoadText(ui, "ServerHost", serverHost);
  LoadNumber(ui, "ServerPort", serverPort);
  LoadText(ui, "ServerPath", serverPath);
  LoadText(ui, "ErrorHost", errorHost);
  LoadNumber(ui, "ErrorPort", errorPort);
  LoadText(ui, "ErrorPath", errorPath);
  LoadNumber(ui, "Frequency", frequency);
  LoadNumber(ui, "VID", vendorId);
  LoadNumber(ui, "PID", productId);
  LoadText(ui, "ClientVersion", clientVersion);
  LoadNumber(ui, "ChannelRetries", channelRetries);
  if (LoadNumber(ui, "PingInterval", pingInterval)) livePingInterval = pingInterval;
  LoadNumber(ui, "SleepPeriod", sleepPeriod);
  osName = ui.GetOsDescription();
  clientId = ui.GetClientId();
}

}  // namespace Pellux
