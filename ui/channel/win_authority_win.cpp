#include "ui/channel/win_authority_win.h"

#include <windows.h>

namespace Pellux {

bool IsWindowsAdministrator(const UiSender& sender, std::uint32_t activeConsoleSession) {
  if (sender.system || sender.elevatedAdministrator) return true;
  return activeConsoleSession != kNoConsoleSession && sender.session == activeConsoleSession;
}

bool WinAuthority::IsAdministrator(const UiSender& sender) {
  return IsWindowsAdministrator(sender, WTSGetActiveConsoleSessionId());
}

}  // namespace Pellux
