// Whatever UIs write to the service's endpoint reaches the service pipe's message handling:
// arbitrary bytes, split into several messages at 0x1E, with the watchdog's time moving between
// them. The handling must not crash, must hand the engine only contexts of names it interned,
// and must keep its memory bounded however many inputs come (the name table has a cap).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sim/virtual_clock.h"
#include "tests/support/recording_pipe_hooks.h"
#include "tests/support/recording_session_control.h"
#include "ui/channel/service_pipe.h"

namespace {

struct World {
  Pellux::VirtualClock clock;
  Pellux::RecordingSessionControl engine;
  Pellux::RecordingPipeHooks hooks;
  Pellux::ServicePipe pipe{engine, hooks, clock, nullptr};
};

World& TheWorld() {
  // Kept across inputs, as the service keeps its pipe: names interned by one input stay.
  static World* world = new World;
  return *world;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& world = TheWorld();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (true) {
    const std::size_t cut = input.find('\x1e');
    const std::string_view message = input.substr(0, cut);
    world.pipe.OnMessage(message);
    // The first byte of the message picks how far time moves before the next one.
    const int step = message.empty() ? 0 : static_cast<unsigned char>(message[0]) % 8;
    world.clock.Advance(std::chrono::milliseconds(step * 1000));
    if (cut == std::string_view::npos) break;
    input.remove_prefix(cut + 1);
  }
  for (const auto& action : world.engine.Actions()) {
    if (action.context == Pellux::kNoContext) continue;
    if (world.pipe.ContextFor(*action.context) != action.context) std::abort();
  }
  for (const auto& line : world.hooks.Lines()) {
    if (line.level < 0 || line.level > 8) std::abort();
  }
  world.engine.ClearActions();
  world.hooks.Clear();
  return 0;
}
