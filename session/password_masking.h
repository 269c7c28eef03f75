#pragma once

#include <string>

namespace Pellux {

// A copy of a form body fit for the log: from each "password" (case-sensitive) up to the next
// "&", or to the end, is replaced by "<hiddenpassword>". What is sent is never changed.
std::string MaskPasswords(std::string text);

}  // namespace Pellux
