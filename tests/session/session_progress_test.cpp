// The record of the running session and of the last upload, as the engine keeps it.

#include "session/session_progress.h"

#include <gtest/gtest.h>

#include <limits>

namespace Pellux {
namespace {

TEST(SessionProgress, OnlyASessionInWhichATrackerLinkedBecomesTheLastUpload) {
  SessionProgress progress;
  progress.Begin("standard", 100);
  progress.SentToTracker(7);
  progress.End(130);
  EXPECT_FALSE(progress.LastUpload().has_value()) << "a search that found nobody";
  EXPECT_FALSE(progress.Running().has_value());

  progress.Begin("standard", 200);
  progress.Linked(210);
  progress.Linked(215);  // a second link of the same session changes nothing
  progress.RequestPosted();
  progress.ReceivedFromTracker(1000);
  progress.SentToTracker(24);
  progress.Failed("kPXDaemonDisconnected");
  progress.Failed("kPXDaemonConnectionFailed");  // the first failure stays
  // A new session ends the running one.
  progress.Begin("setup", 250);
  ASSERT_TRUE(progress.LastUpload().has_value());
  EXPECT_EQ(*progress.LastUpload(), (SessionProgress::Upload{"standard", 250, 40, 1024, 1000, 24, 1,
                                                             "kPXDaemonDisconnected"}));
  ASSERT_TRUE(progress.Running().has_value());
  EXPECT_EQ(progress.Running()->mode, "setup");
  EXPECT_EQ(progress.Running()->bytesFromTracker, 0u);
  progress.End(250);
  progress.End(260);  // nothing runs: nothing changes
  EXPECT_EQ(progress.LastUpload()->finishedAt, 250);
}

TEST(SessionProgress, OperationsAreNumberedFromTheFrontOfTheInstruction) {
  SessionProgress progress;
  progress.Begin("standard", 1);
  struct Step {
    const char* what;
    int instruction;  // -1: none
    int started;      // remaining when one starts; -1: none
    bool finished;
    std::uint32_t operation;
    std::uint32_t operations;
  };
  const Step steps[] = {
      {"three to run", 3, -1, false, 0, 3}, {"the first", -1, 3, false, 1, 3},
      {"done", -1, -1, true, 0, 3},         {"the second", -1, 2, false, 2, 3},
      {"the third", -1, 1, false, 3, 3},    {"a new instruction", 1, -1, false, 0, 1},
      {"its one", -1, 1, false, 1, 1},      {"more remaining than announced", -1, 4, false, 1, 4},
  };
  for (const Step& step : steps) {
    if (step.instruction >= 0) progress.InstructionStarted(step.instruction);
    if (step.started >= 0) progress.OperationStarted(step.started);
    if (step.finished) progress.OperationFinished();
    EXPECT_EQ(progress.Running()->operation, step.operation) << step.what;
    EXPECT_EQ(progress.Running()->operations, step.operations) << step.what;
  }
}

TEST(SessionProgress, NothingIsCountedWithoutASessionAndCountsDoNotWrap) {
  SessionProgress progress;
  progress.Linked(5);
  progress.RequestPosted();
  progress.SentToTracker(5);
  progress.Failed("kPXDaemonDisconnected");
  progress.InstructionStarted(3);
  progress.OperationStarted(2);
  EXPECT_FALSE(progress.Running().has_value());
  progress.ErrorShown("kPXDaemonAlreadyRunning", 9);
  EXPECT_EQ(*progress.LastError(), (SessionProgress::ShownError{9, "kPXDaemonAlreadyRunning"}));

  progress.Begin("standard", 10);
  progress.InstructionStarted(std::numeric_limits<std::size_t>::max());
  EXPECT_EQ(progress.Running()->operations, std::numeric_limits<std::uint32_t>::max());
  progress.Linked(20);
  progress.End(5);  // a clock set back
  EXPECT_EQ(progress.LastUpload()->seconds, 0);
}

}  // namespace
}  // namespace Pellux
