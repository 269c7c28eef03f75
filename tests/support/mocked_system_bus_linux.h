#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace Pellux {

// The interface of python-dbusmock's control methods on a mocked object.
inline constexpr const char* kMock = "org.freedesktop.DBus.Mock";

// Our template of systemd's manager (tests/support/systemd_manager_mock.py). It stands in for
// dbusmock's own "systemd", which puts every property on org.freedesktop.systemd1.Unit and names
// objects its own way: ours keeps each property on the interface org.freedesktop.systemd1(5)
// documents (ControlGroup on ...Service) and the object paths systemd gives.
inline constexpr const char* kSystemdManagerTemplate = PELLUX_SYSTEMD_MOCK_TEMPLATE;

// The object path systemd gives the unit `unit` (sd_bus_path_encode, as the manager does).
inline std::string SystemdUnitObject(const std::string& unit) {
  char* path = nullptr;
  if (sd_bus_path_encode("/org/freedesktop/systemd1/unit", unit.c_str(), &path) < 0) return {};
  std::string text = path;
  free(path);
  return text;
}

inline pid_t Spawn(std::vector<std::string> arguments) {
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  // The child starts with no signal blocked, whatever this thread blocks (the daemon's tests
  // block SIGTERM), so that SIGTERM ends it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, pointers[0], nullptr, &attributes, pointers.data(), environ);
  posix_spawnattr_destroy(&attributes);
  return spawned == 0 ? child : 0;
}

inline void End(pid_t child) {
  if (child <= 0) return;
  kill(child, SIGTERM);
  int status = 0;
  waitpid(child, &status, 0);
}

// A system bus of the test's own (DBUS_SYSTEM_BUS_ADDRESS), with a mock of one system
// service from dbusmock's templates on it, its calls logged to a file. The template "systemd"
// is ours (kSystemdManagerTemplate).
class MockedSystemBus {
 public:
  MockedSystemBus(const std::string& tag, const std::string& templateName,
                  const std::string& busName) {
    std::string pattern = "/tmp/pellux-bus-" + tag + "-XXXXXX";
    folder_ = mkdtemp(pattern.data());
    const std::string address = "unix:path=" + folder_ + "/bus";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    daemon_ =
        Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address});
    // Both are separate programs that a loaded machine (the whole suite, Wine beside it) may
    // start slowly: up to a minute for the bus's socket, then, for as long as the mock runs, for
    // the mock to own its name.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(folder_ + "/bus") &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mock_ = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "-l", CallLog(), "--template",
                   templateName == "systemd" ? kSystemdManagerTemplate : templateName});
    while (!ready_ && std::chrono::steady_clock::now() < deadline && Running()) {
      if (bus_ == nullptr && sd_bus_open_system(&bus_) < 0) bus_ = nullptr;
      ready_ = bus_ != nullptr && HasOwner(busName);
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ready_) {
      std::fprintf(stderr, "mocked system bus not ready: bus %s, mock %s\n",
                   bus_ != nullptr ? "open" : "not open", Running() ? "running" : "ended");
    }
  }
  ~MockedSystemBus() {
    sd_bus_flush_close_unref(bus_);
    End(mock_);
    End(daemon_);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    std::filesystem::remove_all(folder_);
  }
  [[nodiscard]] bool Ready() const { return ready_; }
  [[nodiscard]] std::string CallLog() const { return folder_ + "/calls.log"; }
  [[nodiscard]] std::string Calls() const {
    std::ifstream file(CallLog());
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  sd_bus* Bus() { return bus_; }

  // On a mocked systemd: the loaded, inactive unit `unit` (with its Service interface when it is
  // a service). False when it cannot be added.
  bool AddSystemdUnit(const std::string& unit) {
    return sd_bus_call_method(bus_, "org.freedesktop.systemd1", "/org/freedesktop/systemd1", kMock,
                              "AddMockUnit", nullptr, nullptr, "s", unit.c_str()) >= 0;
  }

 private:
  // Whether the mock still runs; one that ended is reaped and forgotten.
  bool Running() {
    int status = 0;
    if (mock_ > 0 && waitpid(mock_, &status, WNOHANG) != 0) mock_ = 0;
    return mock_ > 0;
  }
  bool HasOwner(const std::string& busName) {
    int has = 0;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                           busName.c_str()) >= 0) {
      sd_bus_message_read(reply, "b", &has);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return has != 0;
  }

  std::string folder_;
  pid_t daemon_ = 0;
  pid_t mock_ = 0;
  sd_bus* bus_ = nullptr;
  bool ready_ = false;
};

}  // namespace Pellux
