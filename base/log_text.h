#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Pellux {

// Text from outside the service (what a UI wrote) made fit for one log line: control characters
// are escaped ("\n", "\r", "\t", others as "\x1b"), so that nobody can end a line and forge the
// next, and the result is cut after `most` bytes (never inside an escape), with the length of
// what was left out said at the end. Pure, any thread.
inline constexpr std::size_t kMaxLoggedOutsideTextBytes = 256;
std::string LogSafeText(std::string_view text, std::size_t most = kMaxLoggedOutsideTextBytes);

}  // namespace Pellux
