#include "service/service_program_win.h"

#include "base/log_format.h"
#include "service/service_command_line.h"

namespace Pellux {

int RunServiceProgram(Service& service, const std::vector<std::string>& arguments,
                      std::ostream& out, std::ostream& err) {
  const ServiceSwitch which = ParseServiceSwitch(arguments);
  bool done = true;
  switch (which) {
    case ServiceSwitch::kRunService:
      return static_cast<int>(service.RunDispatcher());
    case ServiceSwitch::kInstall:
      done = service.Install();
      break;
    case ServiceSwitch::kStart:
      done = service.Start();
      if (done) err << kServiceStartedText;
      break;
    case ServiceSwitch::kStop:
      done = service.Stop();
      break;
    case ServiceSwitch::kUninstall:
      done = service.Uninstall();
      break;
    case ServiceSwitch::kVersion:
      out << FormatLine("Version %s\n", service.Version());
      break;
    case ServiceSwitch::kUsage:
      out << ServiceUsageText(arguments.empty() ? std::string() : arguments[0]);
      break;
  }
  if (!done) err << ServiceSwitchFailureText(which);
  out.flush();
  err.flush();
  return 0;
}

}  // namespace Pellux
