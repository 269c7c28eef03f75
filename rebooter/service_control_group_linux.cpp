#include "rebooter/service_control_group_linux.h"

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <memory>

#include "base/log_format.h"
#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

// The failed call `call` as one line: the bus error's name and text, or the system's text for
// the code when the bus gave none.
std::string BusFailure(const char* call, const std::string& unit, const sd_bus_error& error,
                       int result) {
  return FormatLine("%s(%s) failed: %s: %s", call, unit,
                    error.name != nullptr ? error.name : "(no name)",
                    error.message != nullptr ? error.message
                                             : SystemErrorText(static_cast<unsigned long>(-result)))
      .str();
}

}  // namespace

std::optional<std::string> ServiceControlGroup::Read(const std::string& unit) const {
  sd_bus* opened = nullptr;
  if (const int result = sd_bus_open_system(&opened); result < 0) {
    problem_(SystemCallFailure("sd_bus_open_system", "", static_cast<unsigned long>(-result)));
    return std::nullopt;
  }
  const std::unique_ptr<sd_bus, BusCloser> bus(opened);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  std::optional<std::string> group;
  int result = sd_bus_call_method(bus.get(), kDestination, kManagerPath, kManager, "GetUnit",
                                  &error, &reply, "s", unit.c_str());
  const char* path = nullptr;
  if (result >= 0) result = sd_bus_message_read(reply, "o", &path);
  if (result < 0) {
    problem_(BusFailure("GetUnit", unit, error, result));
  } else {
    char* value = nullptr;
    result = sd_bus_get_property_string(bus.get(), kDestination, path, kServiceInterface,
                                        "ControlGroup", &error, &value);
    if (result < 0) {
      problem_(BusFailure("Get ControlGroup", unit, error, result));
    } else {
      group = value;
    }
    free(value);
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return group;
}

}  // namespace Pellux
