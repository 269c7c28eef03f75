// The rebooter's arguments and its sequence against a scripted system, in virtual time.

#include "rebooter/rebooter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/virtual_clock.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(RebooterArgumentsTest, NumbersAreReadAsTheCLibraryReadsThem) {
  struct Row {
    const char* text;
    int base;
    std::uint32_t unsignedValue;
    std::int32_t signedValue;
  };
  const Row rows[] = {
      {"fcf", 16, 0xFCF, 0xFCF},
      {"0FCF", 16, 0xFCF, 0xFCF},
      {"0x1004", 16, 0x1004, 0x1004},
      {"0X1004", 16, 0x1004, 0x1004},
      {"  \t+1004", 16, 0x1004, 0x1004},
      {"-1", 16, 0xFFFFFFFFU, -1},
      {"1004zz", 16, 0x1004, 0x1004},
      {"0x", 16, 0, 0},
      {"0xg", 16, 0, 0},
      {"zz", 16, 0, 0},
      {"", 16, 0, 0},
      {"-", 10, 0, 0},
      {"4321", 10, 4321, 4321},
      {" -17", 10, 0xFFFFFFEFU, -17},
      {"12ab", 10, 12, 12},
      {"0x12", 10, 0, 0},
      {"99999999999", 10, 0xFFFFFFFFU, 2147483647},
      {"-99999999999", 10, 0xFFFFFFFFU, -2147483647 - 1},
      {"-2147483648", 10, 0x80000000U, -2147483647 - 1},
      {"fffffffff", 16, 0xFFFFFFFFU, 2147483647},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ReadUnsignedNumber(row.text, row.base), row.unsignedValue) << '"' << row.text << '"';
    EXPECT_EQ(ReadSignedNumber(row.text, row.base), row.signedValue) << '"' << row.text << '"';
  }
}

TEST(RebooterArgumentsTest, WordsLeftOffFromTheEndLeaveTheirStepsOut) {
  const RebooterArguments none = ParseRebooterArguments({});
  EXPECT_FALSE(none.restartDevice);
  EXPECT_FALSE(none.terminateProcess);
  EXPECT_FALSE(ParseRebooterArguments({"fcf"}).restartDevice);

  const RebooterArguments ids = ParseRebooterArguments({"fcf", "1004"});
  EXPECT_TRUE(ids.restartDevice);
  EXPECT_EQ(ids.vendorId, 0xFCFU);
  EXPECT_EQ(ids.productId, 0x1004U);
  EXPECT_FALSE(ids.terminateProcess);

  const RebooterArguments all = ParseRebooterArguments({"0xfcf", "garbage", "1234", "extra"});
  EXPECT_TRUE(all.restartDevice);
  EXPECT_EQ(all.productId, 0U);
  EXPECT_TRUE(all.terminateProcess);
  EXPECT_EQ(all.processId, 1234);
}

// Notes each step with the virtual time it was taken at, and answers from a script.
class ScriptedSystem final : public RebooterSystem {
 public:
  explicit ScriptedSystem(VirtualClock& clock) : clock_(clock), start_(clock.Now()) {}

  void StopService() override { Note("stop"); }
  std::optional<bool> ServiceRunning() override {
    Note("query");
    return running;
  }
  Termination TerminateProcess(std::int32_t processId) override {
    Note("terminate " + std::to_string(processId));
    return termination;
  }
  DeviceRestart RestartDevices(std::uint32_t vendorId, std::uint32_t productId) override {
    Note("restart " + std::to_string(vendorId) + " " + std::to_string(productId));
    return restart;
  }
  void StartService() override {
    Note("start");
    running = runningAfterStart;
  }

  std::optional<bool> running = false;
  std::optional<bool> runningAfterStart = true;
  Termination termination = Termination::Ended;
  DeviceRestart restart{true, 1, 1, ""};
  std::vector<std::string> steps;

 private:
  void Note(const std::string& step) {
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - start_);
    steps.push_back(step + " @" + std::to_string(at.count()));
  }
  VirtualClock& clock_;
  std::chrono::system_clock::time_point start_;
};

struct Outcome {
  std::vector<std::string> steps;
  std::string out;
  std::string err;
  bool succeeded = false;
};

class RebooterTest : public ::testing::Test {
 protected:
  Outcome RunWith(const std::vector<std::string>& words) {
    std::ostringstream out;
    std::ostringstream err;
    const bool succeeded = RunRebooter(ParseRebooterArguments(words), system, clock, out, err);
    return {system.steps, out.str(), err.str(), succeeded};
  }
  VirtualClock clock{std::chrono::system_clock::time_point{} + 1000h};
  ScriptedSystem system{clock};
};

TEST_F(RebooterTest, AllThreeWordsStopEndRestartPauseAndStartInThatOrder) {
  const Outcome run = RunWith({"fcf", "1004", "321"});
  EXPECT_EQ(run.steps,
            (std::vector<std::string>{"stop @0", "query @0", "terminate 321 @0",
                                      "restart 4047 4100 @0", "start @2000", "query @2000"}));
  EXPECT_EQ(run.out, "The Pellux Data Uploader service is running.\n");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.succeeded);
}

TEST_F(RebooterTest, FewerWordsLeaveOutTheTerminationAndThenTheRestart) {
  EXPECT_EQ(RunWith({"fcf", "1004"}).steps,
            (std::vector<std::string>{"stop @0", "query @0", "restart 4047 4100 @0", "start @2000",
                                      "query @2000"}));
  system.steps.clear();
  EXPECT_EQ(RunWith({}).steps,
            (std::vector<std::string>{"stop @2000", "query @2000", "start @2000", "query @2000"}));
}

TEST_F(RebooterTest, EveryFailureIsOneLineAndTheSequenceGoesOn) {
  system.running = true;  // the stop did not take
  system.termination = RebooterSystem::Termination::StillActive;
  system.restart = {true, 0, 0, ""};
  system.runningAfterStart = false;
  const Outcome run = RunWith({"fcf", "1004", "77"});
  EXPECT_EQ(run.err,
            "The Pellux Data Uploader service failed to stop for restart.\n"
            "Failed to terminate parent process [pid: 77]\n"
            "Failed to restart base station:  device not found\n");
  EXPECT_EQ(run.out, "The Pellux Data Uploader service is stopped.\n");
  EXPECT_EQ(run.steps.back(), "query @2000");  // the pause was kept without a device
  EXPECT_FALSE(run.succeeded);
}

TEST_F(RebooterTest, AnyFailureMakesTheRunFail) {
  struct Row {
    const char* name;
    std::optional<bool> runningAfterStop;
    RebooterSystem::Termination termination;
    bool deviceRestarted;
    std::optional<bool> runningAfterStart;
    bool succeeded;
  };
  using Termination = RebooterSystem::Termination;
  const Row rows[] = {
      {"every step", false, Termination::Ended, true, true, true},
      {"no process to end", false, Termination::NotOpened, true, true, true},
      {"the stop did not take", true, Termination::Ended, true, true, false},
      {"the process lives on", false, Termination::StillActive, true, true, false},
      {"no device restarted", false, Termination::Ended, false, true, false},
      {"the service did not start", false, Termination::Ended, true, false, false},
      {"the service could not be asked", false, Termination::Ended, true, std::nullopt, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    system.running = row.runningAfterStop;
    system.termination = row.termination;
    system.restart = {true, 1, row.deviceRestarted ? 1 : 0, ""};
    system.runningAfterStart = row.runningAfterStart;
    EXPECT_EQ(RunWith({"fcf", "1004", "77"}).succeeded, row.succeeded);
  }
}

TEST_F(RebooterTest, TheRestartsVerdict) {
  struct Row {
    RebooterSystem::DeviceRestart restart;
    const char* err;
    int pauseMs;
  };
  const Row rows[] = {
      // One success among several is enough.
      {{true, 3, 1, "property change installation failed"}, "", 2000},
      {{true, 2, 0, "property change installation failed"},
       "Failed to restart base station:  property change installation failed\n",
       2000},
      {{true, 0, 0, ""}, "Failed to restart base station:  device not found\n", 2000},
      // Listed but none restarted is never "device not found", whatever the backend's reason.
      {{true, 1, 0, ""},
       "Failed to restart base station:  property change installation failed\n",
       2000},
      // Devices with the ids that are no base station were left alone.
      {{true, 2, 0, "", 2},
       "Failed to restart base station:  no base station has these ids\n",
       2000},
      {{true, 2, 0, "", 1},
       "Failed to restart base station:  property change installation failed\n",
       2000},
      // A list that could not be made fails at once, without the pause.
      {{false, 0, 0, "[0x0000000d]: The data is invalid"},
       "Failed to restart base station:  [0x0000000d]: The data is invalid\n",
       0},
  };
  for (const Row& row : rows) {
    system.steps.clear();
    system.restart = row.restart;
    system.running = false;
    const auto before = clock.Now();
    const Outcome run = RunWith({"fcf", "1004"});
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(clock.Now() - before, std::chrono::milliseconds(row.pauseMs)) << row.err;
    EXPECT_EQ(run.out, "The Pellux Data Uploader service is running.\n");
  }
}

TEST_F(RebooterTest, AServiceThatCannotBeQueriedIsReportedStopped) {
  system.running = std::nullopt;
  system.runningAfterStart = std::nullopt;
  const Outcome run = RunWith({});
  EXPECT_EQ(run.out, "The Pellux Data Uploader service is stopped.\n");
  EXPECT_EQ(run.err, "");
}

TEST(DeviceListFailureReasonTest, TheSystemsTextOrTheFallbacks) {
  EXPECT_EQ(DeviceListFailureReason(0xD, "The data is invalid"),
            "[0x0000000d]: The data is invalid");
  EXPECT_EQ(DeviceListFailureReason(0x80040201U, ""), "[0x80040201]: IDispatch error #1");
  EXPECT_EQ(DeviceListFailureReason(0x8004FFFFU, ""), "[0x8004ffff]: IDispatch error #65023");
  EXPECT_EQ(DeviceListFailureReason(0x80040200U, ""), "[0x80040200]: Unknown error 0x80040200");
  EXPECT_EQ(DeviceListFailureReason(0xE000020BU, ""), "[0xe000020b]: Unknown error 0xE000020B");
}

TEST(UsbDeviceInstancePrefixTest, FourUpperCaseHexadecimalDigitsEach) {
  EXPECT_EQ(UsbDeviceInstancePrefix(0xFCF, 0x1004), "USB\\VID_0FCF&PID_1004");
  EXPECT_EQ(UsbDeviceInstancePrefix(0x10C4, 0x84C4), "USB\\VID_10C4&PID_84C4");
  EXPECT_EQ(UsbDeviceInstancePrefix(0, 0xabcd), "USB\\VID_0000&PID_ABCD");
  // Ids read from a hostile command line may be wider: printed whole, never cut.
  EXPECT_EQ(UsbDeviceInstancePrefix(0xFFFFFFFFU, 0x12345), "USB\\VID_FFFFFFFF&PID_12345");
}

}  // namespace
}  // namespace Pellux
