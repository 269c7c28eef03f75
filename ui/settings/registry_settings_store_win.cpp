#include "ui/settings/registry_settings_store_win.h"

#include <cstring>
#include <sstream>
#include <utility>

#include "base/system_error.h"

namespace Pellux {
namespace {

std::string NameOfRoot(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_USERS) return "HKEY_USERS";
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  std::ostringstream name;
  name << "HKEY(" << static_cast<const void*>(root) << ")";
  return name.str();
}

std::string NameOfType(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
      return "REG_LINK";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "type " + std::to_string(type);
  }
}

}  // namespace

void RegistrySettingsStore::KeyCloser::operator()(HKEY key) const {
  RegCloseKey(key);
}

RegistrySettingsStore::RegistrySettingsStore(Reporter reporter, HKEY root, std::string basePath)
    : reporter_(std::move(reporter)),
      root_(root),
      rootName_(NameOfRoot(root)),
      basePath_(std::move(basePath)) {}

std::optional<std::uint32_t> RegistrySettingsStore::ReadNumber(const std::string& section,
                                                               const std::string& name) {
  const auto value = Query(section, name);
  if (!value) return std::nullopt;
  if (auto number = AsNumber(*value)) return number;
  ReportUnusable(section, name,
                 NameOfType(value->type) + " of " + std::to_string(value->size) + " bytes",
                 "a REG_DWORD");
  return std::nullopt;
}

std::optional<std::uint32_t> RegistrySettingsStore::AsNumber(const RawValue& value) {
  if (value.type != REG_DWORD || value.size != sizeof(DWORD)) return std::nullopt;
  DWORD number = 0;
  std::memcpy(&number, value.data.data(), sizeof(number));
  return number;
}

std::optional<std::string> RegistrySettingsStore::AsText(const RawValue& value) {
  if (value.type != REG_SZ) return std::nullopt;
  // Whoever wrote the value may have left out the terminating NUL, or counted several: only
  // the bytes the registry reported belong to it, and trailing NULs are no part of the text.
  std::size_t length = value.size;
  while (length > 0 && value.data[length - 1] == 0) --length;
  if (length > kMaxTextBytes) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(value.data.data()), length);
}

bool RegistrySettingsStore::HoldsUnusable(const std::string& section, const std::string& name,
                                          Kind kind) {
  // Read again by the same rules as ReadNumber and ReadText, which reported what they found.
  const Key key = OpenSection(section, KEY_READ);
  if (!key) return true;
  RawValue value;
  const LONG status = QueryInto(key.get(), name, value);
  if (status == ERROR_FILE_NOT_FOUND) return false;
  if (status != ERROR_SUCCESS) return true;
  return kind == Kind::kNumber ? !AsNumber(value).has_value() : !AsText(value).has_value();
}

std::optional<std::string> RegistrySettingsStore::ReadText(const std::string& section,
                                                           const std::string& name) {
  const auto value = Query(section, name);
  if (!value) return std::nullopt;
  if (auto text = AsText(*value)) return text;
  ReportUnusable(section, name,
                 NameOfType(value->type) + " of " + std::to_string(value->size) + " bytes",
                 "a REG_SZ of at most " + std::to_string(kMaxTextBytes) + " bytes");
  return std::nullopt;
}

bool RegistrySettingsStore::WriteNumber(const std::string& section, const std::string& name,
                                        std::uint32_t value) {
  const DWORD number = value;
  return Set(section, name, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

bool RegistrySettingsStore::WriteText(const std::string& section, const std::string& name,
                                      const std::string& value) {
  if (value.size() > kMaxTextBytes) {
    Report("Settings value " + SectionPath(section) + "\\" + name + " not written: its " +
           std::to_string(value.size()) + " bytes are more than the " +
           std::to_string(kMaxTextBytes) + " a setting may hold");
    return false;
  }
  // c_str() brings the terminating NUL, which a REG_SZ counts in its size.
  return Set(section, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
             static_cast<DWORD>(value.size() + 1));
}

RegistrySettingsStore::Key RegistrySettingsStore::OpenSection(const std::string& section,
                                                              REGSAM access) {
  const std::string subKey = section.empty() ? basePath_ : basePath_ + "\\" + section;
  HKEY key = nullptr;
  const LONG status = RegCreateKeyExA(root_, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      access, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    ReportFailure("RegCreateKeyExA", SectionPath(section), status);
    return nullptr;
  }
  return Key(key);
}

LONG RegistrySettingsStore::QueryInto(HKEY key, const std::string& name, RawValue& value) {
  value.size = static_cast<DWORD>(value.data.size());
  const LONG status =
      RegQueryValueExA(key, name.c_str(), nullptr, &value.type, value.data.data(), &value.size);
  // The registry never reports more than the buffer took; distrust it all the same.
  if (status == ERROR_SUCCESS && value.size > value.data.size()) {
    value.size = static_cast<DWORD>(value.data.size());
  }
  return status;
}

std::optional<RegistrySettingsStore::RawValue> RegistrySettingsStore::Query(
    const std::string& section, const std::string& name) {
  // Reading needs no more than KEY_READ, which also creates a missing section key.
  const Key key = OpenSection(section, KEY_READ);
  if (!key) return std::nullopt;
  RawValue value;
  const LONG status = QueryInto(key.get(), name, value);
  if (status == ERROR_SUCCESS) return value;
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status == ERROR_MORE_DATA) {
    ReportUnusable(
        section, name,
        NameOfType(value.type) + " of more than " + std::to_string(value.data.size()) + " bytes",
        "a setting of at most " + std::to_string(value.data.size()) + " bytes");
    return std::nullopt;
  }
  ReportFailure("RegQueryValueExA", SectionPath(section) + "\\" + name, status);
  return std::nullopt;
}

bool RegistrySettingsStore::Set(const std::string& section, const std::string& name, DWORD type,
                                const BYTE* data, DWORD size) {
  const Key key = OpenSection(section, KEY_ALL_ACCESS);
  if (!key) return false;
  const LONG status = RegSetValueExA(key.get(), name.c_str(), 0, type, data, size);
  if (status != ERROR_SUCCESS) {
    ReportFailure("RegSetValueExA", SectionPath(section) + "\\" + name, status);
    return false;
  }
  return true;
}

std::string RegistrySettingsStore::SectionPath(const std::string& section) const {
  std::string path = rootName_ + "\\" + basePath_;
  if (!section.empty()) path += "\\" + section;
  return path;
}

void RegistrySettingsStore::ReportFailure(const std::string& call, const std::string& subject,
                                          LONG status) {
  Report(SystemCallFailure(call, subject, static_cast<unsigned long>(status)));
}

void RegistrySettingsStore::ReportUnusable(const std::string& section, const std::string& name,
                                           const std::string& found, const std::string& wanted) {
  Report("Settings value " + SectionPath(section) + "\\" + name + " is " + found + ", not " +
         wanted + ": it reads as unset");
}

void RegistrySettingsStore::Report(const std::string& line) {
  if (!reporter_) return;
  try {
    reporter_(line);
  } catch (...) {
    // A log that cannot take the line has nowhere to report that either; the settings call
    // itself must still return normally.
  }
}

}  // namespace Pellux
