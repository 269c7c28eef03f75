#include "base/system_error.h"

namespace Pellux {

std::string SystemCallFailure(std::string_view call, std::string_view subject, unsigned long code) {
  std::string line(call);
  if (!subject.empty()) {
    line += '(';
    line += subject;
    line += ')';
  }
  return line + " failed: " + DescribeSystemError(code);
}

}  // namespace Pellux
