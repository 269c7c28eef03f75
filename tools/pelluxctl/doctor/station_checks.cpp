#include "tools/pelluxctl/doctor/station_checks.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "tools/pelluxctl/doctor/access_rule.h"

namespace Pellux {
namespace {

constexpr const char* kServiceAccount = "pellux";
// The program name of the daemon, which may hold the port.
constexpr const char* kDaemonProgram = "uplinker";
// The rule is a few lines; anything far larger is no rule of ours.
constexpr std::size_t kMaxRuleBytes = std::size_t{64} * 1024;
// The administrator's rule for another adapter (packaging/linux/examples).
constexpr const char* kAdapterRuleName = "61-pellux-adapter.rules";
constexpr const char* kRetrigger =
    "sudo udevadm control --reload-rules && sudo udevadm trigger --action=add "
    "--subsystem-match=usb --subsystem-match=tty (or plug the base station in again)";

std::string Hex4(std::uint16_t value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04x", static_cast<unsigned>(value));
  return text.data();
}

std::string Ids(const DoctorSettings& settings) {
  return Hex4(settings.vendorId) + ":" + Hex4(settings.productId);
}

// The ports the daemon would open: SerialPort's path, else every tty udev found.
std::vector<StationPort> PortsToCheck(const DoctorSettings& settings,
                                      const StationListing& listing) {
  if (!settings.serialPort.empty()) {
    StationPort port;
    port.node = settings.serialPort;
    return {port};
  }
  return listing.ports;
}

// Why there is no port to look at, for the checks that need one (the tty check fails on it).
DoctorCheck NoPort(const char* name, const DoctorSettings& settings,
                   const StationListing& listing) {
  if (!listing.listed) {
    return DoctorCheck::Warn(name, "not checked: the devices could not be listed",
                             "see the line \"base station tty\"");
  }
  return DoctorCheck::Warn(name, "not checked: no port of a base station " + Ids(settings),
                           "see the line \"base station tty\"");
}

// Whether a name read from sysfs may go into a command the user is told to run: one word of
// the characters the kernel gives drivers and devices, never a way to another folder.
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && std::ranges::all_of(name, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.' ||
           c == ':';
  });
}

std::string Owners(const FileFacts& facts) {
  return "owner " + std::to_string(facts.owner) + ", group " + std::to_string(facts.group) +
         ", mode " + ModeText(facts.mode);
}

// Whether a rule's text names the configured ids, as udev's rules write them ("10c4").
bool NamesIds(const std::string& rule, const DoctorSettings& settings) {
  return rule.find('"' + Hex4(settings.vendorId) + '"') != std::string::npos &&
         rule.find('"' + Hex4(settings.productId) + '"') != std::string::npos;
}

// The adapter rule udev uses (the first of its name in udev's folders) when it names the
// configured ids; empty otherwise.
std::string AdapterRuleNaming(const DoctorSettings& settings, FileProbe& files) {
  for (const std::string& folder : UdevRuleFolders()) {
    const std::string path = folder + "/" + kAdapterRuleName;
    const FileText text = files.Read(path, kMaxRuleBytes);
    if (text.state == FileText::State::kMissing) continue;
    return text.state == FileText::State::kRead && NamesIds(text.text, settings) ? path : "";
  }
  return {};
}

}  // namespace

const std::vector<std::string>& UdevRuleFolders() {
  static const std::vector<std::string> folders = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                                   "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
  return folders;
}

DoctorCheck CheckUdevRule(const DoctorSettings& settings, FileProbe& files) {
  constexpr const char* kName = "udev rule";
  for (const std::string& folder : UdevRuleFolders()) {
    const std::string path = folder + "/" + kUdevRuleName;
    const FileFacts facts = files.Status(path);
    if (facts.state == FileFacts::State::kMissing) continue;
    if (facts.state == FileFacts::State::kFailed) {
      return DoctorCheck::Fail(kName, path + " cannot be looked at: " + facts.error,
                               "make " + path + " a file that every user can read");
    }
    // udev uses the first file of the name it finds: one in /etc masks the package's.
    const FileText text = files.Read(path, kMaxRuleBytes);
    if (facts.characterDevice || (text.state == FileText::State::kRead && text.text.empty())) {
      return DoctorCheck::Fail(kName, path + " masks the rule (empty, or a link to /dev/null)",
                               "sudo rm " + path + " && " + kRetrigger);
    }
    if (text.state == FileText::State::kTooLarge) {
      return DoctorCheck::Fail(
          kName,
          path + " is larger than " + std::to_string(kMaxRuleBytes) + " bytes: no rule of ours",
          "install the pellux package again (sudo apt install --reinstall "
          "pellux)");
    }
    if (text.state != FileText::State::kRead) {
      return DoctorCheck::Fail(kName, path + " cannot be read: " + text.error,
                               "make " + path +
                                   " a file of the pellux package that every user "
                                   "can read");
    }
    if (!NamesIds(text.text, settings)) {
      // Another adapter's ids are given to udev by a rule of the administrator's, made from
      // the example the package ships.
      const std::string adapter = AdapterRuleNaming(settings, files);
      if (!adapter.empty()) {
        std::string found = path + " is installed; ";
        found += adapter;
        found += " names " + Ids(settings);
        return DoctorCheck::Ok(kName, found);
      }
      return DoctorCheck::Warn(
          kName, path + " does not name the configured base station " + Ids(settings),
          "copy /usr/share/doc/pellux/examples/61-pellux-adapter.rules to /etc/udev/rules.d/ "
          "with your ids, then: " +
              std::string(kRetrigger));
    }
    return DoctorCheck::Ok(kName, path + " is installed and names " + Ids(settings));
  }
  return DoctorCheck::Fail(kName, std::string(kUdevRuleName) + " is not installed",
                           "install the pellux package");
}

DoctorCheck CheckStationTty(const DoctorSettings& settings, const StationListing& listing,
                            FileProbe& files, AccountProbe& accounts) {
  constexpr const char* kName = "base station tty";
  if (settings.serialPort.empty()) {
    if (!listing.listed) {
      return DoctorCheck::Fail(kName, "the USB devices could not be listed: " + listing.error,
                               "check that udev runs: systemctl status systemd-udevd.service");
    }
    if (listing.ports.empty()) {
      if (!listing.interfaces.empty()) {
        return DoctorCheck::Fail(kName, "the base station " + Ids(settings) + " has no tty",
                                 "see the line \"driver\"");
      }
      return DoctorCheck::Fail(
          kName, "no base station " + Ids(settings) + " is plugged in",
          "plug the base station in (lsusb lists it as " + Ids(settings) + ")");
    }
  }
  const GroupFacts group = accounts.Group(kServiceAccount);
  if (group.state == GroupFacts::State::kMissing) {
    return DoctorCheck::Fail(kName, "there is no group pellux",
                             "sudo systemd-sysusers (the pellux package makes the user and group)");
  }
  if (group.state == GroupFacts::State::kFailed) {
    return DoctorCheck::Fail(kName, "the group pellux could not be looked up: " + group.error,
                             "check the system's user database (getent group pellux)");
  }
  std::string found;
  for (const StationPort& port : PortsToCheck(settings, listing)) {
    if (port.node.empty()) {
      return DoctorCheck::Fail(kName, port.ttySysPath + " has no device node", kRetrigger);
    }
    const FileFacts facts = files.Status(port.node);
    if (facts.state == FileFacts::State::kMissing) {
      return DoctorCheck::Fail(kName, port.node + " does not exist",
                               settings.serialPort.empty()
                                   ? std::string(kRetrigger)
                                   : "plug the adapter in, or correct SerialPort in the settings");
    }
    if (facts.state == FileFacts::State::kFailed) {
      return DoctorCheck::Fail(kName, port.node + " cannot be looked at: " + facts.error,
                               kRetrigger);
    }
    if (!facts.characterDevice) {
      return DoctorCheck::Fail(kName, port.node + " is no character device",
                               "correct SerialPort in the settings");
    }
    if (facts.group != group.gid || (facts.mode & 060U) != 060U) {
      return DoctorCheck::Fail(
          kName,
          port.node + " has " + Owners(facts) + "; the rule gives group " + "pellux (" +
              std::to_string(group.gid) + "), mode 0660",
          settings.serialPort.empty()
              ? std::string(kRetrigger)
              : "give it the group pellux and mode 0660 with a rule of its "
                "own (/usr/share/doc/pellux/examples/61-pellux-adapter.rules)");
    }
    if (!found.empty()) found += "; ";
    found += port.node + " has " + Owners(facts);
  }
  return DoctorCheck::Ok(kName, found);
}

DoctorCheck CheckStationDriver(const DoctorSettings& settings, const StationListing& listing) {
  constexpr const char* kName = "driver";
  if (!settings.serialPort.empty()) {
    return DoctorCheck::Ok(kName,
                           "not looked at: SerialPort names the port " + settings.serialPort);
  }
  if (!listing.listed || listing.interfaces.empty()) return NoPort(kName, settings, listing);
  std::string found;
  for (const StationInterface& interface : listing.interfaces) {
    if (interface.driver.empty()) {
      return DoctorCheck::Fail(
          kName, "no driver is bound to the base station's interface " + interface.sysPath,
          "sudo modprobe cp210x && echo " + Hex4(settings.vendorId) + " " +
              Hex4(settings.productId) + " | sudo tee /sys/bus/usb-serial/drivers/cp210x/new_id");
    }
    if (interface.driver != "cp210x") {
      const std::string name = interface.sysPath.substr(interface.sysPath.find_last_of('/') + 1);
      return DoctorCheck::Fail(
          kName,
          "the driver " + interface.driver + ", not cp210x, is bound to " + interface.sysPath,
          PlainName(name) && PlainName(interface.driver)
              ? "echo -n " + name + " | sudo tee /sys/bus/usb/drivers/" + interface.driver +
                    "/unbind, then plug the base station in again"
              : std::string("unbind that driver from the interface (its \"unbind\" file in "
                            "/sys/bus/usb/drivers/), then plug the base station in again"));
    }
    if (!found.empty()) found += "; ";
    found += "cp210x is bound to " + interface.sysPath;
  }
  return DoctorCheck::Ok(kName, found);
}

DoctorCheck CheckPortHolders(const DoctorSettings& settings, const StationListing& listing,
                             FileProbe& files, ProcessProbe& processes) {
  constexpr const char* kName = "port holders";
  const std::vector<StationPort> ports = PortsToCheck(settings, listing);
  if (ports.empty()) return NoPort(kName, settings, listing);
  std::string found;
  int hidden = 0;
  std::string hiddenError;
  for (const StationPort& port : ports) {
    const FileFacts facts = files.Status(port.node);
    if (facts.state != FileFacts::State::kPresent || !facts.characterDevice) {
      return DoctorCheck::Warn(kName, "not checked: " + port.node + " is no device",
                               "see the line \"base station tty\"");
    }
    const ProcessListing holders = processes.Holders(port.node);
    if (!holders.listed) {
      return DoctorCheck::Warn(kName, "the processes could not be listed: " + holders.error,
                               "run as root: sudo pelluxctl doctor");
    }
    if (hidden == 0) hiddenError = holders.hiddenError;
    hidden += holders.hidden;
    bool daemon = false;
    for (const ProcessFacts& holder : holders.processes) {
      if (holder.name == kDaemonProgram) {
        daemon = true;
        continue;
      }
      return DoctorCheck::Fail(kName,
                               port.node + " is held open by " + holder.name + " (pid " +
                                   std::to_string(holder.pid) + ": " + holder.command + ")",
                               "end that program, or: sudo kill " + std::to_string(holder.pid));
    }
    if (!found.empty()) found += "; ";
    found += port.node + (daemon ? " is open in the daemon only" : " is open in no process");
  }
  if (hidden > 0) {
    return DoctorCheck::Warn(kName,
                             found + ", but " + std::to_string(hidden) +
                                 " processes could not be looked into (" + hiddenError + ")",
                             "run as root: sudo pelluxctl doctor");
  }
  return DoctorCheck::Ok(kName, found);
}

DoctorCheck CheckPortProbers(const DoctorSettings& settings, const StationListing& listing,
                             ProcessProbe& processes) {
  constexpr const char* kName = "modem probers";
  const std::vector<StationPort> ports = PortsToCheck(settings, listing);
  if (ports.empty()) return NoPort(kName, settings, listing);
  const ProcessListing modemManager = processes.Named("ModemManager");
  const ProcessListing brltty = processes.Named("brltty");
  if (!modemManager.listed || !brltty.listed) {
    return DoctorCheck::Warn(kName,
                             "the processes could not be listed: " +
                                 (modemManager.listed ? brltty.error : modemManager.error),
                             "run as root: sudo pelluxctl doctor");
  }
  if (!modemManager.processes.empty()) {
    for (const StationPort& port : ports) {
      // udev's properties are known only for the ports it found.
      if (!settings.serialPort.empty()) break;
      if (port.modemManagerIgnore != "1") {
        return DoctorCheck::Fail(
            kName,
            "ModemManager (pid " + std::to_string(modemManager.processes.front().pid) +
                ") runs and " + port.node + " lacks ID_MM_DEVICE_IGNORE=1: it may probe the port",
            "install the pellux udev rule, then: " + std::string(kRetrigger));
      }
    }
  }
  if (!brltty.processes.empty()) {
    return DoctorCheck::Warn(kName,
                             "brltty (pid " + std::to_string(brltty.processes.front().pid) +
                                 ") runs: it may take USB serial adapters for braille displays",
                             "without a braille display: sudo systemctl mask brltty-udev.service "
                             "&& sudo systemctl stop brltty.service");
  }
  if (!modemManager.processes.empty()) {
    return DoctorCheck::Ok(kName,
                           "ModemManager runs and leaves the port alone "
                           "(ID_MM_DEVICE_IGNORE=1); brltty does not run");
  }
  return DoctorCheck::Ok(kName, "neither ModemManager nor brltty runs");
}

DoctorCheck CheckServiceUserAccess(const DoctorSettings& settings, const StationListing& listing,
                                   FileProbe& files, AccountProbe& accounts) {
  constexpr const char* kName = "service user access";
  const UserFacts user = accounts.User(kServiceAccount);
  if (user.state == UserFacts::State::kMissing) {
    return DoctorCheck::Fail(kName, "there is no user pellux",
                             "sudo systemd-sysusers (the pellux package makes the user)");
  }
  if (user.state == UserFacts::State::kFailed) {
    return DoctorCheck::Fail(kName, "the user pellux could not be looked up: " + user.error,
                             "check the system's user database (getent passwd pellux)");
  }
  const std::vector<StationPort> ports = PortsToCheck(settings, listing);
  if (ports.empty()) return NoPort(kName, settings, listing);
  std::string found;
  for (const StationPort& port : ports) {
    const FileFacts facts = files.Status(port.node);
    if (facts.state != FileFacts::State::kPresent) {
      return DoctorCheck::Warn(kName, "not checked: " + port.node + " cannot be looked at",
                               "see the line \"base station tty\"");
    }
    if (!UserMayOpen(facts, user, kReadWriteAccess)) {
      return DoctorCheck::Fail(kName,
                               "the user pellux (uid " + std::to_string(user.uid) +
                                   ") cannot open " + port.node + " (" + Owners(facts) + ")",
                               std::string(kRetrigger));
    }
    if (!found.empty()) found += "; ";
    found += "the user pellux may open " + port.node;
  }
  return DoctorCheck::Ok(kName, found);
}

}  // namespace Pellux
