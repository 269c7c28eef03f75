#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace Pellux {

// How the transport reaches servers, as the UI application maintains it.
struct ProxySettings {
  // Values of `selection`.
  static constexpr std::int32_t kPerConnection = 1;  // the per-connection options below
  static constexpr std::int32_t kOverride = 2;       // the override server
  // Bits of `flags`, as the per-connection options have them.
  static constexpr std::uint32_t kDirect = 0x1;
  static constexpr std::uint32_t kManualProxy = 0x2;
  static constexpr std::uint32_t kAutoConfigUrl = 0x4;
  static constexpr std::uint32_t kAutoDetect = 0x8;

  // Anything but 1 and 2 (the default -1 included) is a direct connection.
  std::int32_t selection = -1;
  std::string autoConfigUrl;
  std::uint32_t autoDiscoveryFlags = 0xFFFFFFFF;
  std::uint32_t flags = 0xFFFFFFFF;
  // The bypass list and the proxy server list in their Windows forms: entries separated by
  // ';' or spaces, "*.domain" and "<local>" in the bypass list, "host:port" or
  // "scheme=host:port" in the server list.
  std::string bypass;
  std::string server;
  std::string serverOverride;

  bool operator==(const ProxySettings&) const = default;
};

// The one set of the process. Every exchange reads a whole copy at its start; the UI bridge
// replaces it as a whole, so no exchange sees half of an old and half of a new set.
class ProcessProxySettings {
 public:
  static ProxySettings Get();
  static void Set(const ProxySettings& settings);

 private:
  static std::mutex& Lock();
  static ProxySettings& Current();
};

}  // namespace Pellux
