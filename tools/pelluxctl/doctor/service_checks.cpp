#include "tools/pelluxctl/doctor/service_checks.h"

#include <string>

#include "tools/pelluxctl/status_answer.h"
#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

constexpr const char* kUnitName = "service";
constexpr const char* kAnswerName = "daemon";
constexpr const char* kEnableNow = "sudo systemctl enable --now pellux.service";

std::string Describe(const UnitFacts& unit) {
  return std::string(kDoctorServiceUnit) + " is " +
         (unit.unitFileState.empty() ? std::string("without a unit file state")
                                     : unit.unitFileState) +
         " and " + unit.activeState;
}

}  // namespace

DoctorCheck CheckServiceUnit(ServiceProbe& probe) {
  const UnitFacts unit = probe.Unit(kDoctorServiceUnit);
  if (!unit.reached) {
    return DoctorCheck::Fail(kUnitName, "systemd could not be asked: " + unit.error,
                             "check that systemd runs and the system bus answers: "
                             "systemctl status dbus.service");
  }
  if (unit.loadState == "not-found") {
    return DoctorCheck::Fail(kUnitName, std::string(kDoctorServiceUnit) + " is not installed",
                             "install the pellux package");
  }
  if (unit.loadState == "masked" || unit.unitFileState == "masked") {
    return DoctorCheck::Fail(kUnitName, std::string(kDoctorServiceUnit) + " is masked",
                             "sudo systemctl unmask pellux.service && " + std::string(kEnableNow));
  }
  if (unit.loadState != "loaded") {
    return DoctorCheck::Fail(kUnitName,
                             std::string(kDoctorServiceUnit) + " could not be loaded (load state " +
                                 unit.loadState + ")",
                             "sudo systemctl daemon-reload, then see: systemctl status "
                             "pellux.service");
  }
  const bool enabled = unit.unitFileState == "enabled" || unit.unitFileState == "enabled-runtime";
  if (enabled && unit.activeState == "active") return DoctorCheck::Ok(kUnitName, Describe(unit));
  if (unit.activeState == "failed") {
    return DoctorCheck::Fail(kUnitName, Describe(unit) + " (journalctl -u pellux.service says why)",
                             enabled ? "sudo systemctl restart pellux.service" : kEnableNow);
  }
  if (enabled && (unit.activeState == "activating" || unit.activeState == "reloading")) {
    return DoctorCheck::Warn(kUnitName, Describe(unit),
                             "wait a moment; if it stays so: journalctl -u pellux.service");
  }
  return DoctorCheck::Fail(kUnitName, Describe(unit), kEnableNow);
}

DoctorCheck CheckDaemonAnswers(UiConnection& connection, const std::string& service,
                               std::chrono::milliseconds timeout) {
  std::string error;
  switch (connection.Send(JoinUiMessage(UiCode::kStatusPoll, connection.ReplyName()), error)) {
    case UiConnection::SendResult::kSent:
      break;
    case UiConnection::SendResult::kNotRunning:
      return DoctorCheck::Fail(kAnswerName, "nothing listens at " + service, kEnableNow);
    case UiConnection::SendResult::kUntrusted:
      return DoctorCheck::Fail(kAnswerName, "not asking " + service + ": " + error,
                               "find and stop the process that serves " + service +
                                   ", then: sudo systemctl restart pellux.service");
    case UiConnection::SendResult::kFailed:
      return DoctorCheck::Fail(kAnswerName, "the status poll could not be sent: " + error,
                               "sudo systemctl restart pellux.service");
  }
  std::string lastError;
  const StatusAnswer answer = AwaitStatusAnswer(
      connection, timeout, [&lastError](const std::string& failure) { lastError = failure; });
  switch (answer.outcome) {
    case StatusAnswer::Outcome::kAnswered:
      return DoctorCheck::Ok(kAnswerName, "the daemon answers at " + service + "; base station " +
                                              (answer.status.baseStationOpen ? "open" : "closed"));
    case StatusAnswer::Outcome::kSenseless:
      return DoctorCheck::Fail(kAnswerName, "the daemon's answer makes no sense",
                               "install the same version of pelluxctl and the daemon");
    case StatusAnswer::Outcome::kNone:
      break;
  }
  return DoctorCheck::Fail(kAnswerName,
                           "the daemon did not answer within " + std::to_string(timeout.count()) +
                               " ms" + (lastError.empty() ? "" : " (" + lastError + ")"),
                           "sudo systemctl restart pellux.service");
}

}  // namespace Pellux
