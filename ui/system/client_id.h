#pragma once

#include <optional>
#include <string>

#include "ui/settings/settings_store.h"
#include "ui/system/problem_reporter.h"

namespace Pellux {

// The installation's client id: "ClientId" of section "Tracker" in `settings`, made and stored
// on first use. A stored id is returned as it is; a new one is 36 lower-case characters in
// groups of 8-4-4-4-12. When it cannot be stored it is still returned (and reported), and the
// next call makes another. Calls are serialised, so two first uses agree on one id.
std::string GetClientId(SettingsStore& settings, const ProblemReporter& report);

// A new random id in the lower-case 8-4-4-4-12 form; nullopt (reported) when the system could
// not make one.
std::optional<std::string> MakeClientId(const ProblemReporter& report);

}  // namespace Pellux
