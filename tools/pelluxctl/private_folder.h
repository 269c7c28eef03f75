#pragma once

#include <optional>
#include <string>

namespace Pellux {

// A new folder of the caller's own in the user's temporary folder, named "pelluxctl-" and a
// random part, made in one step that fails rather than take a folder that is already there (which
// another user could have made, or pointed elsewhere with a link). On Linux its mode is 0700.
// Nothing, with `error` saying which call failed and why, when it could not be made.
std::optional<std::string> MakePrivateFolder(std::string& error);

}  // namespace Pellux
