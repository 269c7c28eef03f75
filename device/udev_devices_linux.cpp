#include "device/udev_devices_linux.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "device/usb_power_cycle_rules.h"

namespace Pellux {
namespace {

// libudev keeps process-wide state (its log settings, caches) that it changes without a lock,
// and the monitor's thread uses it beside the engine's listings: every use of libudev in this
// process takes this lock. Never held while a caller's callback runs.
std::mutex& UdevLock() {
  static std::mutex lock;
  return lock;
}

struct UdevDeleter {
  void operator()(udev* handle) const { udev_unref(handle); }
  void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
  void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

void Emit(const DeviceLog& log, int level, const std::string& line) {
  if (log) log(level, line);
}

std::string Text(const char* value) {
  return value == nullptr ? std::string() : std::string(value);
}

// A USB id as sysfs and udev write it: four hexadecimal digits.
std::optional<std::uint16_t> UsbId(const char* text) {
  if (text == nullptr) return std::nullopt;
  const std::string_view digits(text);
  if (digits.size() != 4) return std::nullopt;
  std::uint16_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + 4, value, 16);
  if (error != std::errc() || end != digits.data() + 4) return std::nullopt;
  return value;
}

const char* Reason(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return "no permission";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "not found";
    default:
      return "failed";
  }
}

// Writes `value` to the attribute file at `path`; 0 or the errno value.
int WriteAttribute(const std::string& path, const char* value) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const std::size_t size = std::char_traits<char>::length(value);
  const ssize_t written = ::write(fd, value, size);
  const int error = written < 0 ? errno : (static_cast<std::size_t>(written) != size ? EIO : 0);
  ::close(fd);
  return error;
}

// A USB device's node, /dev/bus/usb/BBB/DDD: from udev, else from its bus and device numbers.
std::string UsbNode(udev_device* usb) {
  if (const char* node = udev_device_get_devnode(usb); node != nullptr) return node;
  const char* bus = udev_device_get_sysattr_value(usb, "busnum");
  const char* device = udev_device_get_sysattr_value(usb, "devnum");
  if (bus == nullptr || device == nullptr) return {};
  unsigned busNumber = 0;
  unsigned deviceNumber = 0;
  const std::string_view busText(bus);
  const std::string_view deviceText(device);
  if (std::from_chars(busText.data(), busText.data() + busText.size(), busNumber).ec !=
          std::errc() ||
      std::from_chars(deviceText.data(), deviceText.data() + deviceText.size(), deviceNumber).ec !=
          std::errc() ||
      busNumber > 999 || deviceNumber > 999) {
    return {};
  }
  std::array<char, 32> node{};
  std::snprintf(node.data(), node.size(), "/dev/bus/usb/%03u/%03u", busNumber, deviceNumber);
  return node.data();
}

}  // namespace

std::optional<UsbSerialPort> DescribeUsbSerialPort(udev_device* device) {
  const char* node = udev_device_get_devnode(device);
  if (node == nullptr) return std::nullopt;
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb == nullptr) return std::nullopt;
  const auto vendorId = UsbId(udev_device_get_sysattr_value(usb, "idVendor"));
  const auto productId = UsbId(udev_device_get_sysattr_value(usb, "idProduct"));
  if (!vendorId || !productId) return std::nullopt;
  UsbSerialPort port;
  port.node = node;
  port.ttySysPath = Text(udev_device_get_syspath(device));
  port.usbSysPath = Text(udev_device_get_syspath(usb));
  port.vendorId = *vendorId;
  port.productId = *productId;
  const char* serial = udev_device_get_property_value(device, "ID_SERIAL_SHORT");
  if (serial == nullptr || *serial == '\0') serial = udev_device_get_sysattr_value(usb, "serial");
  port.serial = CleanDeviceText(Text(serial));
  const char* product = udev_device_get_sysattr_value(usb, "product");
  if (product == nullptr || *product == '\0') {
    product = udev_device_get_property_value(device, "ID_MODEL");
  }
  port.product = CleanDeviceText(Text(product));
  return port;
}

std::vector<UsbSerialPort> ListUsbSerialPorts(const DeviceLog& log) {
  std::vector<UsbSerialPort> ports;
  std::lock_guard udevGuard(UdevLock());
  const UdevPtr<udev> context(udev_new());
  if (!context) {
    Emit(log, LogLevel::kError, SystemCallFailure("udev_new", "", LastSystemError()));
    return ports;
  }
  const UdevPtr<udev_enumerate> listing(udev_enumerate_new(context.get()));
  if (!listing || udev_enumerate_add_match_subsystem(listing.get(), "tty") < 0) {
    Emit(log, LogLevel::kError, "The tty devices could not be listed through udev.");
    return ports;
  }
  if (const int result = udev_enumerate_scan_devices(listing.get()); result < 0) {
    Emit(log, LogLevel::kError,
         SystemCallFailure("udev_enumerate_scan_devices", "tty",
                           static_cast<unsigned long>(-result)));
    return ports;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(listing.get())) {
    const char* path = udev_list_entry_get_name(entry);
    const UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), path));
    // Gone between the listing and now: not attached any more.
    if (!device) continue;
    if (auto port = DescribeUsbSerialPort(device.get())) ports.push_back(std::move(*port));
  }
  std::sort(ports.begin(), ports.end(), [](const UsbSerialPort& a, const UsbSerialPort& b) {
    return a.ttySysPath < b.ttySysPath;
  });
  return ports;
}

namespace {

std::optional<std::string> OptionalText(const char* value) {
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// What udev and sysfs tell of `usb` that decides whether it may be power-cycled.
UsbDeviceFacts FactsOf(udev_device* usb) {
  UsbDeviceFacts facts;
  facts.hasUsbParent =
      udev_device_get_parent_with_subsystem_devtype(usb, "usb", "usb_device") != nullptr;
  facts.deviceNumber = OptionalText(udev_device_get_sysattr_value(usb, "devnum"));
  facts.deviceClass = OptionalText(udev_device_get_sysattr_value(usb, "bDeviceClass"));
  facts.baseStationMark = OptionalText(udev_device_get_property_value(usb, kBaseStationProperty));
  return facts;
}

}  // namespace

int RestartUsbDevices(std::uint16_t vendorId, std::uint16_t productId, const DeviceLog& log) {
  return PowerCycleUsbDevices(vendorId, productId, /*baseStationsOnly=*/false, log).restarted;
}

UsbRestartOutcome PowerCycleUsbDevices(std::uint16_t vendorId, std::uint16_t productId,
                                       bool baseStationsOnly, const DeviceLog& log) {
  UsbRestartOutcome outcome;
  std::array<char, 8> vendor{};
  std::array<char, 8> product{};
  std::snprintf(vendor.data(), vendor.size(), "%04x", vendorId);
  std::snprintf(product.data(), product.size(), "%04x", productId);
  const std::string ids = std::string(vendor.data()) + ":" + product.data();

  std::lock_guard udevGuard(UdevLock());
  const UdevPtr<udev> context(udev_new());
  const UdevPtr<udev_enumerate> listing(context ? udev_enumerate_new(context.get()) : nullptr);
  if (!listing || udev_enumerate_add_match_subsystem(listing.get(), "usb") < 0 ||
      udev_enumerate_add_match_sysattr(listing.get(), "idVendor", vendor.data()) < 0 ||
      udev_enumerate_add_match_sysattr(listing.get(), "idProduct", product.data()) < 0 ||
      udev_enumerate_scan_devices(listing.get()) < 0) {
    Emit(log, LogLevel::kError,
         FormatLine("USB devices %s could not be listed through udev: nothing restarted.", ids)
             .str());
    outcome.listed = false;
    return outcome;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(listing.get())) {
    const UdevPtr<udev_device> usb(
        udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!usb) continue;
    const char* type = udev_device_get_devtype(usb.get());
    if (type == nullptr || std::string_view(type) != "usb_device") continue;
    ++outcome.matching;
    const std::string path = Text(udev_device_get_syspath(usb.get()));
    if (const PowerCycleVerdict verdict = JudgePowerCycle(FactsOf(usb.get()), baseStationsOnly);
        verdict != PowerCycleVerdict::Allowed) {
      Emit(log, LogLevel::kError,
           FormatLine("Refused to power-cycle USB device %s at %s: %s.", ids, path,
                      PowerCycleVerdictText(verdict))
               .str());
      ++outcome.refused;
      continue;
    }
    const std::string attribute = path + "/authorized";
    int error = WriteAttribute(attribute, "0");
    if (error == 0) {
      error = WriteAttribute(attribute, "1");
      if (error != 0) {
        // Left unauthorized, the device stays off until someone writes 1: say so loudly.
        Emit(log, LogLevel::kError,
             SystemCallFailure("write 1", attribute, static_cast<unsigned long>(error)) +
                 " -- the device stays switched off (" + Reason(error) + ")");
        continue;
      }
      Emit(log, LogLevel::kLifecycle,
           FormatLine("Restarted USB device %s at %s: authorized 0, then 1.", ids, path).str());
      ++outcome.restarted;
      continue;
    }
    Emit(log, LogLevel::kError,
         SystemCallFailure("write 0", attribute, static_cast<unsigned long>(error)) + " (" +
             Reason(error) + "); trying USBDEVFS_RESET");
    const std::string node = UsbNode(usb.get());
    if (node.empty()) {
      Emit(log, LogLevel::kError,
           FormatLine("USB device %s at %s has no device node to reset (not found).", ids, path)
               .str());
      continue;
    }
    const int fd = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      const int openError = errno;
      Emit(log, LogLevel::kError,
           SystemCallFailure("open", node, static_cast<unsigned long>(openError)) + " (" +
               Reason(openError) + ")");
      continue;
    }
    if (::ioctl(fd, USBDEVFS_RESET, 0) != 0) {
      const int resetError = errno;
      Emit(
          log, LogLevel::kError,
          SystemCallFailure("ioctl(USBDEVFS_RESET)", node, static_cast<unsigned long>(resetError)) +
              " (" + Reason(resetError) + ")");
    } else {
      Emit(log, LogLevel::kLifecycle,
           FormatLine("Reset USB device %s through %s.", ids, node).str());
      ++outcome.restarted;
    }
    ::close(fd);
  }
  if (outcome.matching == 0) {
    Emit(log, LogLevel::kDetail,
         FormatLine("No USB device %s is attached: nothing to restart.", ids).str());
  }
  return outcome;
}

// ---------------------------------------------------------------------------------------------

UsbHotplugMonitor::UsbHotplugMonitor(Callback callback, DeviceLog log)
    : callback_(std::move(callback)), log_(std::move(log)) {}

UsbHotplugMonitor::~UsbHotplugMonitor() {
  Stop();
}

bool UsbHotplugMonitor::Start() {
  std::lock_guard guard(lifecycle_);
  if (thread_.joinable()) return true;
  const auto fail = [this](const std::string& line) {
    Log(LogLevel::kError, line);
    {
      std::lock_guard udevGuard(UdevLock());
      if (monitor_ != nullptr) udev_monitor_unref(monitor_);
      if (udev_ != nullptr) udev_unref(udev_);
    }
    if (stop_ >= 0) ::close(stop_);
    monitor_ = nullptr;
    udev_ = nullptr;
    stop_ = -1;
    return false;
  };
  std::string failure;
  {
    std::lock_guard udevGuard(UdevLock());
    udev_ = udev_new();
    if (udev_ == nullptr) {
      failure = SystemCallFailure("udev_new", "", LastSystemError());
    } else if (monitor_ = udev_monitor_new_from_netlink(udev_, "udev"); monitor_ == nullptr) {
      failure = SystemCallFailure("udev_monitor_new_from_netlink", "udev", LastSystemError());
    } else if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
               udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device") < 0) {
      failure = "The udev monitor's filter could not be set.";
    } else if (const int result = udev_monitor_enable_receiving(monitor_); result < 0) {
      failure = SystemCallFailure("udev_monitor_enable_receiving", "",
                                  static_cast<unsigned long>(-result));
    }
  }
  if (!failure.empty()) return fail(failure);
  stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_ < 0) return fail(SystemCallFailure("eventfd", "", LastSystemError()));
  // Listening first, then listing: a candidate that arrives meanwhile is seen at least once.
  known_.clear();
  for (UsbSerialPort& port : ListUsbSerialPorts(log_)) {
    known_.emplace(port.ttySysPath, std::move(port));
  }
  const auto attached = static_cast<int>(known_.size());
  try {
    thread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "pellux-hotplug");
      Run();
    });
  } catch (const std::system_error& error) {
    return fail(FormatLine("The hotplug monitor's thread could not start: %s", error.what()).str());
  }
  Log(LogLevel::kDetail,
      FormatLine("Watching udev for base stations (%d attached now).", attached).str());
  return true;
}

void UsbHotplugMonitor::Stop() {
  std::lock_guard guard(lifecycle_);
  if (!thread_.joinable()) return;
  const std::uint64_t one = 1;
  if (::write(stop_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
    Log(LogLevel::kError,
        SystemCallFailure("write", "the hotplug monitor's wake-up", LastSystemError()));
  }
  thread_.join();
  ::close(stop_);
  stop_ = -1;
  std::lock_guard udevGuard(UdevLock());
  udev_monitor_unref(monitor_);
  monitor_ = nullptr;
  udev_unref(udev_);
  udev_ = nullptr;
}

void UsbHotplugMonitor::Run() {
  const int events = udev_monitor_get_fd(monitor_);
  for (;;) {
    // No time-out: the monitor costs nothing while nothing is plugged in or out.
    std::array<pollfd, 2> waits{{{events, POLLIN, 0}, {stop_, POLLIN, 0}}};
    const int ready = ::poll(waits.data(), waits.size(), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Log(LogLevel::kError, SystemCallFailure("poll", "the udev monitor", LastSystemError()) +
                                " -- hotplug events are no longer seen");
      return;
    }
    if (waits[1].revents != 0) return;
    if (waits[0].revents == 0) continue;
    std::vector<Event> happened;
    {
      std::lock_guard udevGuard(UdevLock());
      const UdevPtr<udev_device> device(udev_monitor_receive_device(monitor_));
      // A message that was not a device event, or came from a sender udev does not trust.
      if (!device) continue;
      happened = Handle(device.get());
    }
    // Outside the lock: the callback may well list the devices again.
    for (const Event& event : happened) Report(event);
  }
}

std::vector<UsbHotplugMonitor::Event> UsbHotplugMonitor::Handle(udev_device* device) {
  std::vector<Event> events;
  const std::string action = Text(udev_device_get_action(device));
  const std::string subsystem = Text(udev_device_get_subsystem(device));
  const std::string path = Text(udev_device_get_syspath(device));
  if (subsystem == "tty" && action == "add") {
    std::optional<UsbSerialPort> port = DescribeUsbSerialPort(device);
    if (!port) return events;
    // The same arrival told twice is one arrival.
    if (const auto found = known_.find(port->ttySysPath);
        found != known_.end() && found->second == *port) {
      return events;
    }
    known_[port->ttySysPath] = *port;
    events.push_back({Event::Kind::Arrived, *port});
    return events;
  }
  if (action != "remove") return events;
  if (subsystem == "tty") {
    if (const auto found = known_.find(path); found != known_.end()) {
      const UsbSerialPort port = found->second;
      known_.erase(found);
      events.push_back({Event::Kind::Removed, port});
      return events;
    }
    // Not seen before: its event still carries what udev knew of it.
    const auto vendorId = UsbId(udev_device_get_property_value(device, "ID_VENDOR_ID"));
    const auto productId = UsbId(udev_device_get_property_value(device, "ID_MODEL_ID"));
    if (!vendorId || !productId) return events;
    UsbSerialPort port;
    port.node = Text(udev_device_get_devnode(device));
    port.ttySysPath = path;
    port.vendorId = *vendorId;
    port.productId = *productId;
    port.serial = CleanDeviceText(Text(udev_device_get_property_value(device, "ID_SERIAL_SHORT")));
    port.product = CleanDeviceText(Text(udev_device_get_property_value(device, "ID_MODEL")));
    events.push_back({Event::Kind::Removed, port});
    return events;
  }
  if (subsystem == "usb") {
    // The tty's own removal was missed: every known port of this USB device is gone with it.
    for (auto it = known_.begin(); it != known_.end();) {
      const std::string& usbPath = it->second.usbSysPath;
      if (usbPath == path) {
        const UsbSerialPort port = it->second;
        it = known_.erase(it);
        events.push_back({Event::Kind::Removed, port});
      } else {
        ++it;
      }
    }
  }
  return events;
}

void UsbHotplugMonitor::Report(const Event& event) {
  const UsbSerialPort& port = event.port;
  const Event::Kind kind = event.kind;
  Log(LogLevel::kLifecycle,
      FormatLine("USB serial port %s %s [VID: 0x%04x, PID: 0x%04x, SERIAL: %s].", port.node,
                 kind == Event::Kind::Arrived ? "arrived" : "removed", port.vendorId,
                 port.productId, port.serial)
          .str());
  if (callback_) callback_(event);
}

void UsbHotplugMonitor::Log(int level, const std::string& line) const {
  if (log_) log_(level, line);
}

}  // namespace Pellux
