#pragma once

#include <functional>
#include <optional>
#include <string>

namespace Pellux {

// A service unit's control group as systemd's manager tells it: the property "ControlGroup" of
// the interface org.freedesktop.systemd1.Service (org.freedesktop.systemd1(5); the generic
// ...Unit interface has no such property) on the object GetUnit names. Empty while the unit
// runs no process. The rebooter's one thread; each read opens a connection of its own.
class ServiceControlGroup {
 public:
  // Told one line per failed call: the call, the unit and the bus error's name and text.
  using Problem = std::function<void(const std::string& line)>;
  explicit ServiceControlGroup(Problem problem) : problem_(std::move(problem)) {}

  // Nothing when it could not be read.
  std::optional<std::string> Read(const std::string& unit) const;

 private:
  Problem problem_;
};

}  // namespace Pellux
