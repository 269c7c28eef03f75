#pragma once

#include <memory>
#include <string>

namespace Pellux {

// What the system's service manager says of one unit, in systemd's names for the states (the
// Windows service manager's map to them: automatic start is "enabled", on demand "manual").
struct UnitFacts {
  // False when the manager could not be asked at all; `error` then says why (the call, the
  // code or the bus error, and the system's text).
  bool reached = false;
  std::string error;
  // "loaded", "not-found", "masked", "error", ...
  std::string loadState;
  // "active", "activating", "deactivating", "inactive", "failed", ...
  std::string activeState;
  // "enabled", "disabled", "static", "masked", ... (empty when the unit has no file)
  std::string unitFileState;
  // The command the manager starts (Windows: the service's image path); empty on Linux.
  std::string program;
};

// Asks the service manager about a unit: systemd over the system bus on Linux. Called by
// `pelluxctl doctor` on its one thread; each call stands alone and keeps nothing.
class ServiceProbe {
 public:
  ServiceProbe() = default;
  ServiceProbe(const ServiceProbe&) = delete;
  ServiceProbe& operator=(const ServiceProbe&) = delete;
  virtual ~ServiceProbe() = default;

  // The unit's states, loading the unit's description when the manager has none in memory
  // (a unit that is installed but was never started). Never throws.
  virtual UnitFacts Unit(const std::string& unit) = 0;

  static std::unique_ptr<ServiceProbe> CreateForPlatform();
};

}  // namespace Pellux
