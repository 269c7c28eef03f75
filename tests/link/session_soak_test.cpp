#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "tests/link/session_fixture.h"

namespace Pellux {
namespace {

// Sessions the soak runs; the sanitizer builds ask for fewer through the environment.
int SoakSessions() {
  if (const char* text = std::getenv("PELLUX_SOAK_SESSIONS")) {
    const int sessions = std::atoi(text);
    if (sessions > 0) return sessions;
  }
  return 1000;
}

class SessionSoakTest : public SessionRoadTest {
 protected:
  // One of the faults the station can play, picked at random; returns its name for messages.
  std::string ApplyRandomFault(std::mt19937& random) {
    FaultPlan& faults = station.Faults();
    faults.SetTrackerSilent(false);
    faults.SetTrackerInRange(true);
    faults.SetBeaconHostId(std::nullopt);
    std::uniform_int_distribution<int> pick(0, 11);
    switch (pick(random)) {
      case 0:
        faults.LoseUnits(Direction::ToTracker, 1 + static_cast<int>(random() % 3));
        return "lost to tracker";
      case 1:
        faults.LoseUnits(Direction::ToHost, 1);
        return "lost to host";
      case 2:
        faults.DuplicateUnits(Direction::ToTracker, 1 + static_cast<int>(random() % 3));
        return "duplicated to tracker";
      case 3:
        faults.DuplicateUnits(Direction::ToHost, 1 + static_cast<int>(random() % 3));
        return "duplicated to host";
      case 4:
        faults.CorruptNextBurst(Direction::ToHost, BurstCorruption::Checksum);
        return "corrupt checksum";
      case 5:
        faults.CorruptNextBurst(Direction::ToHost, BurstCorruption::Size);
        return "short burst";
      case 6:
        faults.FailTransfers(1 + static_cast<int>(random() % 5));
        return "failed transfers";
      case 7:
        faults.SetTrackerSilent(true);
        return "silent tracker";
      case 8:
        faults.SetBeaconHostId(0x0BADF00D);
        return "foreign host";
      case 9:
        faults.ForceSearchTimeout();
        return "search time-out";
      case 10:
        faults.CorruptNextBurst(Direction::ToTracker, BurstCorruption::Checksum);
        return "corrupt upload";
      default:
        return "none";
    }
  }

  // Answers whatever the engine posted: the first post gets two commands, the results get
  // the close, and the request after the close ends the session.
  void AnswerRequests() {
    const auto requests = ui.Requests();
    for (std::size_t i = answered; i < requests.size(); ++i) {
      const NetworkRequest& request = requests[i].request;
      std::string document;
      if (request.path == "/next") {
        document =
            "<p><response host=\"srv\" port=\"80\" path=\"/done\"/>"
            "<device action=\"close\" sleepPeriod=\"0\"/></p>";
      } else if (request.path == "/done") {
        document = "<p><device action=\"close\"/></p>";
      } else {
        document = CommandDocument(
            RemoteOp(kDownloadCommand) + RemoteOp(kUploadCommand, Pattern(300)), "respondAlways");
      }
      manager->ProcessAction(request.requestNumber, "http", document, false, requests[i].context);
    }
    answered = requests.size();
  }

  std::size_t answered = 0;
};

TEST_F(SessionSoakTest, ThousandSessionsWithRandomFaultsLeaveNothingBehind) {
  Script({0x22, 0x01}, TrackerAnswer::Download(Pattern(1200)));
  Script({0x22, 0x02}, TrackerAnswer::Upload(128, 300));
  Act("init", "standard");
  std::mt19937 random(20261208);
  const int sessions = SoakSessions();
  int linked = 0;
  for (int session = 0; session < sessions; ++session) {
    const std::string fault = ApplyRandomFault(random);
    ui.Clear();
    answered = 0;
    // One session: until the engine starts the next one by itself.
    const auto start = clock.Now();
    while (ui.CountLog("Starting session in standard mode...") == 0) {
      ASSERT_LT(clock.Now() - start, std::chrono::seconds(1200))
          << "session " << session << " with fault '" << fault << "' never ended";
      // A tracker falls silent for a while, not for the whole ten-minute search.
      if (clock.Now() - start > std::chrono::seconds(10)) station.Faults().SetTrackerSilent(false);
      Advance(kChannelPeriod);
      AnswerRequests();
      Settle();
    }
    linked += ui.HasLog("LINKED! [standard beacon]") ? 1 : 0;
  }
  // Most sessions get through despite their fault.
  EXPECT_GT(linked, sessions / 2);
  RecordProperty("linked", linked);

  Settle();
  Radio([this] {
    EXPECT_TRUE(manager->IsActive());
    EXPECT_EQ(manager->Mode(), "standard");
    EXPECT_EQ(radio->GetLinkState(), LinkState::Searching);
    EXPECT_EQ(radio->QueuedPackets(), 0U);
    EXPECT_EQ(radio->PendingAcknowledgements(), 0);
    EXPECT_FALSE(manager->HasPendingRequest());
  });
  EXPECT_TRUE(radio->HasPumpThread());

  manager.reset();
  // The radio went with the engine, and its pump thread was joined before it.
  EXPECT_TRUE(ui.HasLog("Exiting ANT thread gracefully..."));
  EXPECT_FALSE(station.IsOpen());
  EXPECT_EQ(clock.PendingTimers(), 0U);
}

}  // namespace
}  // namespace Pellux
