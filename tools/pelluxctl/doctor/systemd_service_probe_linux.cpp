// The service probe of Linux: systemd's manager over the system bus (sd-bus).

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/system_error.h"
#include "tools/pelluxctl/doctor/service_probe.h"

namespace Pellux {
namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kNoSuchUnit = "org.freedesktop.systemd1.NoSuchUnit";

// "<call>(<subject>) failed: <bus error name>: <text>", the system's text when the bus gave none.
std::string BusFailure(const std::string& call, const std::string& subject,
                       const sd_bus_error& error, int result) {
  if (error.name == nullptr) {
    return SystemCallFailure(call, subject, static_cast<unsigned long>(-result));
  }
  return call + "(" + subject + ") failed: " + error.name + ": " +
         (error.message != nullptr ? error.message
                                   : SystemErrorText(static_cast<unsigned long>(-result)));
}

struct BusCall {
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is C99 syntax
  sd_bus_message* reply = nullptr;
  BusCall() = default;
  BusCall(const BusCall&) = delete;
  BusCall& operator=(const BusCall&) = delete;
  ~BusCall() {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
  }
};

class SystemdServiceProbe final : public ServiceProbe {
 public:
  UnitFacts Unit(const std::string& unit) override {
    UnitFacts facts;
    sd_bus* opened = nullptr;
    if (const int result = sd_bus_open_system(&opened); result < 0) {
      facts.error =
          SystemCallFailure("sd_bus_open_system", "", static_cast<unsigned long>(-result));
      return facts;
    }
    const std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)> bus(
        opened, sd_bus_flush_close_unref);
    std::string path;
    if (!UnitObject(bus.get(), unit, path, facts.error)) return facts;
    if (!Property(bus.get(), path, "LoadState", facts.loadState, facts.error) ||
        !Property(bus.get(), path, "ActiveState", facts.activeState, facts.error) ||
        !Property(bus.get(), path, "UnitFileState", facts.unitFileState, facts.error)) {
      return facts;
    }
    facts.reached = true;
    return facts;
  }

 private:
  // The unit's object: GetUnit for a unit the manager has in memory, else LoadUnit, which
  // gives an object for any name (LoadState "not-found" for a unit without a file).
  static bool UnitObject(sd_bus* bus, const std::string& unit, std::string& path,
                         std::string& error) {
    for (const char* method : {"GetUnit", "LoadUnit"}) {
      BusCall call;
      const int result = sd_bus_call_method(bus, kDestination, kPath, kManager, method, &call.error,
                                            &call.reply, "s", unit.c_str());
      if (result >= 0) {
        const char* object = nullptr;
        if (const int read = sd_bus_message_read(call.reply, "o", &object); read < 0) {
          error =
              SystemCallFailure("sd_bus_message_read", method, static_cast<unsigned long>(-read));
          return false;
        }
        path = object;
        return true;
      }
      if (sd_bus_error_has_name(&call.error, kNoSuchUnit) == 0) {
        error = BusFailure(method, unit, call.error, result);
        return false;
      }
    }
    error = "LoadUnit(" + unit + ") found no unit";
    return false;
  }

  static bool Property(sd_bus* bus, const std::string& path, const char* name, std::string& value,
                       std::string& error) {
    BusCall call;
    char* text = nullptr;
    const int result = sd_bus_get_property_string(bus, kDestination, path.c_str(), kUnitInterface,
                                                  name, &call.error, &text);
    if (result < 0) {
      error = BusFailure("Get", name, call.error, result);
      return false;
    }
    value = text;
    free(text);  // NOLINT(cppcoreguidelines-no-malloc): sd-bus hands over malloc'ed text
    return true;
  }
};

}  // namespace

std::unique_ptr<ServiceProbe> ServiceProbe::CreateForPlatform() {
  return std::make_unique<SystemdServiceProbe>();
}

}  // namespace Pellux
