// The defaults the engine and the activity log write back, over the real registry under Wine: a
// missing value is written, one that is there but unusable (of the other type) is reported and
// left as it is, and the value in use is the default.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "session/client_settings.h"
#include "sim/virtual_clock.h"
#include "tests/support/reported_lines.h"
#include "tests/ui/log/memory_log_folder.h"
#include "ui/log/activity_log.h"
#include "ui/settings/registry_settings_store_win.h"
#include "ui/user_interface.h"

namespace Pellux {
namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;

// The engine's view of the settings, over the registry store; nothing else is asked of it.
class RegistryInterface final : public UserInterface {
 public:
  explicit RegistryInterface(SettingsStore& settings) : UserInterface(settings) {}
  bool ShowErrorList(int /*templateNumber*/, const std::vector<std::string>& /*keys*/,
                     Context /*context*/) override {
    return false;
  }
  bool DisplayHtml(const std::string& /*html*/, Context /*context*/, int /*width*/,
                   int /*height*/) override {
    return false;
  }
  void SendRequest(NetworkRequest /*request*/, Context /*context*/) override {}
  void Log(const std::string& /*text*/, int /*level*/, Context /*context*/) override {}
  std::string GetOsDescription() override { return "Windows"; }
  std::string GetClientId() override { return "client"; }
  std::string GetLocale(Context /*context*/) override { return "en_US"; }
};

struct Stored {
  DWORD type = REG_NONE;
  std::string bytes;
  bool operator==(const Stored&) const = default;
};

void PrintTo(const Stored& value, std::ostream* out) {
  *out << "type " << value.type << ", " << value.bytes.size() << " bytes";
}

std::string Dword(std::uint32_t value) {
  return {reinterpret_cast<const char*>(&value), sizeof value};
}

class DefaultsOverRegistryTest : public ::testing::Test {
 protected:
  ~DefaultsOverRegistryTest() override { RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

  void Put(const std::string& name, DWORD type, const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\Tracker").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
  }
  std::optional<Stored> Get(const std::string& name) const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (base_ + "\\Tracker").c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    Stored value;
    value.bytes.resize(8192);
    auto size = static_cast<DWORD>(value.bytes.size());
    const LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                         reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    value.bytes.resize(size);
    return value;
  }

  const std::string base_ =
      "Software\\PelluxDefaultsTest-" + std::to_string(std::random_device()());
  ReportedLines reported_;
  RegistrySettingsStore store_{reported_.Reporter(), HKEY_CURRENT_USER, base_};
};

TEST_F(DefaultsOverRegistryTest, EngineWritesMissingValuesAndLeavesUnusableOnesAsTheyAre) {
  const struct {
    const char* name;
    DWORD type;
    std::string bytes;
  } unusable[] = {
      {"ServerPort", REG_SZ, std::string("80\0", 3)},
      {"Frequency", REG_BINARY, "\x42"},
      {"ServerHost", REG_DWORD, Dword(80)},
      {"ErrorPath", REG_EXPAND_SZ, std::string("%TEMP%\0", 7)},
      {"ClientVersion", REG_SZ, std::string(5000, 'v') + '\0'},
  };
  for (const auto& value : unusable) Put(value.name, value.type, value.bytes);
  RegistryInterface ui(store_);
  ClientSettings settings;
  std::int32_t livePing = 4000;
  settings.Load(ui, livePing);

  const ClientSettings defaults;
  EXPECT_EQ(settings.serverPort, defaults.serverPort);
  EXPECT_EQ(settings.frequency, defaults.frequency);
  EXPECT_EQ(settings.serverHost, defaults.serverHost);
  EXPECT_EQ(settings.errorPath, defaults.errorPath);
  EXPECT_EQ(settings.clientVersion, defaults.clientVersion);
  const std::vector<std::string> lines = reported_.Take();
  for (const auto& value : unusable) {
    SCOPED_TRACE(value.name);
    EXPECT_EQ(Get(value.name), (Stored{value.type, value.bytes})) << "left as it is";
    EXPECT_THAT(lines, Contains(AllOf(HasSubstr(std::string("\\Tracker\\") + value.name),
                                      HasSubstr("reads as unset"))));
  }
  // The missing ones were written with their defaults, as before.
  EXPECT_EQ(Get("ErrorPort"), (Stored{REG_DWORD, Dword(8001)}));
  EXPECT_EQ(Get("SleepPeriod"), (Stored{REG_DWORD, Dword(15)}));
  EXPECT_EQ(Get("ServerPath"), (Stored{REG_SZ, std::string("/device/tracker/uploadData\0", 27)}));
  // An empty text and the number 0xFFFFFFFF count as not set: written back.
  Put("ErrorHost", REG_SZ, std::string("\0", 1));
  Put("PingInterval", REG_DWORD, Dword(0xFFFFFFFF));
  settings.Load(ui, livePing);
  EXPECT_EQ(Get("ErrorHost"), (Stored{REG_SZ, defaults.errorHost + std::string(1, '\0')}));
  EXPECT_EQ(Get("PingInterval"), (Stored{REG_DWORD, Dword(4000)}));
}

TEST_F(DefaultsOverRegistryTest, ActivityLogLeavesAnUnusableLogActivityAsItIs) {
  Put("LogActivity", REG_SZ, std::string("yes\0", 4));
  Put("MaxLogDays", REG_SZ, std::string("7\0", 2));
  VirtualClock clock;
  MemoryLogFolder folder(clock, "C:\\logs");
  RecordingDebugOutput debug;
  ActivityLog log(store_, folder, debug, clock, "1.2.0", nullptr);
  EXPECT_EQ(Get("LogActivity"), (Stored{REG_SZ, std::string("yes\0", 4)}));
  EXPECT_EQ(Get("MaxLogDays"), (Stored{REG_SZ, std::string("7\0", 2)}));
  EXPECT_EQ(Get("MaxLogBytes"), (Stored{REG_DWORD, Dword(ActivityLog::kDefaultMaxBytes)}));
  EXPECT_THAT(reported_.Take(),
              Contains(AllOf(HasSubstr("\\Tracker\\LogActivity"),
                             HasSubstr("is REG_SZ of 4 bytes, not a REG_DWORD"))));
  // The value in use is the default: logging stays off.
  log.Open();
  log.WriteLine("a line");
  EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
}  // namespace Pellux
