#pragma once

#include <string_view>

namespace Pellux {

// Who may send which UI message. Anyone local may poll (T), ask for the status record (J, which
// shows another user's session only as running), start a UI session of his own (S), answer and
// end a session he owns (F, E: the engine refuses another's), ask for a refresh (R) and say
// goodbye (X). Only administrators change what the service does for everybody: the
// proxy (P), the activity log (L), and requests to a host other than the configured server's
// (U). Who is an administrator is the platform's to say (ServicePipeHooks::IsAdministrator).
enum class UiRight {
  kAnyone,
  kAdministrator,
};

// The right message `code` with `rest` needs; `serverHost` is the configured server's host. A U
// whose rest is no URL needs nothing, as it does nothing. Pure, any thread.
UiRight RightNeeded(char code, std::string_view rest, std::string_view serverHost);

}  // namespace Pellux
