#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Pellux {

// Typed settings, grouped in sections. A value is either a 32-bit number (a registry DWORD) or
// a text (a registry string); reading a value as the other type finds nothing, just as a missing
// value. Thread-safe: the engine, the UI bridge and the network workers all read settings.
class SettingsStore {
 public:
  // Receives one line about a problem the store met and handled (a corrupt file set aside, a
  // failing system call), for the activity log.
  using Reporter = std::function<void(const std::string& line)>;

  // Texts longer than this are refused by both backends, as the registry reader's buffer is.
  static constexpr std::size_t kMaxTextBytes = 4095;

  SettingsStore() = default;
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;
  virtual ~SettingsStore() = default;

  virtual std::optional<std::uint32_t> ReadNumber(const std::string& section,
                                                  const std::string& name) = 0;
  virtual std::optional<std::string> ReadText(const std::string& section,
                                              const std::string& name) = 0;
  // False when the value could not be stored; the store is then unchanged.
  virtual bool WriteNumber(const std::string& section, const std::string& name,
                           std::uint32_t value) = 0;
  virtual bool WriteText(const std::string& section, const std::string& name,
                         const std::string& value) = 0;

  enum class Kind { kNumber, kText };
  // Whether a value of that name is there that does not read as `kind` (of the other type, too
  // large, or one the store could not look at): present but unusable. A writer of defaults
  // leaves such a value as it is (its read reported it), so that an administrator's mistake is
  // seen and mended rather than silently replaced; a missing value is false. This default,
  // for stores that cannot hold such values, is always false.
  virtual bool HoldsUnusable(const std::string& /*section*/, const std::string& /*name*/,
                             Kind /*kind*/) {
    return false;
  }

  // The store of this platform: the registry under HKEY_LOCAL_MACHINE\Software\Pellux on
  // Windows (`location` is ignored), a JSON file on Linux (`location` is its path, or empty for
  // the default path).
  static std::unique_ptr<SettingsStore> CreateForPlatform(const std::string& location,
                                                          Reporter reporter);
};

}  // namespace Pellux
