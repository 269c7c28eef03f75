#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

class UserInterface;

// The host of our public upload server, used for both the upload and the error endpoint until
// an administrator stores another one.
inline constexpr const char* kDefaultServerHost = "upload.pellux.com";
// All of the engine's settings live in this section.
inline constexpr const char* kSettingsSection = "Tracker";

// The engine's client settings, with their built-in defaults.
struct ClientSettings {
  std::string serverHost = kDefaultServerHost;
  std::int32_t serverPort = 8001;
  std::string serverPath = "/device/tracker/uploadData";
  std::string errorHost = kDefaultServerHost;
  std::int32_t errorPort = 8001;
  std::string errorPath = "/device/tracker/errors";
  std::uint8_t frequency = 2;
  std::uint16_t vendorId = 0x10C4;
  std::uint16_t productId = 0x84C4;
  std::string clientVersion = "1.2";
  std::int32_t channelRetries = 32;
  // The administrator's ping interval, apart from the one in use, which instructions change.
  std::int32_t pingInterval = 4000;
  std::int32_t sleepPeriod = 15;
  std::string osName;
  std::string clientId;

  // Reads every stored value in a fixed order. A value that is missing, an empty text or the
  // number 0xFFFFFFFF keeps the value in use and is written back, so the store always shows what
  // the engine uses. A value there but unusable (of the wrong type, say: the store reports it)
  // keeps the value in use too, but is left as it is for an administrator to mend. A stored
  // "PingInterval" also becomes `livePingInterval`, the engine's ping interval in use; a missing
  // one is written back from the setting, never from the live value.
  void Load(UserInterface& ui, std::int32_t& livePingInterval);
};

}  // namespace Pellux
