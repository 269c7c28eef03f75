#include "tools/pelluxctl/doctor/settings_check.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "tools/pelluxctl/doctor/access_rule.h"

namespace Pellux {
namespace {

using Json = nlohmann::json;

constexpr const char* kName = "settings";
// The daemon's one section.
constexpr const char* kSection = "Tracker";
// As deep as the daemon reads (JsonSettingsStore::kMaxDepth).
constexpr int kMaxDepth = 32;
// A text longer than this reads as unset (SettingsStore::kMaxTextBytes).
constexpr std::size_t kMaxTextBytes = 4095;
constexpr std::uint64_t kMaxNumber = std::numeric_limits<std::uint32_t>::max();
// The engine reads this number as "unset" and keeps its default.
constexpr std::uint32_t kUnsetNumber = 0xFFFFFFFF;

const SettingsKey* FindKey(const std::string& name) {
  const auto& keys = KnownSettingsKeys();
  const auto found =
      std::ranges::find_if(keys, [&](const SettingsKey& key) { return name == key.name; });
  return found == keys.end() ? nullptr : &*found;
}

bool Usable(const Json& value, bool number) {
  if (number) return value.is_number_unsigned() && value.get<std::uint64_t>() <= kMaxNumber;
  return value.is_string() && value.get_ref<const std::string&>().size() <= kMaxTextBytes;
}

// The values of one section that the checks use.
class SectionReader {
 public:
  explicit SectionReader(const Json& section) : section_(section) {}

  std::optional<std::uint32_t> Number(const char* name) const {
    const auto value = section_.find(name);
    if (value == section_.end() || !Usable(*value, true)) return std::nullopt;
    return static_cast<std::uint32_t>(value->get<std::uint64_t>());
  }
  std::optional<std::string> Text(const char* name) const {
    const auto value = section_.find(name);
    if (value == section_.end() || !Usable(*value, false)) return std::nullopt;
    return value->get<std::string>();
  }
  // The engine's reading: a missing or unusable value, an empty text and the number 4294967295
  // keep the default.
  template <typename T>
  void EngineNumber(const char* name, T& value) const {
    if (const auto number = Number(name); number && *number != kUnsetNumber) {
      value = static_cast<T>(*number);
    }
  }
  void EngineText(const char* name, std::string& value) const {
    if (auto text = Text(name); text && !text->empty()) value = std::move(*text);
  }

 private:
  const Json& section_;
};

void Fill(const Json& section, DoctorSettings& settings) {
  const SectionReader reader(section);
  reader.EngineNumber("VID", settings.vendorId);
  reader.EngineNumber("PID", settings.productId);
  reader.EngineText("ServerHost", settings.serverHost);
  reader.EngineNumber("ServerPort", settings.serverPort);
  reader.EngineText("ErrorPath", settings.errorPath);
  if (auto port = reader.Text("SerialPort")) settings.serialPort = std::move(*port);
  ProxySettings& proxy = settings.proxy;
  if (const auto selection = reader.Number("ProxySelection")) {
    proxy.selection = static_cast<std::int32_t>(*selection);
  }
  if (const auto flags = reader.Number("ProxyFlags")) proxy.flags = *flags;
  if (auto server = reader.Text("ProxyServer")) proxy.server = std::move(*server);
  if (auto bypass = reader.Text("ProxyBypass")) proxy.bypass = std::move(*bypass);
  if (auto override = reader.Text("ProxyServerOverride")) {
    proxy.serverOverride = std::move(*override);
  }
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) joined += ", ";
    joined += name;
  }
  return joined;
}

const char* const kEditFix =
    "edit the file (see pellux-settings(5)), then: sudo systemctl reload pellux.service";

}  // namespace

// The engine's defaults (ClientSettings in the daemon, which pelluxctl does not link; a test
// holds the two together).
DoctorSettings::DoctorSettings()
    : vendorId(0x10C4),
      productId(0x84C4),
      serverHost("upload.pellux.com"),
      serverPort(8001),
      errorPath("/device/tracker/errors") {}

const std::vector<SettingsKey>& KnownSettingsKeys() {
  static const std::vector<SettingsKey> keys = {
      {"ServerHost", false},
      {"ServerPort", true},
      {"ServerPath", false},
      {"ErrorHost", false},
      {"ErrorPort", true},
      {"ErrorPath", false},
      {"Frequency", true},
      {"VID", true},
      {"PID", true},
      {"ClientVersion", false},
      {"ChannelRetries", true},
      {"PingInterval", true},
      {"SleepPeriod", true},
      {"SerialPort", false},
      {"LogActivity", true},
      {"MaxLogDays", true},
      {"MaxLogBytes", true},
      {"Language", false},
      {"ClientId", false},
      {"ProxySelection", true},
      {"ProxyFlags", true},
      {"ProxyServer", false},
      {"ProxyBypass", false},
      {"ProxyServerOverride", false},
      {"ProxyAutoConfigURL", false},
      {"ProxyAutoDiscoveryFlags", true},
  };
  return keys;
}

DoctorCheck CheckSettingsFile(const std::string& path, const FileText& text, const FileFacts& facts,
                              const UserFacts& user, DoctorSettings& settings) {
  settings = DoctorSettings();
  switch (text.state) {
    case FileText::State::kMissing:
      return DoctorCheck::Ok(kName, path + " does not exist: every setting takes its default");
    case FileText::State::kTooLarge:
      return DoctorCheck::Fail(kName,
                               path + " is larger than " + std::to_string(kMaxSettingsBytes) +
                                   " bytes: the daemon sets it aside and uses the defaults",
                               "replace it with a valid settings file (see pellux-settings(5))");
    case FileText::State::kFailed:
      if (text.denied) {
        return DoctorCheck::Warn(kName, path + " cannot be read by this user: " + text.error,
                                 "run as root: sudo pelluxctl doctor");
      }
      return DoctorCheck::Fail(kName, path + " cannot be read: " + text.error,
                               "make it a regular file the user pellux can read");
    case FileText::State::kRead:
      break;
  }
  if (facts.state == FileFacts::State::kPresent && user.state == UserFacts::State::kFound &&
      !UserMayOpen(facts, user, kReadAccess)) {
    return DoctorCheck::Fail(kName,
                             path + " (owner " + std::to_string(facts.owner) + ", group " +
                                 std::to_string(facts.group) + ", mode " + ModeText(facts.mode) +
                                 ") cannot be read by the user pellux: the daemon uses the "
                                 "defaults and writes nothing",
                             "sudo chown pellux:pellux " + path + " && sudo chmod 0600 " + path);
  }
  // An empty file holds no settings, and the daemon's next write fills it.
  if (text.text.empty()) {
    return DoctorCheck::Ok(kName, path + " is empty: every setting takes its default");
  }

  bool tooDeep = false;
  const Json::parser_callback_t watchDepth = [&tooDeep](int depth, Json::parse_event_t, Json&) {
    if (depth > kMaxDepth) tooDeep = true;
    return true;
  };
  Json document;
  std::string why;
  try {
    document = Json::parse(text.text, watchDepth);
    if (tooDeep) {
      why = "it nests more than " + std::to_string(kMaxDepth) + " levels deep";
    } else if (!document.is_object()) {
      why = std::string("its top level is ") + document.type_name() + ", not an object";
    }
  } catch (const std::exception& error) {
    why = error.what();
  }
  if (!why.empty()) {
    return DoctorCheck::Fail(kName,
                             path + " is no settings file the daemon can read (" + why +
                                 "): it sets the file aside and uses the defaults",
                             kEditFix);
  }

  std::vector<std::string> unknown;
  std::vector<std::string> unusable;
  const Json* tracker = nullptr;
  for (const auto& [name, value] : document.items()) {
    if (name == kSection) {
      tracker = &value;
    } else {
      unknown.push_back(name);
    }
  }
  if (tracker != nullptr && !tracker->is_object()) {
    return DoctorCheck::Fail(kName,
                             path + ": \"" + kSection + "\" is " + tracker->type_name() +
                                 ", not an object: every setting reads as unset",
                             kEditFix);
  }
  if (tracker != nullptr) {
    for (const auto& [name, value] : tracker->items()) {
      const SettingsKey* key = FindKey(name);
      if (key == nullptr) {
        unknown.push_back(std::string(kSection) + "/" + name);
      } else if (!Usable(value, key->number)) {
        unusable.push_back(name + (key->number ? " (not a number from 0 to 4294967295)"
                                               : " (not a text of at most 4095 bytes)"));
      }
    }
    Fill(*tracker, settings);
  }
  std::string found = path + " is valid";
  if (unknown.empty() && unusable.empty()) return DoctorCheck::Ok(kName, found);
  if (!unknown.empty()) found += "; unknown to the daemon: " + JoinNames(unknown);
  if (!unusable.empty()) found += "; read as unset: " + JoinNames(unusable);
  return DoctorCheck::Warn(kName, found,
                           "fix or remove these keys (see pellux-settings(5) for the keys and "
                           "their types)");
}

DoctorSettings DoctorSettingsFromStore(SettingsStore& store) {
  Json section = Json::object();
  for (const SettingsKey& key : KnownSettingsKeys()) {
    if (key.number) {
      if (const auto number = store.ReadNumber(kSection, key.name)) section[key.name] = *number;
    } else if (auto text = store.ReadText(kSection, key.name)) {
      section[key.name] = std::move(*text);
    }
  }
  DoctorSettings settings;
  Fill(section, settings);
  return settings;
}

}  // namespace Pellux
