#include "service/systemd_units_linux.h"

#include <systemd/sd-bus.h>

#include <cstdlib>

#include "base/log_format.h"
#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";

// One call to the manager with `unit`; the arguments after the unit name differ by method.
template <typename Call>
bool CallManager(const std::string& method, const std::string& unit,
                 const SystemdUnits::Problem& problem, Call call) {
  sd_bus* bus = nullptr;
  const int opened = sd_bus_open_system(&bus);
  if (opened < 0) {
    problem(SystemCallFailure("sd_bus_open_system", "", static_cast<unsigned long>(-opened)));
    return false;
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int called = call(bus, &error, &reply);
  if (called < 0) {
    problem(FormatLine("%s(%s) failed: %s: %s", method, unit,
                       error.name != nullptr ? error.name : "(no name)",
                       error.message != nullptr
                           ? error.message
                           : SystemErrorText(static_cast<unsigned long>(-called)))
                .str());
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return called >= 0;
}

bool Reload(const std::string& unit, const SystemdUnits::Problem& problem) {
  return CallManager(
      "Reload", unit, problem, [](sd_bus* bus, sd_bus_error* error, sd_bus_message** reply) {
        return sd_bus_call_method(bus, kDestination, kPath, kManager, "Reload", error, reply, "");
      });
}

}  // namespace

bool SystemdUnits::Start(const std::string& unit) {
  return CallManager("StartUnit", unit, problem_,
                     [&](sd_bus* bus, sd_bus_error* error, sd_bus_message** reply) {
                       return sd_bus_call_method(bus, kDestination, kPath, kManager, "StartUnit",
                                                 error, reply, "ss", unit.c_str(), "replace");
                     });
}

bool SystemdUnits::Stop(const std::string& unit) {
  return CallManager("StopUnit", unit, problem_,
                     [&](sd_bus* bus, sd_bus_error* error, sd_bus_message** reply) {
                       return sd_bus_call_method(bus, kDestination, kPath, kManager, "StopUnit",
                                                 error, reply, "ss", unit.c_str(), "replace");
                     });
}

bool SystemdUnits::Enable(const std::string& unit) {
  const bool enabled =
      CallManager("EnableUnitFiles", unit, problem_,
                  [&](sd_bus* bus, sd_bus_error* error, sd_bus_message** reply) {
                    // Not only for this boot, and replacing links that point elsewhere.
                    return sd_bus_call_method(bus, kDestination, kPath, kManager, "EnableUnitFiles",
                                              error, reply, "asbb", 1, unit.c_str(), 0, 1);
                  });
  return enabled && Reload(unit, problem_);
}

bool SystemdUnits::Disable(const std::string& unit) {
  const bool disabled = CallManager("DisableUnitFiles", unit, problem_,
                                    [&](sd_bus* bus, sd_bus_error* error, sd_bus_message** reply) {
                                      return sd_bus_call_method(bus, kDestination, kPath, kManager,
                                                                "DisableUnitFiles", error, reply,
                                                                "asb", 1, unit.c_str(), 0);
                                    });
  return disabled && Reload(unit, problem_);
}

std::optional<std::string> SystemdUnits::UnitProperty(const std::string& unit,
                                                      const std::string& property) {
  std::optional<std::string> state;
  std::string unitPath;
  const bool found = CallManager(
      "GetUnit", unit, problem_, [&](sd_bus* bus, sd_bus_error* error, sd_bus_message** reply) {
        int called = sd_bus_call_method(bus, kDestination, kPath, kManager, "GetUnit", error, reply,
                                        "s", unit.c_str());
        const char* path = nullptr;
        if (called >= 0) called = sd_bus_message_read(*reply, "o", &path);
        if (called >= 0) unitPath = path;
        return called;
      });
  if (!found) return state;
  CallManager("Get " + property, unit, problem_,
              [&](sd_bus* bus, sd_bus_error* error, sd_bus_message** /*reply*/) {
                char* value = nullptr;
                const int read =
                    sd_bus_get_property_string(bus, kDestination, unitPath.c_str(), kUnitInterface,
                                               property.c_str(), error, &value);
                if (read >= 0) state = value;
                free(value);
                return read;
              });
  return state;
}

}  // namespace Pellux
