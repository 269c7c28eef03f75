#include <windows.h>

#include "ui/system/os_description.h"
#include "ui/system/system_info_win.h"

namespace Pellux {

std::string GetOsDescription(const ProblemReporter& report) {
  WinSystemQueries queries(HKEY_LOCAL_MACHINE, report);
  return SystemInfo(ReadSystemRecords(report), queries).Description();
}

}  // namespace Pellux
