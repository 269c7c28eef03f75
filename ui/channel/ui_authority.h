#pragma once

#include "base/ui_sender.h"

namespace Pellux {

// Whether a sender of UI messages is an administrator of this machine, as the platform decides
// (Linux: root, or whom polkit lets configure the uploader; Windows: LocalSystem, an elevated
// administrator, or the user of the active console session). Called on the pipe listener's
// thread, with the service pipe's lock held; may ask the system, so it is asked only for the
// messages that need it.
class UiAuthority {
 public:
  UiAuthority() = default;
  UiAuthority(const UiAuthority&) = delete;
  UiAuthority& operator=(const UiAuthority&) = delete;
  virtual ~UiAuthority() = default;

  virtual bool IsAdministrator(const UiSender& sender) = 0;
};

}  // namespace Pellux
