#include "service/daemon_event_sources_linux.h"

#include "base/context.h"
#include "service/host_events.h"

namespace Pellux {

DaemonEventSources::DaemonEventSources(LinuxDaemon& daemon, DeviceLog deviceLog)
    : hotplug_(
          [&daemon](const UsbHotplugMonitor::Event& event) {
            const ClientSettings wanted = daemon.Engine().Settings();
            daemon.Apply(TranslateSerialPortEvent(
                {event.kind == UsbHotplugMonitor::Event::Kind::Arrived, event.port.node,
                 event.port.vendorId, event.port.productId, event.port.serial, event.port.product},
                wanted.vendorId, wanted.productId));
          },
          std::move(deviceLog)),
      sleep_(
          [&daemon](bool suspending) {
            daemon.Apply(TranslatePowerEvent(suspending ? kPowerSuspend : kPowerResumeSuspend, 0,
                                             daemon.Engine().SerialInUse()));
          },
          [&daemon](const std::string& line) {
            daemon.Interface().Log("No sleep and wake events: " + line, 6, kNoContext);
          }) {}

void DaemonEventSources::Start() {
  hotplug_.Start();
  sleep_.Start();
}

void DaemonEventSources::Stop() {
  sleep_.Stop();
  hotplug_.Stop();
}

}  // namespace Pellux
