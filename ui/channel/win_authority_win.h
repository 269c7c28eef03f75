#pragma once

#include <cstdint>

#include "ui/channel/ui_authority.h"

namespace Pellux {

// No console session is attached (WTSGetActiveConsoleSessionId's answer then).
inline constexpr std::uint32_t kNoConsoleSession = 0xFFFFFFFF;

// The decision on Windows: LocalSystem, an elevated administrator, or the user of the active
// console session (the desktop user the UI application serves). Pure.
bool IsWindowsAdministrator(const UiSender& sender, std::uint32_t activeConsoleSession);

// The Windows UiAuthority: the decision above with the session attached to the console now.
class WinAuthority final : public UiAuthority {
 public:
  bool IsAdministrator(const UiSender& sender) override;
};

}  // namespace Pellux
