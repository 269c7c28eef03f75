#include "app/uploader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/memory_settings_store.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/recording_user_interface.h"

namespace Pellux {
namespace {

// The uploader on a virtual station and clock, with a recording user interface whose lines
// are copied out as they come, so that they can still be read once the uploader has gone.
class UploaderTest : public ::testing::Test {
 protected:
  std::unique_ptr<Uploader> Make() {
    AntRadio::Timing timing;
    timing.responseWait = std::chrono::milliseconds(200);
    return std::make_unique<Uploader>(
        Uploader::Pieces{.settings = store,
                         .devices = bus,
                         .clock = clock,
                         .makeUserInterface =
                             [this](SettingsStore& /*settings*/, NetworkWorkerPool& /*pool*/) {
                               auto made = std::make_unique<RecordingUserInterface>();
                               made->onLog = [this](const std::string& line) {
                                 std::lock_guard guard(linesLock);
                                 lines.push_back(line);
                               };
                               ui = made.get();
                               return made;
                             },
                         .httpLog = {},
                         .httpLimits = {},
                         .radioTiming = timing,
                         .identifiers = &identifiers});
  }

  [[nodiscard]] int Position(const std::string& line) {
    std::lock_guard guard(linesLock);
    const auto found = std::find(lines.begin(), lines.end(), line);
    return found == lines.end() ? -1 : static_cast<int>(found - lines.begin());
  }

  VirtualClock clock;
  MemorySettingsStore store;
  VirtualBaseStation station{clock};
  VirtualDeviceBus bus;
  LinkIdentifiers identifiers{20261209};
  RecordingUserInterface* ui = nullptr;
  std::mutex linesLock;
  std::vector<std::string> lines;
};

TEST_F(UploaderTest, TheEngineOpensTheBaseStationItWasGiven) {
  bus.Attach(station, 0x10C4, 0x84C4);
  auto uploader = Make();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  EXPECT_TRUE(station.IsOpen());
  EXPECT_GE(Position("Initialized communication [VID: 0x10c4, PID: 0x84c4, SERIAL: 4021337]."), 0);
  EXPECT_EQ(CommunicationManager::Instance(), &uploader->Engine());
}

TEST_F(UploaderTest, StopShutsTheEngineDownOnceAndTheEngineGoesBeforeTheInterface) {
  bus.Attach(station, 0x10C4, 0x84C4);
  auto uploader = Make();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  uploader->Stop();
  uploader->Stop();
  EXPECT_TRUE(uploader->Engine().IsStopped());
  EXPECT_FALSE(station.IsOpen());
  {
    std::lock_guard guard(linesLock);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Shutting down..."), 1);
  }
  uploader.reset();
  // The engine's last lines still reached the user interface: it went after the engine.
  const int stopped = Position("After stop \n");
  EXPECT_GT(stopped, Position("Dealloc stop \n"));
  EXPECT_EQ(CommunicationManager::Instance(), nullptr);
}

TEST_F(UploaderTest, NoStationIsReportedAndTheEngineKeepsWaiting) {
  auto uploader = Make();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  EXPECT_GE(Position("Failed to find device"), 0);
  EXPECT_TRUE(uploader->Engine().IsActive());
}

}  // namespace
}  // namespace Pellux
