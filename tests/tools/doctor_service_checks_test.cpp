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
    // Why the manager could not be asked; nullptr when it answered.
    const char* error;
    const char* load;
    const char* active;
    const char* file;
    DoctorStatus status;
    const char* found;
    const char* fix;
  };
  const Case cases[] = {
      {"manager unreachable", "sd_bus_open_system failed: errno 2", "", "", "", DoctorStatus::kFail,
       "systemd could not be asked", "systemctl status dbus.service"},
      {"missing", nullptr, "not-found", "inactive", "", DoctorStatus::kFail, "is not installed",
       "install the pellux package"},
      {"masked", nullptr, "masked", "inactive", "masked", DoctorStatus::kFail, "is masked",
       "sudo systemctl unmask pellux.service"},
      {"broken unit file", nullptr, "error", "inactive", "", DoctorStatus::kFail,
       "could not be loaded (load state error)", "daemon-reload"},
      {"disabled", nullptr, "loaded", "inactive", "disabled", DoctorStatus::kFail,
       "disabled and inactive", "sudo systemctl enable --now pellux.service"},
      {"enabled, stopped", nullptr, "loaded", "inactive", "enabled", DoctorStatus::kFail,
       "enabled and inactive", "sudo systemctl enable --now pellux.service"},
      {"enabled, failed", nullptr, "loaded", "failed", "enabled", DoctorStatus::kFail,
       "enabled and failed", "sudo systemctl restart pellux.service"},
      {"disabled, failed", nullptr, "loaded", "failed", "disabled", DoctorStatus::kFail,
       "disabled and failed", "sudo systemctl enable --now pellux.service"},
      {"disabled, running", nullptr, "loaded", "active", "disabled", DoctorStatus::kFail,
       "disabled and active", "sudo systemctl enable --now pellux.service"},
      {"starting", nullptr, "loaded", "activating", "enabled", DoctorStatus::kWarn,
       "enabled and activating", "journalctl -u pellux.service"},
      {"running", nullptr, "loaded", "active", "enabled", DoctorStatus::kOk,
       "pellux.service is enabled and active", ""},
      {"running, enabled for this boot", nullptr, "loaded", "active", "enabled-runtime",
       DoctorStatus::kOk, "enabled-runtime and active", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeServiceProbe probe;
    probe.facts.reached = c.error == nullptr;
    probe.facts.error = c.error == nullptr ? "" : c.error;
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
    DoctorStatus status;
    std::vector<std::string> replies;
    const char* receiveError;
    const char* found;
  };
  const Case cases[] = {
      {"not running",
       UiConnection::SendResult::kNotRunning,
       DoctorStatus::kFail,
       {},
       "",
       "nothing listens at /run/test.sock"},
      {"squatted",
       UiConnection::SendResult::kUntrusted,
       DoctorStatus::kFail,
       {},
       "",
       "not asking /run/test.sock: served by uid 1000"},
      {"refused",
       UiConnection::SendResult::kFailed,
       DoctorStatus::kFail,
       {},
       "",
       "could not be sent: served by uid 1000"},
      {"silent",
       UiConnection::SendResult::kSent,
       DoctorStatus::kFail,
       {},
       "",
       "did not answer within 30 ms"},
      {"nonsense",
       UiConnection::SendResult::kSent,
       DoctorStatus::kFail,
       {"Tgarbage"},
       "",
       "makes no sense"},
      {"only a page",
       UiConnection::SendResult::kSent,
       DoctorStatus::kFail,
       {"H1 1 <p/>"},
       "",
       "did not answer"},
      {"page, then the answer",
       UiConnection::SendResult::kSent,
       DoctorStatus::kOk,
       {"H1 1 <p/>", StatusReplyMessage(true)},
       "",
       "answers at /run/test.sock; base station open"},
      {"receiving fails",
       UiConnection::SendResult::kSent,
       DoctorStatus::kFail,
       {},
       "read(reply) failed: errno 5",
       "did not answer within 30 ms (read(reply) failed: errno 5)"},
      {"answer",
       UiConnection::SendResult::kSent,
       DoctorStatus::kOk,
       {StatusReplyMessage(false)},
       "",
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
