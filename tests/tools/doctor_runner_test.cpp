// The doctor's report (text lines, JSON, exit status) and the order and wiring of its checks.

#include "tools/pelluxctl/doctor/doctor_runner.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/doctor_fakes.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(DoctorReport, TextLinesJsonAndTheExitStatus) {
  const std::vector<DoctorCheck> passing = {
      DoctorCheck::Ok("service", "pellux.service is enabled and active"),
      DoctorCheck::Warn("polkit", "polkitd does not run", "sudo systemctl start polkit.service"),
  };
  std::vector<DoctorCheck> failing = passing;
  failing.push_back(DoctorCheck::Fail("driver", "no driver\nbound\x1b[2J", "sudo modprobe cp210x"));
  struct Case {
    const char* what;
    std::vector<DoctorCheck> checks;
    int exit;
    const char* text;
  };
  const Case cases[] = {
      {"nothing", {}, 0, ""},
      {"a warning passes", passing, 0,
       "OK    service: pellux.service is enabled and active\n"
       "WARN  polkit: polkitd does not run; fix: sudo systemctl start polkit.service\n"},
      {"a failure fails", failing, 1,
       "OK    service: pellux.service is enabled and active\n"
       "WARN  polkit: polkitd does not run; fix: sudo systemctl start polkit.service\n"
       "FAIL  driver: no driver?bound?[2J; fix: sudo modprobe cp210x\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ostringstream text;
    EXPECT_EQ(ReportDoctorChecks(c.checks, false, text), c.exit);
    EXPECT_EQ(text.str(), c.text);

    std::ostringstream json;
    EXPECT_EQ(ReportDoctorChecks(c.checks, true, json), c.exit);
    const auto array = nlohmann::json::parse(json.str());
    ASSERT_TRUE(array.is_array());
    // The members in reading order, not sorted.
    if (!c.checks.empty()) {
      const std::string printed = json.str();
      EXPECT_LT(printed.find("\"name\""), printed.find("\"status\""));
      EXPECT_LT(printed.find("\"status\""), printed.find("\"found\""));
      EXPECT_LT(printed.find("\"found\""), printed.find("\"fix\""));
    }
    ASSERT_EQ(array.size(), c.checks.size());
    for (std::size_t i = 0; i < c.checks.size(); ++i) {
      EXPECT_EQ(array[i].at("name"), c.checks[i].name);
      EXPECT_EQ(array[i].at("status"), DoctorStatusName(c.checks[i].status));
      EXPECT_EQ(array[i].at("found"), c.checks[i].found);
      EXPECT_EQ(array[i].at("fix"), c.checks[i].fix);
      EXPECT_EQ(array[i].size(), 4U);
    }
  }
}

TEST(DoctorReport, TextThatIsNoUtf8StillMakesValidJson) {
  std::ostringstream json;
  ReportDoctorChecks({DoctorCheck::Fail("port holders", "held by \xff\xfe", "kill it")}, true,
                     json);
  const auto array = nlohmann::json::parse(json.str());
  EXPECT_EQ(array[0].at("found"), "held by \xEF\xBF\xBD\xEF\xBF\xBD");
}

// A machine where everything is as the package leaves it.
struct HealthyMachine {
  HealthyMachine() {
    service.facts = {true, "", "loaded", "active", "enabled", ""};
    connection.replies.push_back(std::string(1, 'T') + "1 0");
    files.AddFile("/usr/lib/udev/rules.d/60-pellux.rules",
                  "ATTRS{idVendor}==\"0fcf\", ATTRS{idProduct}==\"1008\"");
    files.AddFile("/usr/share/polkit-1/rules.d/50-pellux-rebooter.rules", "rule");
    files.AddFile("/usr/share/polkit-1/actions/org.pellux.uploader.policy", "action");
    files.AddFile("/state/settings.json", R"({"Tracker": {"VID": 4047, "PID": 4104}})");
    files.facts["/state/settings.json"].mode = 0600;
    files.facts["/state/settings.json"].owner = 998;
    files.AddDevice("/dev/ttyUSB0", 0, 998, 0660);
    files.facts["/logs"].state = FileFacts::State::kPresent;
    files.spaces["/logs"] = {true, "", std::uint64_t{1} << 32, std::uint64_t{1} << 33};
    accounts.AddUser("pellux", 998, 998, {998});
    accounts.AddGroup("pellux", 998);
    stations.listing.listed = true;
    stations.listing.interfaces.push_back({"/sys/x/1-1:1.0", "cp210x"});
    StationPort port;
    port.node = "/dev/ttyUSB0";
    port.modemManagerIgnore = "1";
    stations.listing.ports.push_back(port);
    processes.running["polkitd"] = {{5, "polkitd", "polkitd"}};
    server.answer.outcome = ServerAnswer::Outcome::kAnswered;
    server.answer.status = 200;
  }
  FakeServiceProbe service;
  FakeStationProbe stations;
  FakeFileProbe files;
  FakeAccountProbe accounts;
  FakeProcessProbe processes;
  FakeServerProbe server;
  FakeConnection connection;
  DoctorProbes probes{service, stations, files, accounts, processes, server, connection};
  DoctorPlaces places{"/run/s.sock", "/state/settings.json", "/logs", 30ms, 30ms, "", ""};
};

TEST(DoctorChecks, RunInTheirOrderWithTheSettingsIds) {
  HealthyMachine machine;
  const auto checks = RunDoctorChecks(machine.probes, machine.places);
  std::vector<std::string> names;
  for (const DoctorCheck& check : checks) {
    names.push_back(check.name);
    EXPECT_EQ(check.status, DoctorStatus::kOk)
        << check.name << ": " << check.found << " / " << check.fix;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"service", "daemon", "udev rule", "base station tty",
                                             "driver", "port holders", "modem probers",
                                             "service user access", "polkit", "settings",
                                             "upload server", "log space"}));
  // The ids of the settings file, not the defaults.
  ASSERT_EQ(machine.stations.asked.size(), 1U);
  EXPECT_EQ(machine.stations.asked[0],
            std::make_pair(std::uint16_t{0x0fcf}, std::uint16_t{0x1008}));
  std::ostringstream out;
  EXPECT_EQ(ReportDoctorChecks(checks, false, out), 0);
}

TEST(DoctorChecks, OneFailureMakesTheExitStatusOne) {
  HealthyMachine machine;
  machine.service.facts.unitFileState = "disabled";
  std::ostringstream out;
  EXPECT_EQ(ReportDoctorChecks(RunDoctorChecks(machine.probes, machine.places), false, out), 1);
  EXPECT_NE(out.str().find("FAIL  service: pellux.service is disabled and active; fix: sudo "
                           "systemctl enable --now pellux.service\n"),
            std::string::npos)
      << out.str();
}

}  // namespace
}  // namespace Pellux
