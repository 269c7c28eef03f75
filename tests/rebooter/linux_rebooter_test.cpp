// The Linux rebooter against a mocked systemd manager on a private system bus (python-dbusmock)
// and umockdev's fake sysfs: its backend in-process in virtual time, the program itself as a
// child, and the daemon's relaunch when it does not run under systemd. Runs under
// umockdev-wrapper (CTest does so).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/log_level.h"
#include "rebooter/linux_rebooter_system_linux.h"
#include "rebooter/rebooter.h"
#include "rebooter/rebooter_command_line_linux.h"
#include "rebooter/rebooter_instance_linux.h"
#include "service/daemon_relauncher_linux.h"
#include "sim/virtual_clock.h"
#include "tests/support/fake_usb_world_linux.h"
#include "tests/support/mocked_system_bus_linux.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
const std::string kUnitObject = SystemdUnitObject("pellux.service");

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// This process's group in the unified hierarchy; the children it starts are in it too.
std::string OwnControlGroup() {
  std::istringstream lines(ReadFile("/proc/self/cgroup"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("0::", 0) == 0) return line.substr(3);
  }
  return {};
}

// A process of the test's own that a rebooter may end, reaped at the end either way.
class Victim {
 public:
  Victim() : pid_(Spawn({"sleep", "60"})) {}
  Victim(const Victim&) = delete;
  Victim& operator=(const Victim&) = delete;
  ~Victim() { End(pid_); }
  [[nodiscard]] pid_t Pid() const { return pid_; }
  // True when it was ended by SIGKILL (and reaps it).
  bool Killed() {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = 0;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

 private:
  pid_t pid_;
};

class LinuxRebooterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(world.Ready());
    ASSERT_TRUE(system.Ready());
    ASSERT_TRUE(system.AddSystemdUnit("pellux.service"));
    SetUnit({{"ActiveState", "active"}});
    SetService({{"ControlGroup", OwnControlGroup()}});
  }

  // Sets text properties of the mocked pellux.service: its state on the Unit interface, its
  // control group on the Service interface, where systemd keeps them.
  void SetUnit(const std::vector<std::pair<std::string, std::string>>& properties) {
    SetProperties(kUnitInterface, properties);
  }
  void SetService(const std::vector<std::pair<std::string, std::string>>& properties) {
    SetProperties(kServiceInterface, properties);
  }
  void SetProperties(const char* interface,
                     const std::vector<std::pair<std::string, std::string>>& properties) {
    sd_bus_message* call = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(system.Bus(), &call, "org.freedesktop.systemd1",
                                             kUnitObject.c_str(), kMock, "UpdateProperties"),
              0);
    sd_bus_message_append(call, "s", interface);
    sd_bus_message_open_container(call, 'a', "{sv}");
    for (const auto& [name, value] : properties) {
      sd_bus_message_append(call, "{sv}", name.c_str(), "s", value.c_str());
    }
    sd_bus_message_close_container(call);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    EXPECT_GE(sd_bus_call(system.Bus(), call, 0, &error, nullptr), 0) << error.message;
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);
  }

  // Replaces one of the mocked manager's methods with `code` (python-dbusmock's AddMethod).
  void ReplaceManagerMethod(const char* name, const std::string& code) {
    ASSERT_GE(
        sd_bus_call_method(system.Bus(), "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                           kMock, "AddMethod", nullptr, nullptr, "sssss",
                           "org.freedesktop.systemd1.Manager", name, "ss", "o", code.c_str()),
        0);
  }

  // A USB device 10c4:84c4 with a writable "authorized" attribute; its sysfs path.
  std::string AddStation() { return world.AddStick("usb1", "1-1", "").usb; }
  std::string RealPath(const std::string& sysPath) { return world.RealPath(sysPath); }

  // Where `first` and then `second` appear in the call log, or npos.
  bool CalledInOrder(const std::string& first, const std::string& second) {
    const std::string calls = system.Calls();
    const auto at = calls.find(first);
    return at != std::string::npos && calls.find(second, at) != std::string::npos;
  }

  FakeUsbWorld world;
  MockedSystemBus system{"rebooter", "systemd", "org.freedesktop.systemd1"};
  VirtualClock clock;
  std::ostringstream out;
  std::ostringstream err;
};

RebooterArguments StationAndProcess(pid_t processId) {
  RebooterArguments arguments;
  arguments.restartDevice = true;
  arguments.vendorId = 0x10C4;
  arguments.productId = 0x84C4;
  arguments.terminateProcess = true;
  arguments.processId = processId;
  return arguments;
}

TEST_F(LinuxRebooterTest, StopsTheUnitEndsItsProcessPowerCyclesTheStationAndStartsItAgain) {
  const std::string station = AddStation();
  AttributeWrites authorized(RealPath(station) + "/authorized");
  ASSERT_TRUE(authorized.Ok());
  Victim daemon;
  LinuxRebooterSystem backend(clock, err);
  RunRebooter(StationAndProcess(daemon.Pid()), backend, clock, out, err);

  EXPECT_EQ(out.str(), "The Pellux Data Uploader service is running.\n");
  EXPECT_TRUE(CalledInOrder("StopUnit \"pellux.service\" \"replace\"",
                            "StartUnit \"pellux.service\" \"replace\""))
      << system.Calls();
  EXPECT_TRUE(daemon.Killed()) << err.str();
  EXPECT_EQ(authorized.Written(), "01");
  EXPECT_EQ(err.str().find("Failed"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Restarted USB device 10c4:84c4"), std::string::npos) << err.str();
  EXPECT_EQ(clock.TotalSlept(), kDeviceSettleTime) << "no wait but the station's pause";
}

TEST_F(LinuxRebooterTest, WithoutTheStationItSaysDeviceNotFoundAndStillStartsTheUnit) {
  LinuxRebooterSystem backend(clock, err);
  RebooterArguments arguments = StationAndProcess(0);
  arguments.terminateProcess = false;
  RunRebooter(arguments, backend, clock, out, err);
  EXPECT_NE(err.str().find("Failed to restart base station:  device not found\n"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(out.str(), "The Pellux Data Uploader service is running.\n");
  EXPECT_TRUE(CalledInOrder("StopUnit", "StartUnit")) << system.Calls();
}

TEST_F(LinuxRebooterTest, AListedStationThatCannotBeCycledIsNoMissingDevice) {
  const std::string station = AddStation();
  // An attribute that cannot be written; the fake node takes no USB reset either.
  const std::string attribute = RealPath(station) + "/authorized";
  ::unlink(attribute.c_str());
  ASSERT_EQ(::mkdir(attribute.c_str(), 0755), 0);
  LinuxRebooterSystem backend(clock, err);
  RebooterArguments arguments = StationAndProcess(0);
  arguments.terminateProcess = false;
  EXPECT_FALSE(RunRebooter(arguments, backend, clock, out, err));
  EXPECT_NE(err.str().find("Failed to restart base station:  property change installation "
                           "failed\n"),
            std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find("device not found"), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("write 0(" + station + "/authorized) failed"), std::string::npos)
      << err.str();
}

TEST_F(LinuxRebooterTest, OnlyMarkedBaseStationsArePowerCycledAndNeverAHub) {
  const std::string rootHub = world.AddUsbDevice("", "usb7", "1d6b", "0002", "1", "09");
  struct Row {
    const char* name;
    const char* vendor;
    const char* product;
    std::string parent;  // empty: no USB parent
    const char* deviceNumber;
    const char* deviceClass;
    const char* mark;  // PELLUX_BASE_STATION, nullptr for none
    const char* told;  // in the refusal line; empty: cycled
  };
  const Row rows[] = {
      {"a marked station", "10c4", "84c4", rootHub, "2", "00", "1", ""},
      {"the ids without the mark", "10c4", "84c5", rootHub, "3", "00", nullptr,
       "not marked as a base station"},
      {"a mark other than 1", "10c4", "84c6", rootHub, "4", "00", "yes",
       "not marked as a base station"},
      {"a mark with a blank", "10c4", "84c7", rootHub, "5", "00", "1 ",
       "not marked as a base station"},
      {"a marked root hub", "1d6b", "0003", "", "1", "09", "1", "a root hub"},
      {"a marked device without a USB parent", "1d6b", "0004", "", "6", "00", "1", "a root hub"},
      {"a marked device numbered 1", "abcd", "0001", rootHub, "1", "00", "1", "a root hub"},
      {"a marked hub", "05e3", "0610", rootHub, "7", "09", "1", "a hub"},
      {"a marked device without a number", "abcd", "0002", rootHub, "", "00", "1",
       "a device whose number or class cannot be read"},
      {"a marked device with a hostile number", "abcd", "0003", rootHub, "2a", "00", "1",
       "a device whose number or class cannot be read"},
      {"a marked device without a class", "abcd", "0004", rootHub, "9", "", "1",
       "a device whose number or class cannot be read"},
  };
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<const char*> properties;
    if (row.mark != nullptr) properties = {"PELLUX_BASE_STATION", row.mark};
    const std::string device =
        world.AddUsbDevice(row.parent, "dev" + std::to_string(++index), row.vendor, row.product,
                           row.deviceNumber, row.deviceClass, properties);
    AttributeWrites authorized(RealPath(device) + "/authorized");
    ASSERT_TRUE(authorized.Ok());
    err.str("");
    LinuxRebooterSystem backend(clock, err);
    const RebooterSystem::DeviceRestart restart =
        backend.RestartDevices(static_cast<std::uint32_t>(std::stoul(row.vendor, nullptr, 16)),
                               static_cast<std::uint32_t>(std::stoul(row.product, nullptr, 16)));
    EXPECT_EQ(restart.devices, 1);
    if (*row.told == '\0') {
      EXPECT_EQ(restart.restarted, 1) << err.str();
      EXPECT_EQ(restart.refused, 0);
      EXPECT_EQ(authorized.Written(), "01");
    } else {
      EXPECT_EQ(restart.restarted, 0);
      EXPECT_EQ(restart.refused, 1);
      EXPECT_EQ(authorized.Written(), "") << "left alone";
      EXPECT_NE(err.str().find(std::string("Refused to power-cycle USB device ") + row.vendor +
                               ":" + row.product + " at " + device + ": " + row.told),
                std::string::npos)
          << err.str();
    }
  }
}

TEST_F(LinuxRebooterTest, AUnitThatDoesNotGoDownIsGivenUpAfterThirtySeconds) {
  // systemd takes the stop, but the unit's state stays what the row says; only "active" counts
  // as still running, whatever else the bus may say.
  struct Row {
    const char* state;
    bool toldStillRunning;
  };
  for (const Row& row : {Row{"active", true}, Row{"deactivating", false}, Row{"", false},
                         Row{"Active", false}, Row{"active ", false}}) {
    SCOPED_TRACE(row.state);
    SetUnit({{"ActiveState", "active"}});
    ReplaceManagerMethod(
        "StopUnit", "objects['" + kUnitObject +
                        "'].UpdateProperties('org.freedesktop.systemd1.Unit', {'ActiveState': '" +
                        row.state + "'})\nret = '/org/freedesktop/systemd1/job/1'");
    err.str("");
    VirtualClock time;
    LinuxRebooterSystem backend(time, err);
    backend.StopService();
    EXPECT_EQ(backend.ServiceRunning(), std::optional<bool>(row.toldStillRunning));
    EXPECT_GE(time.TotalSlept(), LinuxRebooterSystem::kStopLimit);
    EXPECT_LT(time.TotalSlept(),
              LinuxRebooterSystem::kStopLimit + LinuxRebooterSystem::kStatePollInterval * 2);
    EXPECT_TRUE(err.str().empty()) << err.str();
  }

  // The whole sequence says so, and still starts the unit.
  ReplaceManagerMethod("StopUnit", "ret = '/org/freedesktop/systemd1/job/1'");
  SetUnit({{"ActiveState", "active"}});
  err.str("");
  LinuxRebooterSystem backend(clock, err);
  RunRebooter({}, backend, clock, out, err);
  EXPECT_EQ(err.str(), kRebooterStopFailedText);
  EXPECT_EQ(out.str(), "The Pellux Data Uploader service is running.\n");
  EXPECT_TRUE(CalledInOrder("StopUnit", "StartUnit")) << system.Calls();
}

TEST_F(LinuxRebooterTest, AStartThatHangsInActivatingIsBoundedAndReadsAsStopped) {
  ReplaceManagerMethod(
      "StartUnit", "objects['" + kUnitObject +
                       "'].UpdateProperties('org.freedesktop.systemd1.Unit', "
                       "{'ActiveState': 'activating'})\nret = '/org/freedesktop/systemd1/job/2'");
  LinuxRebooterSystem backend(clock, err);
  RunRebooter({}, backend, clock, out, err);
  EXPECT_EQ(out.str(), "The Pellux Data Uploader service is stopped.\n");
  EXPECT_GE(clock.TotalSlept(), LinuxRebooterSystem::kStartLimit);
  EXPECT_TRUE(err.str().empty()) << err.str();
}

TEST_F(LinuxRebooterTest, OnlyAProcessOfTheUnitsControlGroupIsEnded) {
  struct Row {
    const char* name;
    std::string unitGroup;  // the unit's ControlGroup as the bus says it
    bool processExists;
    std::int32_t processId;  // when no process of the test's own is used
    const char* told;        // what err must hold; empty: nothing
    bool killed;
  };
  const std::string own = OwnControlGroup();
  const Row rows[] = {
      {"the unit's own process", own, true, 0, "", true},
      {"another group's process", "/system.slice/pellux.service", true, 0,
       "left alone: its control group", false},
      {"a unit without a group (hostile reply)", "", true, 0, "had no control group", false},
      {"a process that is gone", own, false, 0, "", false},
      {"process id 0 (the process group)", own, false, 0, "Process id 0 refused", false},
      {"process id -1 (every process)", own, false, -1, "Process id -1 refused", false},
      {"init", own, false, 1, "Process id 1 refused", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    err.str("");
    SetUnit({{"ActiveState", "active"}});
    SetService({{"ControlGroup", row.unitGroup}});
    Victim process;
    std::int32_t processId = row.processId;
    if (row.processExists) {
      processId = process.Pid();
    } else if (processId == 0 && std::string(row.told).empty()) {
      // A process id that was in use a moment ago: its process has been reaped.
      Victim gone;
      processId = gone.Pid();
    }
    LinuxRebooterSystem backend(clock, err);
    backend.StopService();
    const auto ended = backend.TerminateProcess(processId);
    EXPECT_EQ(ended == RebooterSystem::Termination::Ended, row.killed) << err.str();
    if (!row.killed) {
      EXPECT_EQ(ended, RebooterSystem::Termination::NotOpened);
    }
    if (row.processExists) {
      EXPECT_EQ(process.Killed(), row.killed);
    }
    if (*row.told == '\0') {
      EXPECT_TRUE(err.str().empty()) << err.str();
    } else {
      EXPECT_NE(err.str().find(row.told), std::string::npos) << err.str();
    }
  }
}

TEST_F(LinuxRebooterTest, BusRefusalsAreToldWithTheErrorsNameAndTheSequenceGoesOn) {
  // A unit systemd does not know: every call fails, each one line, and the end reads stopped.
  LinuxRebooterSystem backend(clock, err, "missing.service");
  RebooterArguments arguments;
  RunRebooter(arguments, backend, clock, out, err);
  EXPECT_EQ(out.str(), "The Pellux Data Uploader service is stopped.\n");
  for (const char* call :
       {"GetUnit(missing.service) failed: ", "StopUnit(missing.service) failed: ",
        "StartUnit(missing.service) failed: "}) {
    EXPECT_NE(err.str().find(call), std::string::npos) << call << "\n" << err.str();
  }
  EXPECT_NE(err.str().find("org.freedesktop.systemd1.NoSuchUnit: Unit missing.service not loaded."),
            std::string::npos)
      << err.str();
  EXPECT_EQ(clock.TotalSlept(), 0ms);
}

TEST_F(LinuxRebooterTest, TheProgramTakesItsUnitInstanceAndRefusesAForgedOne) {
  const std::string station = AddStation();
  AttributeWrites authorized(RealPath(station) + "/authorized");
  ASSERT_TRUE(authorized.Ok());
  Victim daemon;
  char pattern[] = "/tmp/pellux-rebooter-out-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  const auto run = [&](const std::string& word) {
    const std::string command = std::string(PELLUX_REBOOTER_PATH) + " '" + word + "' >" + folder +
                                "/out 2>" + folder + "/err";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  // A real run, with the real 2000 ms pause.
  EXPECT_EQ(run("10c4-84c4-" + std::to_string(daemon.Pid())), 0);
  EXPECT_EQ(ReadFile(folder + "/out"), "The Pellux Data Uploader service is running.\n");
  EXPECT_EQ(ReadFile(folder + "/err").find("Failed"), std::string::npos)
      << ReadFile(folder + "/err");
  EXPECT_TRUE(daemon.Killed());
  EXPECT_EQ(authorized.Written(), "01");
  EXPECT_TRUE(CalledInOrder("StopUnit", "StartUnit")) << system.Calls();

  // A run that fails says so in its exit status: the root hub's ids are refused.
  world.AddUsbDevice("", "usb9", "1d6b", "0002", "1", "09");
  Victim again;
  EXPECT_EQ(run("1d6b-2-" + std::to_string(again.Pid())), 1);
  EXPECT_NE(ReadFile(folder + "/err").find("Refused to power-cycle USB device 1d6b:0002"),
            std::string::npos)
      << ReadFile(folder + "/err");
  EXPECT_NE(ReadFile(folder + "/err")
                .find("Failed to restart base station:  no base station has these ids\n"),
            std::string::npos)
      << ReadFile(folder + "/err");
  EXPECT_EQ(ReadFile(folder + "/out"), "The Pellux Data Uploader service is running.\n");

  const std::string before = system.Calls();
  EXPECT_EQ(run("10c4-84c4-1"), 1);
  EXPECT_EQ(ReadFile(folder + "/err"),
            "Refused unit instance \"10c4-84c4-1\": expected <vendor id>-<product id>-<process "
            "id>\n");
  EXPECT_TRUE(ReadFile(folder + "/out").empty());
  EXPECT_EQ(system.Calls(), before) << "nothing was asked of systemd";

  // The help on standard output; an unknown word is a usage error on standard error.
  EXPECT_EQ(run("--help"), 0);
  EXPECT_EQ(ReadFile(folder + "/out"), RebooterUsage());
  EXPECT_TRUE(ReadFile(folder + "/err").empty());
  EXPECT_EQ(run("--reboot-everything"), 2);
  EXPECT_EQ(ReadFile(folder + "/err"),
            std::string("rebooter: unknown option \"--reboot-everything\"\n") + RebooterUsage());
  EXPECT_TRUE(ReadFile(folder + "/out").empty());
  EXPECT_EQ(system.Calls(), before) << "nothing was asked of systemd";
  std::filesystem::remove_all(folder);
}

TEST_F(LinuxRebooterTest, OutsideSystemdTheDaemonResetsTheStationItself) {
  std::vector<std::pair<int, std::string>> lines;
  const auto log = [&](const std::string& text, int level) { lines.emplace_back(level, text); };
  const auto logged = [&](const std::string& part) {
    for (const auto& [level, text] : lines) {
      if (text.find(part) != std::string::npos) return true;
    }
    return false;
  };
  const DaemonRelauncher foreground(false, 4321);
  EXPECT_FALSE(foreground(0x10C4, 0x84C4, log)) << "no station to reset";
  EXPECT_TRUE(logged("No base station was reset"));

  const std::string station = AddStation();
  AttributeWrites authorized(RealPath(station) + "/authorized");
  ASSERT_TRUE(authorized.Ok());
  lines.clear();
  EXPECT_TRUE(foreground(0x10C4, 0x84C4, log));
  EXPECT_EQ(authorized.Written(), "01");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].second,
            "Not running under systemd: no restart of the service; resetting base station "
            "10c4:84c4 here");
  EXPECT_EQ(lines[0].first, LogLevel::kError);
  EXPECT_EQ(system.Calls().find("StartUnit"), std::string::npos) << "no unit was started";

  // Under systemd, a refusal of the rebooter's unit is told and the relaunch reports failure.
  lines.clear();
  const DaemonRelauncher underSystemd(true, 4321);
  EXPECT_FALSE(underSystemd(0x10C4, 0x84C4, log));
  EXPECT_TRUE(logged("Relaunching application:  pellux-rebooter@10c4-84c4-4321.service"));
  EXPECT_TRUE(logged("StartUnit(pellux-rebooter@10c4-84c4-4321.service) failed: "));
}

}  // namespace
}  // namespace Pellux
