// The service's checks over stand-in probes: one table of outcomes each.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/tools/doctor_fakes.h"
#include "tools/pelluxctl/doctor/service_checks.h"
#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(DoctorServiceUnit, EachStateOfTheUnitGivesItsStatusAndFix) {
  struct Case {
    const char* what;
    bool reached;
    const char* load;
    const char* active;
    const char* file;
    DoctorStatus status;
    const char* found;
    const char* fix;
  };
  const Case cases[] = {
      {"manager unreachable", false, "", "", "", DoctorStatus::kFail, "systemd could not be asked",
       "systemctl status dbus.service"},
      {"missing", true, "not-found", "inactive", "", DoctorStatus::kFail, "is not installed",
       "install the pellux package"},
      {"masked", true, "masked", "inactive", "masked", DoctorStatus::kFail, "is masked",
       "sudo systemctl unmask pellux.service"},
      {"broken unit file", true, "error", "inactive", "", DoctorStatus::kFail,
       "could not be loaded (load state error)", "daemon-reload"},
      {"disabled", true, "loaded", "inactive", "disabled", DoctorStatus::kFail,
       "disabled and inactive", "sudo systemctl enable --now pellux.service"},
      {"enabled, stopped", true, "loaded", "inactive", "enabled", DoctorStatus::kFail,
       "enabled and inactive", "sudo systemctl enable --now pellux.service"},
      {"enabled, failed", true, "loaded", "failed", "enabled", DoctorStatus::kFail,
       "enabled and failed", "sudo systemctl restart pellux.service"},
      {"disabled, failed", true, "loaded", "failed", "disabled", DoctorStatus::kFail,
       "disabled and failed", "sudo systemctl enable --now pellux.service"},
      {"disabled, running", true, "loaded", "active", "disabled", DoctorStatus::kFail,
       "disabled and active", "sudo systemctl enable --now pellux.service"},
      {"starting", true, "loaded", "activating", "enabled", DoctorStatus::kWarn,
       "enabled and activating", "journalctl -u pellux.service"},
      {"running", true, "loaded", "active", "enabled", DoctorStatus::kOk,
       "pellux.service is enabled and active", ""},
      {"running, enabled for this boot", true, "loaded", "active", "enabled-runtime",
       DoctorStatus::kOk, "enabled-runtime and active", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeServiceProbe probe;
    probe.facts.reached = c.reached;
    probe.facts.error = c.reached ? "" : "sd_bus_open_system failed: errno 2";
    probe.facts.loadState = c.load;
    probe.facts.activeState = c.active;
    probe.facts.unitFileState = c.file;
    const DoctorCheck check = CheckServiceUnit(probe);
    EXPECT_EQ(probe.asked, std::vector<std::string>{"pellux.service"});
    EXPECT_EQ(check.name, "service");
    EXPECT_EQ(check.status, c.status) << check.found;
    EXPECT_NE(check.found.find(c.found), std::string::npos) << check.found;
    if (*c.fix == '\0') {
      EXPECT_EQ(check.fix, "");
    } else {
      EXPECT_NE(check.fix.find(c.fix), std::string::npos) << check.fix;
    }
  }
}

std::string StatusReplyMessage(bool open) {
  return std::string(1, UiCode::kStatus) + EncodeStatusText(StatusReply{open, 0});
}

TEST(DoctorDaemonAnswer, EachWayTheDaemonAnswersOrNotGivesItsStatus) {
  struct Case {
    const char* what;
    UiConnection::SendResult send;
    std::vector<std::string> replies;
    const char* receiveError;
    DoctorStatus status;
    const char* found;
  };
  const Case cases[] = {
      {"not running",
       UiConnection::SendResult::kNotRunning,
       {},
       "",
       DoctorStatus::kFail,
       "nothing listens at /run/test.sock"},
      {"squatted",
       UiConnection::SendResult::kUntrusted,
       {},
       "",
       DoctorStatus::kFail,
       "not asking /run/test.sock: served by uid 1000"},
      {"refused",
       UiConnection::SendResult::kFailed,
       {},
       "",
       DoctorStatus::kFail,
       "could not be sent: served by uid 1000"},
      {"silent",
       UiConnection::SendResult::kSent,
       {},
       "",
       DoctorStatus::kFail,
       "did not answer within 30 ms"},
      {"nonsense",
       UiConnection::SendResult::kSent,
       {"Tgarbage"},
       "",
       DoctorStatus::kFail,
       "makes no sense"},
      {"only a page",
       UiConnection::SendResult::kSent,
       {"H1 1 <p/>"},
       "",
       DoctorStatus::kFail,
       "did not answer"},
      {"page, then the answer",
       UiConnection::SendResult::kSent,
       {"H1 1 <p/>", StatusReplyMessage(true)},
       "",
       DoctorStatus::kOk,
       "answers at /run/test.sock; base station open"},
      {"receiving fails",
       UiConnection::SendResult::kSent,
       {},
       "read(reply) failed: errno 5",
       DoctorStatus::kFail,
       "did not answer within 30 ms (read(reply) failed: errno 5)"},
      {"answer",
       UiConnection::SendResult::kSent,
       {StatusReplyMessage(false)},
       "",
       DoctorStatus::kOk,
       "base station closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeConnection connection;
    connection.sendResult = c.send;
    connection.sendError = "served by uid 1000";
    connection.replies.assign(c.replies.begin(), c.replies.end());
    connection.receiveError = c.receiveError;
    const DoctorCheck check = CheckDaemonAnswers(connection, "/run/test.sock", 30ms);
    EXPECT_EQ(check.status, c.status) << check.found;
    EXPECT_NE(check.found.find(c.found), std::string::npos) << check.found;
    EXPECT_EQ(check.fix.empty(), c.status == DoctorStatus::kOk) << check.fix;
    ASSERT_EQ(connection.sent.size(), 1U);
    EXPECT_EQ(connection.sent.front(), JoinUiMessage(UiCode::kStatusPoll, "@doctor-test"));
  }
}

}  // namespace
}  // namespace Pellux
