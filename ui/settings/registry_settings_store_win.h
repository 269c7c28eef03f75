#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "ui/settings/settings_store.h"

namespace Pellux {

// Settings in the registry: section S is the key <root>\<basePath>\S, numbers are REG_DWORD
// values and texts REG_SZ values. Every call opens the key (creating it when it is missing) and
// closes it again, so an administrator's edit counts from the next read on and no handle is held
// between calls. Thread-safe, as the registry itself is; the reporter may be called from any
// thread that calls the store.
class RegistrySettingsStore final : public SettingsStore {
 public:
  // Tests pass a root and base path of their own, so that they neither need nor touch the
  // service's key.
  explicit RegistrySettingsStore(Reporter reporter, HKEY root = HKEY_LOCAL_MACHINE,
                                 std::string basePath = "Software\\Pellux");

  std::optional<std::uint32_t> ReadNumber(const std::string& section,
                                          const std::string& name) override;
  std::optional<std::string> ReadText(const std::string& section, const std::string& name) override;
  bool WriteNumber(const std::string& section, const std::string& name,
                   std::uint32_t value) override;
  bool WriteText(const std::string& section, const std::string& name,
                 const std::string& value) override;
  bool HoldsUnusable(const std::string& section, const std::string& name, Kind kind) override;

 private:
  // The size of the buffer values are read into: a REG_SZ of kMaxTextBytes and its NUL.
  static constexpr DWORD kReadBufferBytes = kMaxTextBytes + 1;

  struct KeyCloser {
    void operator()(HKEY key) const;
  };
  using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

  struct RawValue {
    DWORD type = REG_NONE;
    DWORD size = 0;  // Bytes of `data` that belong to the value.
    std::array<BYTE, kReadBufferBytes> data{};
  };

  Key OpenSection(const std::string& section, REGSAM access);
  // The value as stored, or nothing when it is missing, too large for the buffer or cannot be
  // read (the last two reported).
  std::optional<RawValue> Query(const std::string& section, const std::string& name);
  // RegQueryValueExA into `value`; its status, reported by nobody.
  static LONG QueryInto(HKEY key, const std::string& name, RawValue& value);
  // The value as a setting of each kind; nothing when it is not one.
  static std::optional<std::uint32_t> AsNumber(const RawValue& value);
  static std::optional<std::string> AsText(const RawValue& value);
  bool Set(const std::string& section, const std::string& name, DWORD type, const BYTE* data,
           DWORD size);
  std::string SectionPath(const std::string& section) const;
  void ReportFailure(const std::string& call, const std::string& subject, LONG status);
  void ReportUnusable(const std::string& section, const std::string& name, const std::string& found,
                      const std::string& wanted);
  void Report(const std::string& line);

  const Reporter reporter_;
  const HKEY root_;
  const std::string rootName_;
  const std::string basePath_;
};

}  // namespace Pellux
