#include "service/sleep_watcher_linux.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>

#include "base/log_format.h"
#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";
// How long the thread waits on the bus before it looks whether it is to stop.
constexpr std::uint64_t kWaitMicroseconds = 200000;

}  // namespace

SleepWatcher::SleepWatcher(Handler handler, Problem problem)
    : handler_(std::move(handler)), problem_(std::move(problem)) {}

SleepWatcher::~SleepWatcher() {
  Stop();
}

bool SleepWatcher::Start() {
  const int opened = sd_bus_open_system(&bus_);
  if (opened < 0) {
    problem_(SystemCallFailure("sd_bus_open_system", "", static_cast<unsigned long>(-opened)));
    bus_ = nullptr;
    return false;
  }
  const int matched = sd_bus_match_signal(bus_, nullptr, kLogin, kLoginPath, kLoginManager,
                                          "PrepareForSleep", &SleepWatcher::OnSignal, this);
  if (matched < 0) {
    problem_(SystemCallFailure("sd_bus_match_signal", "PrepareForSleep",
                               static_cast<unsigned long>(-matched)));
    bus_ = sd_bus_flush_close_unref(bus_);
    return false;
  }
  TakeInhibitor();
  thread_ = std::thread([this] {
    while (!stopping_.load()) {
      const int processed = sd_bus_process(bus_, nullptr);
      if (processed < 0) {
        problem_(SystemCallFailure("sd_bus_process", "", static_cast<unsigned long>(-processed)));
        return;
      }
      if (processed == 0) sd_bus_wait(bus_, kWaitMicroseconds);
    }
  });
  return true;
}

void SleepWatcher::Stop() {
  stopping_.store(true);
  if (thread_.joinable()) thread_.join();
  ReleaseInhibitor();
  if (bus_ != nullptr) bus_ = sd_bus_flush_close_unref(bus_);
}

void SleepWatcher::TakeInhibitor() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int called = sd_bus_call_method(
      bus_, kLogin, kLoginPath, kLoginManager, "Inhibit", &error, &reply, "ssss", "sleep",
      "Pellux Data Uploader", "Closing the base station before the system sleeps", "delay");
  int descriptor = -1;
  if (called < 0) {
    problem_(FormatLine("Inhibit(sleep) failed: %s: %s",
                        error.name != nullptr ? error.name : "(no name)",
                        error.message != nullptr ? error.message : "")
                 .str());
  } else if (sd_bus_message_read(reply, "h", &descriptor) >= 0) {
    // The descriptor belongs to the message: keep a copy of our own.
    descriptor = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (descriptor < 0) problem_(SystemCallFailure("fcntl", "F_DUPFD_CLOEXEC", LastSystemError()));
  }
  inhibitor_.store(descriptor);
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
}

void SleepWatcher::ReleaseInhibitor() {
  const int descriptor = inhibitor_.exchange(-1);
  if (descriptor >= 0) close(descriptor);
}

int SleepWatcher::OnSignal(sd_bus_message* message, void* self, sd_bus_error* /*error*/) {
  auto* watcher = static_cast<SleepWatcher*>(self);
  int suspending = 0;
  if (sd_bus_message_read(message, "b", &suspending) < 0) return 0;
  watcher->handler_(suspending != 0);
  if (suspending != 0) {
    watcher->ReleaseInhibitor();
  } else {
    watcher->TakeInhibitor();
  }
  return 0;
}

}  // namespace Pellux
