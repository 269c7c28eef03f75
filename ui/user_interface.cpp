#include "ui/user_interface.h"

#include "base/log_format.h"

namespace Pellux {

UserInterface::~UserInterface() = default;

void UserInterface::ShowError(int templateNumber, const std::string& messageKey, Context context) {
  ShowErrorList(templateNumber, {messageKey}, context);
}

void UserInterface::LogFormatted(const boost::format& format, int level, Context context) {
  Log(RenderLine(format), level, context);
}

std::int32_t UserInterface::ReadIntSetting(const std::string& section, const std::string& name,
                                           std::int32_t defaultValue) {
  const auto value = settings_.ReadNumber(section, name);
  return value ? static_cast<std::int32_t>(*value) : defaultValue;
}

std::string UserInterface::ReadStringSetting(const std::string& section, const std::string& name,
                                             const std::string& defaultValue) {
  auto value = settings_.ReadText(section, name);
  if (value) return std::move(*value);
  return defaultValue;
}

bool UserInterface::WriteIntSetting(const std::string& section, const std::string& name,
                                    std::uint32_t value) {
  return settings_.WriteNumber(section, name, value);
}

bool UserInterface::WriteStringSetting(const std::string& section, const std::string& name,
                                       const std::string& value) {
  return settings_.WriteText(section, name, value);
}

bool UserInterface::Relaunch(std::uint16_t /*vendorId*/, std::uint16_t /*productId*/) {
  return true;
}

}  // namespace Pellux
