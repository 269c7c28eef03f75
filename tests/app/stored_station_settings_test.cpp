// "SerialPort" as the Linux settings file holds it: written back empty only when missing, never
// over a value that is there, usable or not.

#include "app/stored_station_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ui/settings/json_settings_store.h"

namespace Pellux {
namespace {

class StoredStationSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pellux-station-XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    store_ = std::make_unique<JsonSettingsStore>(
        Path(), [this](const std::string& line) { reports_.push_back(line); });
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Path() const { return (folder_ / "settings.json").string(); }
  void Write(const std::string& text) const { std::ofstream(Path()) << text; }
  std::string Read() const {
    std::ifstream file(Path());
    return {std::istreambuf_iterator<char>(file), {}};
  }

  std::filesystem::path folder_;
  std::vector<std::string> reports_;
  std::unique_ptr<JsonSettingsStore> store_;
};

TEST_F(StoredStationSettingsTest, AMissingPortIsWrittenEmptyAndAnyStoredOneIsKept) {
  const struct {
    const char* stored;  // the value of "SerialPort" in the file, or nullptr: none
    const char* kept;    // what the file must still hold after the reader is made
    const char* inUse;   // SerialPort()
  } cases[] = {
      {nullptr, "\"SerialPort\": \"\"", ""},
      {"\"/dev/ttyUSB3\"", "\"SerialPort\": \"/dev/ttyUSB3\"", "/dev/ttyUSB3"},
      {"3", "\"SerialPort\": 3", ""},
      {"true", "\"SerialPort\": true", ""},
      {"[\"/dev/ttyS0\"]", "\"/dev/ttyS0\"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored != nullptr ? c.stored : "(missing)");
    Write(c.stored != nullptr ? std::string(R"({"Tracker": {"SerialPort": )") + c.stored + "}}"
                              : std::string(R"({"Tracker": {"VID": 4292}})"));
    StoredStationSettings settings(*store_);
    EXPECT_NE(Read().find(c.kept), std::string::npos) << Read();
    EXPECT_EQ(settings.SerialPort(), c.inUse);
  }
}

}  // namespace
}  // namespace Pellux
