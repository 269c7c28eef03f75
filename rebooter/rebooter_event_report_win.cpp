#include "rebooter/rebooter_event_report_win.h"

#include <windows.h>

#include <sstream>

#include "base/system_error.h"

namespace Pellux {

std::string RecoveryFailureText(const std::string& lines) {
  std::istringstream in(lines);
  std::string text;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text;
}

void ReportRecoveryFailure(const std::string& serviceName, const std::string& failures,
                           std::ostream& err) {
  HANDLE source = RegisterEventSourceA(nullptr, serviceName.c_str());
  if (source == nullptr) {
    err << SystemCallFailure("RegisterEventSourceA", serviceName, GetLastError()) << "\n";
    return;
  }
  const char* strings[] = {serviceName.c_str(), failures.c_str()};
  if (ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, kEventRecoveryFailed, nullptr, 2, 0, strings,
                   nullptr) == 0) {
    err << SystemCallFailure("ReportEventA", serviceName, GetLastError()) << "\n";
  }
  DeregisterEventSource(source);
}

}  // namespace Pellux
