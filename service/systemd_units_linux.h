#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace Pellux {

// The daemon program's switches in systemd terms, over the system bus (sd-bus) to systemd's
// manager: start and stop the unit, enable and disable it (then reload the manager, as
// systemctl does), and read a unit's state. Each returns whether systemd accepted the request; a
// refusal, or a job that did not end "done" when its end was waited for, is told to `problem` with
// the bus error's name and text. One thread at a time (the daemon's main thread for the switches,
// the engine's for its relaunch, the rebooter's only one): each call opens a connection of its own.
class SystemdUnits {
 public:
  using Problem = std::function<void(const std::string& line)>;
  // How long a start or stop is waited for when its result is wanted (systemctl waits as long as
  // the unit's own time-outs; ours are 90 s to start and 15 s to stop).
  static constexpr std::chrono::seconds kJobLimit{180};

  // What Start and Stop wait for: the manager's acceptance of the job (a program that stops its
  // own unit must not wait for that), or the job's end (JobRemoved), which must be "done".
  enum class Wait { kQueued, kResult };

  explicit SystemdUnits(Problem problem) : problem_(std::move(problem)) {}

  bool Start(const std::string& unit, Wait wait = Wait::kQueued);
  bool Stop(const std::string& unit, Wait wait = Wait::kQueued);
  bool Enable(const std::string& unit);
  bool Disable(const std::string& unit);
  // The interfaces a unit's object carries its properties on (org.freedesktop.systemd1(5)):
  // ActiveState on the first, a service's ControlGroup and MainPID on the second.
  static constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
  static constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";

  // A text property of the unit on `interface`, such as kUnitInterface's ActiveState ("active",
  // "activating", "deactivating", "inactive", "failed") or kServiceInterface's ControlGroup,
  // read through the unit's object that the manager names (GetUnit); nothing when it could not
  // be read.
  std::optional<std::string> UnitProperty(const std::string& unit, const char* interface,
                                          const std::string& property);

 private:
  bool RunJob(const char* method, const std::string& unit, Wait wait);

  Problem problem_;
};

}  // namespace Pellux
