// Whatever UIs write to the service's endpoint reaches the service pipe's message handling:
// arbitrary bytes, split into several messages at 0x1E, each from one of four senders (root and
// three users, picked by the message's last byte), with the watchdog's time moving between
// them. The handling must not crash, must hand the engine only contexts it interned for the
// sender that named them, must never apply a logging or proxy message of a user who is not an
// administrator, and must keep its memory bounded however many inputs come (the names are let
// go, and capped per user).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/virtual_clock.h"
#include "tests/support/recording_pipe_hooks.h"
#include "tests/support/recording_session_control.h"
#include "ui/channel/service_pipe.h"
#include "ui/channel/status_record.h"

namespace {

struct World {
  Pellux::VirtualClock clock;
  Pellux::RecordingSessionControl engine;
  Pellux::RecordingPipeHooks hooks;
  const Pellux::UiSender senders[4] = {Pellux::RootSender(), Pellux::UserSender(1000),
                                       Pellux::UserSender(1001), Pellux::UserSender(65534)};
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
    const Pellux::UiSender& sender =
        world.senders[message.empty() ? 0 : static_cast<unsigned char>(message.back()) % 4];
    const std::size_t applied = world.hooks.Logging().size() + world.hooks.Proxies().size();
    const std::size_t acted = world.engine.Actions().size();
    world.pipe.OnMessage(sender, message);
    // Each action carries the context of its sender's name, and it is the sender's.
    const auto actions = world.engine.Actions();
    for (std::size_t i = acted; i < actions.size(); ++i) {
      const Pellux::Context context = actions[i].context;
      if (context == Pellux::kNoContext || !(context->sender == sender) ||
          world.pipe.ContextFor(sender, context->name) != context) {
        std::abort();
      }
    }
    if (!sender.system && world.hooks.Logging().size() + world.hooks.Proxies().size() != applied) {
      std::abort();
    }
    // The first byte of the message picks how far time moves before the next one.
    const int step = message.empty() ? 0 : static_cast<unsigned char>(message[0]) % 8;
    world.clock.Advance(std::chrono::milliseconds(step * 1000));
    if (cut == std::string_view::npos) break;
    input.remove_prefix(cut + 1);
  }
  for (const auto& line : world.hooks.Lines()) {
    if (line.level < 0 || line.level > 8) std::abort();
    // UI text never brings its own line breaks (the proxy line's are ours, after a tab).
    for (std::size_t at = line.text.find('\n'); at != std::string::npos;
         at = line.text.find('\n', at + 1)) {
      if (at + 1 >= line.text.size() || line.text[at + 1] != '\t') {
        std::fprintf(stderr, "a line break of the UI's: %s\n", line.text.c_str());
        std::abort();
      }
    }
  }
  // Every status record the pipe sends reads back.
  for (const auto& record : world.hooks.Records()) {
    if (!Pellux::DecodeStatusRecord(record.text)) std::abort();
  }
  if (world.hooks.endpoints.Size() > 4 * Pellux::ReplyEndpoints::kMaxPerUser) std::abort();
  world.engine.ClearActions();
  world.hooks.Clear();
  return 0;
}
