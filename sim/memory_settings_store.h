#pragma once

#include <map>
#include <mutex>
#include <string>
#include <variant>

#include "ui/settings/settings_store.h"

namespace Pellux {

// Settings kept in memory, typed like the registry: a value is a number or a text. For tests
// and the demo, which must not touch the machine's own settings.
class MemorySettingsStore final : public SettingsStore {
 public:
  using Value = std::variant<std::uint32_t, std::string>;

  std::optional<std::uint32_t> ReadNumber(const std::string& section,
                                          const std::string& name) override;
  std::optional<std::string> ReadText(const std::string& section, const std::string& name) override;
  bool WriteNumber(const std::string& section, const std::string& name,
                   std::uint32_t value) override;
  bool WriteText(const std::string& section, const std::string& name,
                 const std::string& value) override;

  // Test helpers.
  void Erase(const std::string& section, const std::string& name);
  [[nodiscard]] std::optional<Value> Get(const std::string& section, const std::string& name) const;
  [[nodiscard]] std::size_t Count(const std::string& section) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::map<std::string, Value>> sections_;
};

}  // namespace Pellux
