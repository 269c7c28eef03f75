#pragma once

#include <chrono>

#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/service_probe.h"
#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

// The daemon's unit, as systemd knows it.
inline constexpr const char* kDoctorServiceUnit = "pellux.service";

// pellux.service installed, enabled and active. Fails with the command that mends it.
DoctorCheck CheckServiceUnit(ServiceProbe& probe);

// The daemon answers a status poll on its UI channel within `timeout`.
DoctorCheck CheckDaemonAnswers(UiConnection& connection, const std::string& service,
                               std::chrono::milliseconds timeout);

}  // namespace Pellux
