// Feeds arbitrary ANT messages, as the pump would hand them over, to the engine's radio side:
// configuration answers, channel events, beacons, acknowledged and burst data in any order and
// of any length. The engine runs on a virtual clock that never moves, without a base station,
// so every input meets the same fresh engine; nothing may crash, hang or leak, and the radio's
// bookkeeping must stay sane.
//
// Input layout: byte 0 picks the link state the radio starts in (low three bits) and whether a
// running operation is outstanding (bit 3); then messages as [id][length][data], the length cut
// to what is left and to the 20 bytes a message can hold.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/ant_radio.h"
#include "session/communication_manager.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"

namespace Pellux {
namespace {

void Require(bool holds, const char* invariant) {
  if (!holds) {
    std::fprintf(stderr, "fuzz_ant_radio.cpp: invariant broken: %s\n", invariant);
    std::abort();
  }
}

class QuietUserInterface final : public UserInterface {
 public:
  QuietUserInterface() : UserInterface(store) {}
  bool ShowErrorList(int, const std::vector<std::string>&, Context) override { return true; }
  bool DisplayHtml(const std::string&, Context, int, int) override { return true; }
  void SendRequest(NetworkRequest, Context) override {}
  void Log(const std::string&, int, Context) override {}
  bool Relaunch(std::uint16_t, std::uint16_t) override { return true; }
  std::string GetOsDescription() override { return "Fuzz OS"; }
  std::string GetClientId() override { return "fuzz"; }
  std::string GetLocale(Context) override { return "en_US"; }

  MemorySettingsStore store;
};

// No base station is ever attached.
class NoDevices final : public BaseStationDevices {
 public:
  std::vector<BaseStationCandidate> Candidates() override { return {}; }
  std::shared_ptr<DSISerial> CreateTransport() override { return nullptr; }
  void RestartDevices(std::uint16_t, std::uint16_t) override {}
};

}  // namespace
}  // namespace Pellux

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Pellux;
  if (size == 0) return 0;
  VirtualClock clock;
  QuietUserInterface ui;
  NoDevices devices;
  LinkIdentifiers identifiers(1);
  {
    AntRadio* made = nullptr;
    CommunicationManager manager(
        &ui,
        [&](RadioEvents& events) {
          auto radio = std::make_unique<AntRadio>(events, ui, devices, clock, identifiers,
                                                  AntRadio::Timing{});
          made = radio.get();
          return radio;
        },
        clock);
    AntRadio& radio = *made;
    manager.ProcessAction(0, "init", "standard", false, kNoContext);
    manager.RunLocked([&] {
      radio.SetLinkState(static_cast<LinkState>(data[0] % 7));
      if ((data[0] & 0x08) != 0) {
        ServerResponse instruction;
        instruction.host = "srv";
        instruction.action = "command";
        auto command = std::make_shared<Command>();
        command->packet =
            std::make_shared<CommandPacket>(LogicalPacket(PacketHeader{0x22, 1, 0, 0, 0, 0, 0}));
        command->payload.assign(700, 0x5A);
        instruction.remoteOps.push_back(command);
        manager.ProcessRequest(instruction);
      }
    });

    std::size_t at = 1;
    while (at + 2 <= size) {
      AntMessage message;
      message.id = data[at];
      const std::size_t wanted = data[at + 1];
      at += 2;
      const std::size_t length = std::min({wanted, size - at, kAntMaxDataSize});
      std::copy_n(data + at, length, message.data.begin());
      at += length;
      manager.RunLocked([&] {
        radio.ProcessAntMessage(message, static_cast<std::uint8_t>(length));
        Require(radio.PendingAcknowledgements() >= 0, "pending acknowledgements below zero");
        Require(radio.QueuedPackets() < 100000, "outgoing queue without bound");
      });
    }
  }
  return 0;
}
