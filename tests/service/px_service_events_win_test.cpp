// The service's device, power and session events as the control handler hands them over, on
// the real PXService running in this process (Wine's service manager delivers no device
// arrival): a base station's interface name becomes "basestationconnect" with its serial,
// another device leaves lines only, a suspend lets the station in use go and a resume connects
// it again, session changes are logged, and unknown events are named as such.

#include <dbt.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "service/px_service_win.h"
#include "sim/memory_settings_store.h"
#include "sim/reference_server.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/eventually.h"
#include "tests/ui/log/memory_log_folder.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// The service with its operations open to the test, as service main and the control handler
// call them.
class EventedService final : public PXService {
 public:
  using PXService::OnDeviceEvent;
  using PXService::OnPowerEvent;
  using PXService::OnSessionChange;
  using PXService::OnStop;
  using PXService::PXService;
  using PXService::Run;
};

// A DEV_BROADCAST_DEVICEINTERFACE_W with `name`, as the system hands it over.
std::vector<std::uint8_t> InterfaceEvent(const std::wstring& name) {
  std::vector<std::uint8_t> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) +
                                  name.size() * sizeof(wchar_t));
  auto* event = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  event->dbcc_size = static_cast<DWORD>(bytes.size());
  event->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(event->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  return bytes;
}

// A header of another device type (a volume), which has no interface name.
std::vector<std::uint8_t> VolumeEvent() {
  std::vector<std::uint8_t> bytes(sizeof(DEV_BROADCAST_VOLUME));
  auto* event = reinterpret_cast<DEV_BROADCAST_VOLUME*>(bytes.data());
  event->dbcv_size = static_cast<DWORD>(bytes.size());
  event->dbcv_devicetype = DBT_DEVTYP_VOLUME;
  return bytes;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Settings for the service: the reference server on loopback, the activity log on. Written
// before the service is made, which reads them as it is made.
struct ServiceSettings {
  explicit ServiceSettings(std::uint16_t port) {
    store.WriteText("Tracker", "ServerHost", "127.0.0.1");
    store.WriteNumber("Tracker", "ServerPort", port);
    store.WriteText("Tracker", "ErrorHost", "127.0.0.1");
    store.WriteNumber("Tracker", "ErrorPort", port);
    store.WriteNumber("Tracker", "LogActivity", 1);
    store.WriteNumber("Tracker", "MaxLogDays", 1);
  }
  MemorySettingsStore store;
};

class PelluxServiceEvents : public testing::Test {
 protected:
  PelluxServiceEvents() { bus_.Attach(station_, 0x10C4, 0x84C4); }
  ~PelluxServiceEvents() override { server_.Stop(); }

  // The activity log from `from` on, once `lines` are all there in this order; the end of the
  // last is kept in `from`. Empty when they do not come.
  std::string LinesInOrder(const std::vector<std::string>& lines, std::size_t& from) {
    std::size_t end = from;
    const bool found = Eventually([&] {
      const std::string text = Log();
      std::size_t at = from;
      for (const std::string& line : lines) {
        at = text.find(line, at);
        if (at == std::string::npos) return false;
        at += line.size();
      }
      end = at;
      return true;
    });
    if (!found) return {};
    const std::string text = Log().substr(from, end - from);
    from = end;
    return text;
  }

  std::string Log() const {
    const auto names = logs_.Names();
    return names.empty() ? std::string() : logs_.Contents(names.back());
  }

  ReferenceServer server_;
  ServiceSettings settings_{server_.Port()};
  VirtualBaseStation station_{SystemClock::Instance()};
  VirtualDeviceBus bus_;
  MemoryLogFolder* folder_ = new MemoryLogFolder(SystemClock::Instance(), "C:\\logs");
  MemoryLogFolder& logs_ = *folder_;
  EventedService service_{
      {.settings = settings_.store,
       .devices = bus_,
       .clock = SystemClock::Instance(),
       .programFolder = std::string("Z:") + PELLUX_SOURCE_DIR,
       .pipeName = "\\\\.\\pipe\\pellux-events-" + std::to_string(GetCurrentProcessId()),
       .logFolder = std::unique_ptr<LogFolder>(folder_)}};
};

TEST_F(PelluxServiceEvents, DevicePowerAndSessionEventsBecomeTheirLinesAndActions) {
  ASSERT_TRUE(service_.Interface().Activity().Open());
  std::thread running([&] { EXPECT_TRUE(service_.Run()); });
  ASSERT_TRUE(Eventually([&] { return !service_.Engine().SerialInUse().empty(); }))
      << "the service's session never opened its base station\n"
      << Log();
  const std::string inUse = service_.Engine().SerialInUse();
  std::size_t from = Log().size();

  // A base station's arrival, its name in lower case: the action with the serial upper-cased.
  auto arrival = InterfaceEvent(L"\\\\?\\usb#vid_10c4&pid_84c4#ab4021337#{a5dcbf10-6530-11d2}");
  EXPECT_EQ(service_.OnDeviceEvent(DBT_DEVICEARRIVAL, arrival.data()), 0u);
  const std::string arrived =
      LinesInOrder({"[DEVICE EVENT] event:0x00008000 data:0x",
                    "Device info: \\\\?\\usb#vid_10c4&pid_84c4#ab4021337#{a5dcbf10-6530-11d2}",
                    "Processing action 'basestationconnect'...",
                    "Base station with serial 'AB4021337' has been plugged in."},
                   from);
  EXPECT_FALSE(arrived.empty()) << Log();

  // Another device leaves, and a volume comes: their lines, no action.
  const std::size_t actions = Count(Log(), "Processing action");
  auto other = InterfaceEvent(L"\\\\?\\USB#VID_046D&PID_C077#5&1#{a5dcbf10-6530-11d2}");
  EXPECT_EQ(service_.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, other.data()), 0u);
  auto volume = VolumeEvent();
  EXPECT_EQ(service_.OnDeviceEvent(DBT_DEVICEARRIVAL, volume.data()), 0u);
  // A name that fits the prefix but not the serial's form: the action, with no serial.
  auto bare = InterfaceEvent(L"\\\\?\\USB#VID_10C4&PID_84C4#");
  EXPECT_EQ(service_.OnDeviceEvent(DBT_DEVICEREMOVECOMPLETE, bare.data()), 0u);
  const std::string others = LinesInOrder(
      {"[DEVICE EVENT] event:0x00008004 data:0x",
       "Device info: \\\\?\\USB#VID_046D&PID_C077#5&1#{a5dcbf10-6530-11d2}",
       "[DEVICE EVENT] event:0x00008000 data:0x", "[DEVICE EVENT] event:0x00008004 data:0x",
       "Device info: \\\\?\\USB#VID_10C4&PID_84C4#", "Processing action 'basestationdisconnect'...",
       "Base station with serial '' has been unplugged."},
      from);
  ASSERT_FALSE(others.empty()) << Log();
  EXPECT_EQ(Count(others, "Processing action"), 1u) << others;
  EXPECT_EQ(Count(others, "Device info:"), 2u) << "a volume has no interface name\n" << others;
  EXPECT_EQ(Count(Log(), "Processing action"), actions + 1);

  // A suspend lets the station in use go; the resume asks for it again by the serial in use.
  EXPECT_EQ(service_.OnPowerEvent(PBT_APMSUSPEND, nullptr), 0u);
  EXPECT_FALSE(
      LinesInOrder({"[POWER EVENT] SUSPEND", "Processing action 'basestationdisconnect'...",
                    "Base station with serial '" + inUse + "' has been unplugged."},
                   from)
          .empty())
      << Log();
  const std::string atResume = service_.Engine().SerialInUse();
  EXPECT_EQ(service_.OnPowerEvent(PBT_APMRESUMESUSPEND, nullptr), 0u);
  EXPECT_FALSE(
      LinesInOrder({"[POWER EVENT] RESUME SUSPEND", "Processing action 'basestationconnect'...",
                    "Base station with serial '" + atResume + "' has been plugged in."},
                   from)
          .empty())
      << Log();

  // Session changes and unknown events: lines only.
  const std::size_t beforeSessions = Count(Log(), "Processing action");
  EXPECT_EQ(service_.OnPowerEvent(PBT_APMPOWERSTATUSCHANGE, nullptr), 0u);
  EXPECT_EQ(service_.OnSessionChange(WTS_SESSION_LOCK, nullptr), 0u);
  EXPECT_EQ(service_.OnSessionChange(WTS_SESSION_UNLOCK, nullptr), 0u);
  EXPECT_EQ(service_.OnSessionChange(0x63, nullptr), 0u);
  EXPECT_EQ(service_.OnPowerEvent(0x2A, nullptr), 0u);
  EXPECT_FALSE(LinesInOrder({"[POWER EVENT] POWER STATUS CHANGE", "[POWER EVENT] SESSION LOCK",
                             "[POWER EVENT] SESSION UNLOCK",
                             "[POWER EVENT] UNKNOWN SESSION EVENT -- event:0x00000063 data:0x",
                             "[POWER EVENT] UNKNOWN POWER EVENT -- event:0x0000002a data:0x"},
                            from)
                   .empty())
      << Log();
  EXPECT_EQ(Count(Log(), "Processing action"), beforeSessions);

  service_.OnStop();
  running.join();
  EXPECT_FALSE(
      LinesInOrder({"SERVICE STOP EVENT", "Processing action 'shutdown'..."}, from).empty())
      << Log();
}

}  // namespace
}  // namespace Pellux
