#pragma once

#include <string>
#include <string_view>

namespace Pellux {

// What the operating system said about a failed call, put into words the same way by every
// backend. A code is an errno value on Linux and a GetLastError (or LSTATUS) value on Windows;
// both fit an unsigned long there.

// The calling thread's last error: errno on Linux, GetLastError() on Windows. Read it right
// after the failing call, before anything else can change it.
unsigned long LastSystemError();

// The system's own text for `code`, without the line break or full stop it may end with; a code
// the system has no text for gives "no text for this code".
std::string SystemErrorText(unsigned long code);

// The code with its text: "errno 2 (No such file or directory) [ENOENT]" on Linux,
// "error 5 (Access is denied) [0x00000005]" on Windows.
std::string DescribeSystemError(unsigned long code);

// One line for a log: "<call>(<subject>) failed: <description>", or "<call> failed: ..." when
// there is no subject.
std::string SystemCallFailure(std::string_view call, std::string_view subject, unsigned long code);

}  // namespace Pellux
