#pragma once

namespace Pellux {

// Where the radio side stands with the tracker.
enum class LinkState {
  Searching = 0,
  ResetSent = 1,
  LinkSent = 2,
  SessionSearch = 3,
  Linked = 4,
  Pinging = 5,
  Unlinking = 6,
};

}  // namespace Pellux
