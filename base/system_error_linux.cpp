#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/system_error.h"

namespace Pellux {

unsigned long LastSystemError() {
  return static_cast<unsigned long>(errno);
}

std::string SystemErrorText(unsigned long code) {
  // The generic category is strerror_r underneath, and thread-safe where strerror is not.
  std::string text = std::generic_category().message(static_cast<int>(code));
  return text.empty() ? "no text for this code" : text;
}

std::string DescribeSystemError(unsigned long code) {
  std::string description = "errno " + std::to_string(code) + " (" + SystemErrorText(code) + ")";
  // The symbolic name is what a reader searches for in the manual pages.
  if (const char* name = strerrorname_np(static_cast<int>(code)); name != nullptr) {
    description += " [";
    description += name;
    description += ']';
  }
  return description;
}

}  // namespace Pellux
