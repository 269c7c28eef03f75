#include "service/systemd_units_linux.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdlib>
#include <map>

#include "base/log_format.h"
#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";

// A refused call to the manager as one line: the bus error's name and text, or the system's
// text for the code when the bus gave none.
std::string BusCallFailure(const std::string& method, const std::string& unit,
                           const sd_bus_error& error, int called) {
  return FormatLine("%s(%s) failed: %s: %s", method, unit,
                    error.name != nullptr ? error.name : "(no name)",
                    error.message != nullptr ? error.message
                                             : SystemErrorText(static_cast<unsigned long>(-called)))
      .str();
}

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
  if (called < 0) problem(BusCallFailure(method, unit, error, called));
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

// The results of the jobs that ended while a caller waits for one of them: JobRemoved carries
// the job's id, its object path, the unit and the result ("done", "canceled", "timeout",
// "failed", "dependency", "skipped").
int OnJobRemoved(sd_bus_message* message, void* context, sd_bus_error* /*error*/) {
  auto& ended = *static_cast<std::map<std::string, std::string>*>(context);
  std::uint32_t id = 0;
  const char* path = nullptr;
  const char* unit = nullptr;
  const char* result = nullptr;
  if (sd_bus_message_read(message, "uoss", &id, &path, &unit, &result) >= 0) {
    ended[path] = result;
  }
  return 0;
}

}  // namespace

bool SystemdUnits::RunJob(const char* method, const std::string& unit, Wait wait) {
  sd_bus* bus = nullptr;
  const int opened = sd_bus_open_system(&bus);
  if (opened < 0) {
    problem_(SystemCallFailure("sd_bus_open_system", "", static_cast<unsigned long>(-opened)));
    return false;
  }
  std::map<std::string, std::string> ended;
  sd_bus_slot* slot = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const auto finish = [&](bool done) {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    return done;
  };
  if (wait == Wait::kResult) {
    // The match is in place before the job exists, so that its end cannot be missed; systemd
    // sends job signals once someone has subscribed.
    const int matched = sd_bus_match_signal(bus, &slot, kDestination, kPath, kManager, "JobRemoved",
                                            OnJobRemoved, &ended);
    if (matched < 0) {
      problem_(SystemCallFailure("sd_bus_match_signal", "JobRemoved",
                                 static_cast<unsigned long>(-matched)));
      return finish(false);
    }
    sd_bus_call_method(bus, kDestination, kPath, kManager, "Subscribe", &error, nullptr, "");
    sd_bus_error_free(&error);
  }
  int called = sd_bus_call_method(bus, kDestination, kPath, kManager, method, &error, &reply, "ss",
                                  unit.c_str(), "replace");
  const char* job = nullptr;
  if (called >= 0) called = sd_bus_message_read(reply, "o", &job);
  if (called < 0) {
    problem_(BusCallFailure(method, unit, error, called));
    return finish(false);
  }
  if (wait == Wait::kQueued) return finish(true);

  const std::string jobPath = job;
  const auto deadline = std::chrono::steady_clock::now() + kJobLimit;
  while (!ended.contains(jobPath)) {
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) {
      problem_(
          SystemCallFailure("sd_bus_process", jobPath, static_cast<unsigned long>(-processed)));
      return finish(false);
    }
    if (processed > 0) continue;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
      problem_(FormatLine("%s(%s): job %s did not end within %d s", method, unit, jobPath,
                          static_cast<long long>(kJobLimit.count()))
                   .str());
      return finish(false);
    }
    const int waited =
        sd_bus_wait(bus, static_cast<std::uint64_t>(
                             std::chrono::duration_cast<std::chrono::microseconds>(left).count()));
    if (waited < 0) {
      problem_(SystemCallFailure("sd_bus_wait", jobPath, static_cast<unsigned long>(-waited)));
      return finish(false);
    }
  }
  const std::string& result = ended[jobPath];
  if (result != "done") {
    problem_(FormatLine("%s(%s): the job ended \"%s\"; see \"systemctl status %s\" and "
                        "\"journalctl -u %s\"",
                        method, unit, result, unit, unit)
                 .str());
    return finish(false);
  }
  return finish(true);
}

bool SystemdUnits::Start(const std::string& unit, Wait wait) {
  return RunJob("StartUnit", unit, wait);
}

bool SystemdUnits::Stop(const std::string& unit, Wait wait) {
  return RunJob("StopUnit", unit, wait);
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
                                                      const char* interface,
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
                    sd_bus_get_property_string(bus, kDestination, unitPath.c_str(), interface,
                                               property.c_str(), error, &value);
                if (read >= 0) state = value;
                free(value);
                return read;
              });
  return state;
}

}  // namespace Pellux
