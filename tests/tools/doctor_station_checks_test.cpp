// The base station's checks over stand-in probes: a working station, changed one way per row,
// one table of outcomes per check.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/tools/doctor_fakes.h"
#include "tools/pelluxctl/doctor/station_checks.h"

namespace Pellux {
namespace {

constexpr std::uint32_t kPelluxId = 998;

// A station as the package sets it up: the rule in /usr/lib, the tty /dev/ttyUSB0 with the group
// pellux and mode 0660, cp210x bound, ModemManager told to leave it alone, the user pellux.
struct World {
  World() {
    files.AddFile("/usr/lib/udev/rules.d/60-pellux.rules",
                  "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"84c4\", "
                  "GROUP=\"pellux\", MODE=\"0660\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
    files.AddDevice("/dev/ttyUSB0", 0, kPelluxId, 0660);
    accounts.AddGroup("pellux", kPelluxId);
    accounts.AddUser("pellux", kPelluxId, kPelluxId, {kPelluxId});
    listing.listed = true;
    listing.interfaces.push_back({"/sys/devices/usb1/1-1/1-1:1.0", "cp210x"});
    StationPort port;
    port.node = "/dev/ttyUSB0";
    port.ttySysPath = "/sys/devices/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0";
    port.modemManagerIgnore = "1";
    listing.ports.push_back(port);
  }
  DoctorSettings settings;
  StationListing listing;
  FakeFileProbe files;
  FakeAccountProbe accounts;
  FakeProcessProbe processes;
};

struct Case {
  const char* what;
  std::function<void(World&)> change;
  DoctorStatus status;
  const char* found;
  const char* fix;
};

void Expect(const Case& c, const DoctorCheck& check) {
  EXPECT_EQ(check.status, c.status) << check.found;
  EXPECT_NE(check.found.find(c.found), std::string::npos) << check.found;
  if (*c.fix == '\0') {
    EXPECT_EQ(check.fix, "");
  } else {
    EXPECT_NE(check.fix.find(c.fix), std::string::npos) << check.fix;
  }
}

template <typename Check>
void RunTable(const std::vector<Case>& cases, Check check) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    if (c.change) c.change(world);
    Expect(c, check(world));
  }
}

TEST(DoctorUdevRule, InstalledMaskedMissingOrForOtherIds) {
  RunTable(
      {
          {"installed by the package", nullptr, DoctorStatus::kOk,
           "/usr/lib/udev/rules.d/60-pellux.rules is installed and names 10c4:84c4", ""},
          {"copied to /etc",
           [](World& w) {
             w.files.AddFile("/etc/udev/rules.d/60-pellux.rules",
                             w.files.texts["/usr/lib/udev/rules.d/60-pellux.rules"].text);
           },
           DoctorStatus::kOk, "/etc/udev/rules.d/60-pellux.rules is installed", ""},
          {"missing", [](World& w) { w.files.facts.clear(); }, DoctorStatus::kFail,
           "60-pellux.rules is not installed", "install the pellux package"},
          {"masked by an empty file in /etc",
           [](World& w) { w.files.AddFile("/etc/udev/rules.d/60-pellux.rules", ""); },
           DoctorStatus::kFail, "/etc/udev/rules.d/60-pellux.rules masks the rule",
           "sudo rm /etc/udev/rules.d/60-pellux.rules"},
          {"masked by /dev/null",
           [](World& w) {
             w.files.AddDevice("/etc/udev/rules.d/60-pellux.rules", 0, 0, 0666, 1, 3);
           },
           DoctorStatus::kFail, "masks the rule", "sudo rm"},
          {"unreadable",
           [](World& w) {
             w.files.texts["/usr/lib/udev/rules.d/60-pellux.rules"].state =
                 FileText::State::kFailed;
             w.files.texts["/usr/lib/udev/rules.d/60-pellux.rules"].error =
                 "open(x) failed: errno 13 (Permission denied) [EACCES]";
           },
           DoctorStatus::kFail, "cannot be read: open(x) failed: errno 13", "every user"},
          {"far too large",
           [](World& w) {
             w.files.texts["/usr/lib/udev/rules.d/60-pellux.rules"].state =
                 FileText::State::kTooLarge;
           },
           DoctorStatus::kFail, "is larger than 65536 bytes: no rule of ours", "--reinstall"},
          {"other ids with an adapter rule",
           [](World& w) {
             w.settings.vendorId = 0x0fcf;
             w.settings.productId = 0x1008;
             w.files.AddFile("/etc/udev/rules.d/61-pellux-adapter.rules",
                             "ATTRS{idVendor}==\"0fcf\", ATTRS{idProduct}==\"1008\"");
           },
           DoctorStatus::kOk,
           "60-pellux.rules is installed; /etc/udev/rules.d/61-pellux-adapter.rules names "
           "0fcf:1008",
           ""},
          {"other ids, an adapter rule for yet others",
           [](World& w) {
             w.settings.vendorId = 0x0fcf;
             w.files.AddFile("/etc/udev/rules.d/61-pellux-adapter.rules",
                             "ATTRS{idVendor}==\"1234\", ATTRS{idProduct}==\"5678\"");
           },
           DoctorStatus::kWarn, "does not name the configured base station 0fcf:84c4",
           "61-pellux-adapter.rules"},
          {"other ids configured", [](World& w) { w.settings.vendorId = 0x0fcf; },
           DoctorStatus::kWarn, "does not name the configured base station 0fcf:84c4",
           "61-pellux-adapter.rules"},
      },
      [](World& w) { return CheckUdevRule(w.settings, w.files); });
}

TEST(DoctorStationTty, PresentWithTheRulesGroupAndModeOrNot) {
  RunTable(
      {
          {"as the rule makes it", nullptr, DoctorStatus::kOk,
           "/dev/ttyUSB0 has owner 0, group 998, mode 0660", ""},
          {"not listed",
           [](World& w) {
             w.listing = {false, "udev_new failed: errno 12", {}, {}};
           },
           DoctorStatus::kFail, "could not be listed: udev_new failed", "systemd-udevd"},
          {"not plugged in",
           [](World& w) {
             w.listing = {true, "", {}, {}};
           },
           DoctorStatus::kFail, "no base station 10c4:84c4 is plugged in",
           "plug the base station in"},
          {"plugged in without a tty", [](World& w) { w.listing.ports.clear(); },
           DoctorStatus::kFail, "has no tty", "driver"},
          {"without a node", [](World& w) { w.listing.ports[0].node.clear(); }, DoctorStatus::kFail,
           "ttyUSB0 has no device node", "udevadm trigger"},
          {"node gone", [](World& w) { w.files.facts.erase("/dev/ttyUSB0"); }, DoctorStatus::kFail,
           "/dev/ttyUSB0 does not exist", "udevadm trigger"},
          {"wrong group", [](World& w) { w.files.AddDevice("/dev/ttyUSB0", 0, 20, 0660); },
           DoctorStatus::kFail, "group 20, mode 0660; the rule gives group pellux (998), mode 0660",
           "sudo udevadm control --reload-rules"},
          {"wrong mode", [](World& w) { w.files.AddDevice("/dev/ttyUSB0", 0, kPelluxId, 0600); },
           DoctorStatus::kFail, "mode 0600", "udevadm trigger"},
          {"no group pellux", [](World& w) { w.accounts.groups.clear(); }, DoctorStatus::kFail,
           "there is no group pellux", "systemd-sysusers"},
          {"SerialPort names a device",
           [](World& w) {
             w.settings.serialPort = "/dev/ttyACM3";
             w.listing = {true, "", {}, {}};
             w.files.AddDevice("/dev/ttyACM3", 0, kPelluxId, 0660, 166, 3);
           },
           DoctorStatus::kOk, "/dev/ttyACM3 has owner 0, group 998", ""},
          {"SerialPort names nothing", [](World& w) { w.settings.serialPort = "/dev/ttyACM3"; },
           DoctorStatus::kFail, "/dev/ttyACM3 does not exist", "correct SerialPort"},
          {"SerialPort names a file",
           [](World& w) {
             w.settings.serialPort = "/tmp/x";
             w.files.AddFile("/tmp/x", "");
           },
           DoctorStatus::kFail, "/tmp/x is no character device", "correct SerialPort"},
      },
      [](World& w) { return CheckStationTty(w.settings, w.listing, w.files, w.accounts); });
}

TEST(DoctorStationDriver, Cp210xBoundOrNot) {
  RunTable(
      {
          {"bound", nullptr, DoctorStatus::kOk, "cp210x is bound to /sys/devices/usb1/1-1/1-1:1.0",
           ""},
          {"no driver", [](World& w) { w.listing.interfaces[0].driver.clear(); },
           DoctorStatus::kFail, "no driver is bound to the base station's interface",
           "sudo modprobe cp210x && echo 10c4 84c4 | sudo tee "
           "/sys/bus/usb-serial/drivers/cp210x/new_id"},
          {"another driver", [](World& w) { w.listing.interfaces[0].driver = "usbfs"; },
           DoctorStatus::kFail, "the driver usbfs, not cp210x",
           "echo -n 1-1:1.0 | sudo tee /sys/bus/usb/drivers/usbfs/unbind"},
          {"another driver with a name that is no plain word",
           [](World& w) { w.listing.interfaces[0].driver = "x; rm -rf /"; }, DoctorStatus::kFail,
           "the driver x; rm -rf /, not cp210x", "its \"unbind\" file in /sys/bus/usb/drivers/"},
          {"not plugged in",
           [](World& w) {
             w.listing = {true, "", {}, {}};
           },
           DoctorStatus::kWarn, "not checked: no port of a base station 10c4:84c4",
           "base station tty"},
          {"SerialPort", [](World& w) { w.settings.serialPort = "/dev/ttyACM0"; },
           DoctorStatus::kOk, "SerialPort names the port /dev/ttyACM0", ""},
      },
      [](World& w) { return CheckStationDriver(w.settings, w.listing); });
}

ProcessListing Holding(std::vector<ProcessFacts> processes, int hidden = 0) {
  ProcessListing listing;
  listing.listed = true;
  listing.processes = std::move(processes);
  listing.hidden = hidden;
  if (hidden > 0) listing.hiddenError = "opendir(/proc/1/fd) failed: errno 13";
  return listing;
}

TEST(DoctorPortHolders, TheDaemonMayHoldThePortNoOneElse) {
  RunTable(
      {
          {"free", nullptr, DoctorStatus::kOk, "/dev/ttyUSB0 is open in no process", ""},
          {"the daemon",
           [](World& w) {
             w.processes.holders["/dev/ttyUSB0"] =
                 Holding({{812, "uplinker", "/usr/libexec/uplinker"}});
           },
           DoctorStatus::kOk, "open in the daemon only", ""},
          {"another program",
           [](World& w) {
             w.processes.holders["/dev/ttyUSB0"] =
                 Holding({{812, "uplinker", "/usr/libexec/uplinker"},
                          {4242, "minicom", "minicom -D /dev/ttyUSB0"}});
           },
           DoctorStatus::kFail, "held open by minicom (pid 4242: minicom -D /dev/ttyUSB0)",
           "sudo kill 4242"},
          {"hidden processes",
           [](World& w) { w.processes.holders["/dev/ttyUSB0"] = Holding({}, 3); },
           DoctorStatus::kWarn,
           "3 processes could not be looked into (opendir(/proc/1/fd) failed: errno 13)",
           "sudo pelluxctl doctor"},
          {"no /proc", [](World& w) { w.processes.listed = false; }, DoctorStatus::kWarn,
           "could not be listed: opendir(/proc) failed", "sudo"},
          {"not plugged in",
           [](World& w) {
             w.listing = {true, "", {}, {}};
           },
           DoctorStatus::kWarn, "not checked", "base station tty"},
      },
      [](World& w) { return CheckPortHolders(w.settings, w.listing, w.files, w.processes); });
}

TEST(DoctorPortProbers, ModemManagerWithoutTheIgnoreMarkAndBrltty) {
  RunTable(
      {
          {"neither runs", nullptr, DoctorStatus::kOk, "neither ModemManager nor brltty runs", ""},
          {"ModemManager, port marked",
           [](World& w) {
             w.processes.running["ModemManager"] = {{700, "ModemManager", "mm"}};
           },
           DoctorStatus::kOk, "leaves the port alone", ""},
          {"ModemManager, port unmarked",
           [](World& w) {
             w.processes.running["ModemManager"] = {{700, "ModemManager", "mm"}};
             w.listing.ports[0].modemManagerIgnore.reset();
           },
           DoctorStatus::kFail,
           "ModemManager (pid 700) runs and /dev/ttyUSB0 lacks ID_MM_DEVICE_IGNORE=1",
           "install the pellux udev rule"},
          {"ModemManager, port marked 0",
           [](World& w) {
             w.processes.running["ModemManager"] = {{700, "ModemManager", "mm"}};
             w.listing.ports[0].modemManagerIgnore = "0";
           },
           DoctorStatus::kFail, "lacks ID_MM_DEVICE_IGNORE=1", "udevadm trigger"},
          {"unmarked, ModemManager not running",
           [](World& w) { w.listing.ports[0].modemManagerIgnore.reset(); }, DoctorStatus::kOk,
           "neither", ""},
          {"brltty",
           [](World& w) {
             w.processes.running["brltty"] = {{701, "brltty", "brltty"}};
           },
           DoctorStatus::kWarn, "brltty (pid 701) runs", "mask brltty-udev.service"},
          {"no /proc", [](World& w) { w.processes.listed = false; }, DoctorStatus::kWarn,
           "could not be listed", "sudo"},
      },
      [](World& w) { return CheckPortProbers(w.settings, w.listing, w.processes); });
}

TEST(DoctorServiceUserAccess, OwnerGroupAndModeAgainstTheUsersGroups) {
  RunTable(
      {
          {"by the group", nullptr, DoctorStatus::kOk, "the user pellux may open /dev/ttyUSB0", ""},
          {"by a supplementary group",
           [](World& w) {
             w.files.AddDevice("/dev/ttyUSB0", 0, 20, 0660);
             w.accounts.AddUser("pellux", kPelluxId, kPelluxId, {kPelluxId, 20});
           },
           DoctorStatus::kOk, "may open", ""},
          {"group without write",
           [](World& w) { w.files.AddDevice("/dev/ttyUSB0", 0, kPelluxId, 0640); },
           DoctorStatus::kFail,
           "the user pellux (uid 998) cannot open /dev/ttyUSB0 (owner 0, group "
           "998, mode 0640)",
           "udevadm trigger"},
          {"another group", [](World& w) { w.files.AddDevice("/dev/ttyUSB0", 0, 20, 0660); },
           DoctorStatus::kFail, "cannot open", "udevadm"},
          {"owner without write, group with",
           [](World& w) { w.files.AddDevice("/dev/ttyUSB0", kPelluxId, kPelluxId, 0460); },
           DoctorStatus::kFail, "cannot open", "udevadm"},
          {"owned by pellux",
           [](World& w) { w.files.AddDevice("/dev/ttyUSB0", kPelluxId, 0, 0600); },
           DoctorStatus::kOk, "may open", ""},
          {"open to all", [](World& w) { w.files.AddDevice("/dev/ttyUSB0", 0, 0, 0666); },
           DoctorStatus::kOk, "may open", ""},
          {"no user", [](World& w) { w.accounts.users.clear(); }, DoctorStatus::kFail,
           "there is no user pellux", "systemd-sysusers"},
          {"no port",
           [](World& w) {
             w.listing = {true, "", {}, {}};
           },
           DoctorStatus::kWarn, "not checked", "base station tty"},
      },
      [](World& w) { return CheckServiceUserAccess(w.settings, w.listing, w.files, w.accounts); });
}

}  // namespace
}  // namespace Pellux
