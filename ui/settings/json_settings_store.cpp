#include "ui/settings/json_settings_store.h"

#include <exception>
#include <filesystem>
#include <iomanip>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <system_error>
#include <utility>

#include "base/system_error.h"
#include "ui/settings/atomic_file.h"

namespace Pellux {
namespace {

using Json = nlohmann::json;

constexpr std::uint64_t kMaxNumber = std::numeric_limits<std::uint32_t>::max();
// Past this many "-N" names for one second's set-aside copy something else is wrong.
constexpr int kMaxSetAsideAttempts = 1000;

// Names the set-aside copy of a corrupt file in UTC, so that the name does not depend on the
// time zone the daemon happens to run in.
std::string CompactUtcTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto second = floor<seconds>(when);
  const auto day = floor<days>(second);
  const year_month_day date{day};
  const hh_mm_ss time{second - day};
  std::ostringstream text;
  text << std::setfill('0') << std::setw(4) << static_cast<int>(date.year()) << std::setw(2)
       << static_cast<unsigned>(date.month()) << std::setw(2) << static_cast<unsigned>(date.day())
       << 'T' << std::setw(2) << time.hours().count() << std::setw(2) << time.minutes().count()
       << std::setw(2) << time.seconds().count();
  return text.str();
}

// What a value found in the file is, for a log line that says why it was not used.
std::string DescribeJson(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return "a text of " + std::to_string(value.get_ref<const std::string&>().size()) + " bytes";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::null:
      return "null";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
      return "the number " + value.dump();
    default:
      return "a value of type " + std::string(value.type_name());
  }
}

}  // namespace

JsonSettingsStore::JsonSettingsStore(std::string path, Reporter reporter, Clock now,
                                     FileReplacer replaceFile)
    : path_(std::move(path)),
      reporter_(std::move(reporter)),
      now_(now ? std::move(now) : Clock(std::chrono::system_clock::now)),
      replaceFile_(replaceFile ? std::move(replaceFile) : FileReplacer(ReplaceFileAtomically)) {}

std::optional<std::uint32_t> JsonSettingsStore::ReadNumber(const std::string& section,
                                                           const std::string& name) {
  try {
    const std::lock_guard lock(mutex_);
    const auto value = FindValue(section, name);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned() && value->get<std::uint64_t>() <= kMaxNumber) {
      return static_cast<std::uint32_t>(value->get<std::uint64_t>());
    }
    Report("Settings value " + section + "/" + name + " in " + path_ + " is " +
           DescribeJson(*value) + ", not a whole number from 0 to 4294967295: it reads as unset");
  } catch (const std::exception& error) {
    Report("Reading settings value " + section + "/" + name + " from " + path_ +
           " failed: " + error.what());
  }
  return std::nullopt;
}

std::optional<std::string> JsonSettingsStore::ReadText(const std::string& section,
                                                       const std::string& name) {
  try {
    const std::lock_guard lock(mutex_);
    auto value = FindValue(section, name);
    if (!value) return std::nullopt;
    if (value->is_string() && value->get_ref<const std::string&>().size() <= kMaxTextBytes) {
      return std::move(value->get_ref<std::string&>());
    }
    Report("Settings value " + section + "/" + name + " in " + path_ + " is " +
           DescribeJson(*value) + ", not a text of at most " + std::to_string(kMaxTextBytes) +
           " bytes: it reads as unset");
  } catch (const std::exception& error) {
    Report("Reading settings value " + section + "/" + name + " from " + path_ +
           " failed: " + error.what());
  }
  return std::nullopt;
}

bool JsonSettingsStore::HoldsUnusable(const std::string& section, const std::string& name,
                                      Kind kind) {
  try {
    const std::lock_guard lock(mutex_);
    const auto document = Load();
    // A file that is there but could not be read: whatever it holds is left as it is.
    if (!document) return true;
    const auto sectionEntry = document->find(section);
    if (sectionEntry == document->end() || !sectionEntry->is_object()) return false;
    const auto value = sectionEntry->find(name);
    if (value == sectionEntry->end()) return false;
    if (kind == Kind::kNumber) {
      return !(value->is_number_unsigned() && value->get<std::uint64_t>() <= kMaxNumber);
    }
    return !(value->is_string() && value->get_ref<const std::string&>().size() <= kMaxTextBytes);
  } catch (const std::exception& error) {
    Report("Reading settings value " + section + "/" + name + " from " + path_ +
           " failed: " + error.what());
  }
  return true;
}

bool JsonSettingsStore::WriteNumber(const std::string& section, const std::string& name,
                                    std::uint32_t value) {
  try {
    const std::lock_guard lock(mutex_);
    return Write(section, name, Json(value));
  } catch (const std::exception& error) {
    Report("Settings value " + section + "/" + name + " not written to " + path_ + ": " +
           error.what());
  }
  return false;
}

bool JsonSettingsStore::WriteText(const std::string& section, const std::string& name,
                                  const std::string& value) {
  try {
    if (value.size() > kMaxTextBytes) {
      Report("Settings value " + section + "/" + name + " not written to " + path_ + ": its " +
             std::to_string(value.size()) + " bytes are more than the " +
             std::to_string(kMaxTextBytes) + " a setting may hold");
      return false;
    }
    const std::lock_guard lock(mutex_);
    return Write(section, name, Json(value));
  } catch (const std::exception& error) {
    // Among others nlohmann's refusal of a text that is not UTF-8, before anything was written.
    Report("Settings value " + section + "/" + name + " not written to " + path_ + ": " +
           error.what());
  }
  return false;
}

std::optional<Json> JsonSettingsStore::FindValue(const std::string& section,
                                                 const std::string& name) {
  const auto document = Load();
  if (!document) return std::nullopt;
  const auto sectionEntry = document->find(section);
  if (sectionEntry == document->end()) return std::nullopt;
  if (!sectionEntry->is_object()) {
    Report("Settings section " + section + " in " + path_ + " is " + DescribeJson(*sectionEntry) +
           ", not an object: its values read as unset");
    return std::nullopt;
  }
  const auto valueEntry = sectionEntry->find(name);
  if (valueEntry == sectionEntry->end()) return std::nullopt;
  return *valueEntry;
}

std::optional<Json> JsonSettingsStore::Load() {
  std::string contents;
  std::string readError;
  switch (ReadWholeFile(path_, kMaxFileBytes, contents, readError)) {
    case FileReadResult::kMissing:
      return Json::object();
    case FileReadResult::kFailed:
      Report("Settings file " + path_ + " cannot be read, so settings read as unset and are not " +
             "written: " + readError);
      return std::nullopt;
    case FileReadResult::kRead:
      break;
  }
  // A zero-byte file is what `touch`, or an editor that truncated the file and was stopped,
  // leaves behind. It holds no settings that setting it aside could save, so it counts as empty
  // and the next write simply fills it.
  if (contents.empty()) return Json::object();
  if (contents.size() > kMaxFileBytes) {
    if (!SetAside("it is larger than " + std::to_string(kMaxFileBytes) + " bytes")) {
      return std::nullopt;
    }
    return Json::object();
  }

  bool tooDeep = false;
  const Json::parser_callback_t watchDepth = [&tooDeep](int depth, Json::parse_event_t, Json&) {
    if (depth > kMaxDepth) tooDeep = true;
    return true;
  };
  std::string why;
  Json document;
  try {
    document = Json::parse(contents, watchDepth);
    if (tooDeep) {
      why = "it nests more than " + std::to_string(kMaxDepth) + " levels deep";
    } else if (!document.is_object()) {
      why = "its top level is " + DescribeJson(document) + ", not an object";
    }
  } catch (const Json::parse_error& parseError) {
    why = parseError.what();
  }
  if (why.empty()) return document;
  if (!SetAside(why)) return std::nullopt;
  return Json::object();
}

bool JsonSettingsStore::SetAside(const std::string& why) {
  const std::string base = path_ + ".corrupt-" + CompactUtcTimestamp(now_());
  // Probe for a free name. A lookup that fails for another reason than a missing file ends the
  // search as well: the rename then reports that reason.
  std::string target = base;
  int attempt = 0;
  for (;;) {
    std::error_code ignored;
    const auto type = std::filesystem::symlink_status(target, ignored).type();
    if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::none) {
      break;
    }
    if (++attempt == kMaxSetAsideAttempts) break;
    target.assign(base).append("-").append(std::to_string(attempt));
  }
  if (attempt == kMaxSetAsideAttempts) {
    Report("Settings file " + path_ + " cannot be parsed (" + why + "), and no free name " +
           "was found to move it aside as " + base + ": it is left untouched, settings read " +
           "as unset and are not written");
    return false;
  }
  std::error_code code;
  std::filesystem::rename(path_, target, code);
  if (code) {
    Report("Settings file " + path_ + " cannot be parsed (" + why + "), and moving it aside " +
           "failed: " +
           SystemCallFailure("rename", path_ + ", " + target,
                             static_cast<unsigned long>(code.value())) +
           ": it is left untouched, settings read as unset and are not written");
    return false;
  }
  Report("Settings file " + path_ + " cannot be parsed (" + why + "): moved it to " + target +
         " and went on with default settings");
  return true;
}

bool JsonSettingsStore::Write(const std::string& section, const std::string& name,
                              const Json& value) {
  auto document = Load();
  if (!document) return false;  // Load has said why.
  const auto sectionEntry = document->find(section);
  if (sectionEntry != document->end() && !sectionEntry->is_object()) {
    Report("Settings section " + section + " in " + path_ + " was " + DescribeJson(*sectionEntry) +
           ", not an object: replaced it with an object to hold " + name);
    *sectionEntry = Json::object();
  }
  (*document)[section][name] = value;
  const std::string contents = document->dump(2) + "\n";

  const auto parent = std::filesystem::path(path_).parent_path();
  if (!parent.empty()) {
    std::error_code code;
    std::filesystem::create_directories(parent, code);
    if (code) {
      Report("Settings value " + section + "/" + name + " not written: " +
             SystemCallFailure("create_directories", parent.string(),
                               static_cast<unsigned long>(code.value())));
      return false;
    }
  }
  std::string error;
  if (!replaceFile_(path_, contents, error)) {
    Report("Settings value " + section + "/" + name + " not written: " + error);
    return false;
  }
  if (!error.empty()) {
    Report("Settings value " + section + "/" + name + " written to " + path_ +
           ", but it may not survive a crash: " + error);
  }
  return true;
}

void JsonSettingsStore::Report(const std::string& line) {
  if (!reporter_) return;
  try {
    reporter_(line);
  } catch (...) {
    // A log that cannot take the line has nowhere to report that either; the settings call
    // itself must still return normally.
  }
}

std::string DefaultSettingsPath(const char* stateDirectoryEnv) {
  const char* const fallback = "/var/lib/pellux/settings.json";
  if (stateDirectoryEnv == nullptr) return fallback;
  const std::string directories(stateDirectoryEnv);
  const std::string first = directories.substr(0, directories.find(':'));
  if (first.empty()) return fallback;
  return (std::filesystem::path(first) / "settings.json").string();
}

}  // namespace Pellux
