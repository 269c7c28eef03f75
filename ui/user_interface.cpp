#include "ui/user_interface.h"

namespace Pellux {

UserInterface::~UserInterface() = default;

void UserInterface::ShowError(int templateNumber, const std::string& messageKey, Context context) {
  ShowErrorList(templateNumber, {messageKey}, context);
}

void UserInterface::LogFormatted(const boost::format& format, int level, Context context) {
  std::string text;
  try {
    text = format.str();
  } catch (const boost::io::format_error& error) {
    // A line whose arguments do not fit its format must not take the caller down with it.
    text = std::string("(unrenderable log line: ") + error.what() + ")";
  }
  Log(text, level, context);
}

bool UserInterface::Relaunch(std::uint16_t /*vendorId*/, std::uint16_t /*productId*/) {
  return true;
}

}  // namespace Pellux
