#include "sim/memory_settings_store.h"

namespace Pellux {

std::optional<std::uint32_t> MemorySettingsStore::ReadNumber(const std::string& section,
                                                             const std::string& name) {
  auto value = Get(section, name);
  if (!value || !std::holds_alternative<std::uint32_t>(*value)) return std::nullopt;
  return std::get<std::uint32_t>(*value);
}

std::optional<std::string> MemorySettingsStore::ReadText(const std::string& section,
                                                         const std::string& name) {
  auto value = Get(section, name);
  if (!value || !std::holds_alternative<std::string>(*value)) return std::nullopt;
  return std::get<std::string>(*value);
}

bool MemorySettingsStore::WriteNumber(const std::string& section, const std::string& name,
                                      std::uint32_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  sections_[section][name] = value;
  return true;
}

bool MemorySettingsStore::WriteText(const std::string& section, const std::string& name,
                                    const std::string& value) {
  std::lock_guard<std::mutex> guard(mutex_);
  sections_[section][name] = value;
  return true;
}

void MemorySettingsStore::Erase(const std::string& section, const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  sections_[section].erase(name);
}

std::optional<MemorySettingsStore::Value> MemorySettingsStore::Get(const std::string& section,
                                                                   const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto found = sections_.find(section);
  if (found == sections_.end()) return std::nullopt;
  auto value = found->second.find(name);
  if (value == found->second.end()) return std::nullopt;
  return value->second;
}

std::size_t MemorySettingsStore::Count(const std::string& section) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto found = sections_.find(section);
  return found == sections_.end() ? 0 : found->second.size();
}

}  // namespace Pellux
