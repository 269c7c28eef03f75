#include "tools/pelluxctl/doctor/doctor_command.h"

namespace Pellux {

int RunDoctorCommand(const PelluxctlOptions& /*options*/, UiConnection& /*connection*/,
                     const PelluxctlIo& io) {
  io.err << "pelluxctl: doctor is not available on this system yet\n";
  return kPelluxctlUsage;
}

}  // namespace Pellux
