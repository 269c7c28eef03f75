#include "tools/pelluxctl/browser/page_presence.h"

namespace Pellux {

void PagePresence::StreamOpened() {
  ++open_;
  opened_ = true;
}

void PagePresence::StreamClosed(TimePoint now) {
  if (open_ > 0) --open_;
  if (open_ == 0) lastClosed_ = now;
}

PagePresence::State PagePresence::At(TimePoint now) const {
  if (!opened_) return State::kNotOpened;
  if (open_ > 0 || now - lastClosed_ < grace_) return State::kOpen;
  return State::kClosed;
}

}  // namespace Pellux
