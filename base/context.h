#pragma once

#include <string>

namespace Pellux {

// Identity of one user interface client: the address of its interned reply channel name, which
// the UI bridge keeps for the life of the process. Two messages naming the same reply channel
// carry the same Context, so the engine compares contexts by identity. The service itself acts
// with kNoContext, which names no client.
using Context = const std::string*;
inline constexpr Context kNoContext = nullptr;

}  // namespace Pellux
