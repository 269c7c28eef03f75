#pragma once

#include <functional>
#include <string>

namespace Pellux {

// The daemon program's switches in systemd terms, over the system bus (sd-bus) to systemd's
// manager: start and stop the unit, enable and disable it (then reload the manager, as
// systemctl does). Each returns whether systemd accepted the request; a refusal is told to
// `problem` with the bus error's name and text. Main thread.
class SystemdUnits {
 public:
  using Problem = std::function<void(const std::string& line)>;
  explicit SystemdUnits(Problem problem) : problem_(std::move(problem)) {}

  bool Start(const std::string& unit);
  bool Stop(const std::string& unit);
  bool Enable(const std::string& unit);
  bool Disable(const std::string& unit);

 private:
  Problem problem_;
};

}  // namespace Pellux
