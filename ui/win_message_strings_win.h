#pragma once

#include <windows.h>

#include <string>

#include "ui/message_strings.h"

namespace Pellux {

// The texts of the user-visible error conditions from a string table (language 1033): the
// resources library's when it is loaded, else the program's own, which every program that
// links the UI carries (ui/message_strings.rc.in). Texts are converted to UTF-8.
class WinMessageStrings final : public MessageStrings {
 public:
  static constexpr const char* kResourceModuleName = "UplinkerResources.dll";
  // The longest text read, in wide characters.
  static constexpr int kMaxTextChars = 4096;

  // Reads from `module` when given; else, at each call, from the resources library when it is
  // loaded, or from this program.
  explicit WinMessageStrings(HMODULE module = nullptr);

  [[nodiscard]] std::string Text(int id) const override;

 private:
  const HMODULE module_;
};

}  // namespace Pellux
