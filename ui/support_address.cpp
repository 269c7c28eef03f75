#include "ui/support_address.h"

#ifndef PELLUX_SUPPORT_ADDRESS
#error "PELLUX_SUPPORT_ADDRESS comes from ui/CMakeLists.txt"
#endif

namespace Pellux {

const char* SupportAddress() {
  return PELLUX_SUPPORT_ADDRESS;
}

}  // namespace Pellux
