// rebooter64.exe (64-bit Windows) and rebooter.exe (32-bit Windows), one source: started by the
// "Pellux" service when its base station has gone silent, with the station's vendor and product
// id (hexadecimal) and the service's process id (decimal). A windowless program: what it says
// is only seen where its output streams are redirected, so a recovery that failed is also
// reported to the event log under the service's event source. Its exit code is always 0.

#include <windows.h>
// CommandLineToArgvW
#include <shellapi.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/system_error.h"
#include "rebooter/rebooter.h"
#include "rebooter/rebooter_arguments.h"
#include "rebooter/rebooter_event_report_win.h"
#include "rebooter/win_rebooter_system_win.h"
#include "service/service_name.h"

namespace {

std::string Utf8(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.pop_back();
  return text;
}

// The words of the command line after the program's own name.
std::vector<std::string> ArgumentWords() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) {
    std::cerr << Pellux::SystemCallFailure("CommandLineToArgvW", "", GetLastError()) << "\n";
    return {};
  }
  std::vector<std::string> arguments;
  for (int index = 1; index < count; ++index) arguments.push_back(Utf8(words[index]));
  LocalFree(static_cast<HLOCAL>(words));
  return arguments;
}

}  // namespace

int main() {
  Pellux::SystemClock& clock = Pellux::SystemClock::Instance();
  // What the run says is kept for the event report, then written to the streams.
  std::ostringstream said;
  std::ostringstream failures;
  Pellux::WinRebooterSystem system(Pellux::kPelluxServiceName, clock, failures);
  const bool recovered = Pellux::RunRebooter(Pellux::ParseRebooterArguments(ArgumentWords()),
                                             system, clock, said, failures);
  std::cerr << failures.str() << std::flush;
  std::cout << said.str() << std::flush;
  if (!recovered) {
    Pellux::ReportRecoveryFailure(Pellux::kPelluxServiceName,
                                  Pellux::RecoveryFailureText(failures.str() + said.str()),
                                  std::cerr);
  }
  return 0;
}
