#pragma once

#include <functional>
#include <string>

namespace Pellux {

// Receives one line about a problem met and handled (a failing system call and what was done
// instead), for the activity log. May be empty, then the line is dropped.
using ProblemReporter = std::function<void(const std::string& line)>;

}  // namespace Pellux
