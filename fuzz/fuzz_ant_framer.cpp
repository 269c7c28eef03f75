// Feeds arbitrary bytes from the base station through the ANT framer, draining it now and then
// as the pump does, and checks every outcome against a second, independent reading of the same
// stream: only whole messages of at most 20 data bytes, error 3 for longer ones, or the errors
// posted, in the order the framer promises.
//
// Input layout: byte 0 sets how often the queue is drained (every 1 to 64 stream bytes), byte 1
// the maximum length handed to GetMessage, byte 2 where a transport error is injected (0:
// never); the rest is the byte stream.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "device/ant_message.h"
#include "device/dsi_framer_ant.h"

namespace Pellux {
namespace {

// Stops the run on a broken invariant, so that libFuzzer keeps the input that broke it.
void Require(bool holds, const char* invariant, int line) {
  if (!holds) {
    std::fprintf(stderr, "fuzz_ant_framer.cpp:%d: invariant broken: %s\n", line, invariant);
    std::abort();
  }
}
#define PELLUX_REQUIRE(invariant) Require((invariant), #invariant, __LINE__)

constexpr std::size_t kLongestData = 29;  // the most a length byte that passes lets through

struct Expected {
  std::uint8_t length = 0;
  std::uint8_t id = 0;
  std::array<std::uint8_t, kLongestData> data{};
};

struct Completion {
  std::size_t position = 0;  // index of the byte that completed the frame
  bool goodChecksum = false;
  Expected message;
};

// The reference reading: looks at the stream as a whole, frame by frame, rather than byte by
// byte. A frame whose checksum byte has not arrived yet completes nothing.
std::vector<Completion> ReadFrames(std::span<const std::uint8_t> stream) {
  std::vector<Completion> completions;
  std::size_t at = 0;
  while (at < stream.size()) {
    if (stream[at] != kAntSync) {
      ++at;
      continue;
    }
    if (at + 1 >= stream.size()) break;
    const std::size_t length = stream[at + 1];
    if (length > kLongestData) {
      // Not a length; a sync value in its place is the next frame's start.
      at += stream[at + 1] == kAntSync ? 1 : 2;
      continue;
    }
    const std::size_t checksumAt = at + 3 + length;
    if (checksumAt >= stream.size()) break;
    std::uint8_t exclusiveOr = 0;
    for (std::size_t i = at; i <= checksumAt; ++i) exclusiveOr ^= stream[i];
    Completion completion;
    completion.position = checksumAt;
    completion.goodChecksum = exclusiveOr == 0;
    completion.message.length = static_cast<std::uint8_t>(length);
    completion.message.id = stream[at + 2];
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at + 3), length,
                completion.message.data.begin());
    completions.push_back(completion);
    at = checksumAt + 1;
  }
  return completions;
}

struct PostedError {
  std::uint8_t kind = 0;
  std::uint8_t code = 0;
};

// What the framer should hold: the queue and the one error slot.
struct Model {
  std::deque<Expected> queue;
  std::optional<PostedError> error;
};

void CheckWait(DSIFramerANT& framer, const Model& model) {
  const std::uint16_t waited = framer.WaitForMessage(0);
  if (model.error) {
    PELLUX_REQUIRE(waited == DSIFramer::kFramerError);
  } else if (model.queue.empty()) {
    PELLUX_REQUIRE(waited == DSIFramer::kTimedOut);
  } else {
    PELLUX_REQUIRE(waited == model.queue.front().length);
    PELLUX_REQUIRE(waited <= kLongestData);
  }
}

// Takes everything out, checking each outcome against the model.
void Drain(DSIFramerANT& framer, Model& model, std::uint8_t maxLength) {
  for (;;) {
    CheckWait(framer, model);
    AntMessage out;
    out.data.fill(0xEE);
    const std::uint16_t result = framer.GetMessage(out, maxLength);
    if (model.error) {
      PELLUX_REQUIRE(result == DSIFramer::kFramerError);
      PELLUX_REQUIRE(out.id == model.error->kind);
      if (model.error->kind == DSIFramerANT::kErrorReported) {
        PELLUX_REQUIRE(out.data[0] == model.error->code);
      }
      model.error.reset();
      continue;
    }
    if (model.queue.empty()) {
      PELLUX_REQUIRE(result == DSIFramer::kTimedOut);
      return;
    }
    const Expected expected = model.queue.front();
    model.queue.pop_front();
    std::size_t length = expected.length;
    if (maxLength != 0 && length >= maxLength) length = maxLength;
    if (length > kAntMaxDataSize) {
      PELLUX_REQUIRE(result == DSIFramer::kFramerError);
      PELLUX_REQUIRE(out.id == DSIFramerANT::kOversizedMessage);
      continue;
    }
    PELLUX_REQUIRE(result == length);
    PELLUX_REQUIRE(out.id == expected.id);
    PELLUX_REQUIRE(std::equal(out.data.begin(), out.data.begin() + result, expected.data.begin()));
    // Nothing past the message's length is written.
    PELLUX_REQUIRE(std::all_of(out.data.begin() + result, out.data.end(),
                               [](std::uint8_t byte) { return byte == 0xEE; }));
  }
}

DSIFramerANT& Framer() {
  // One framer for the whole run: its ring is large, and Init must bring it back to a clean
  // start for every input anyway.
  static DSIFramerANT framer(nullptr);
  return framer;
}

}  // namespace
}  // namespace Pellux

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Pellux;
  if (size < 3) return 0;
  const std::size_t drainEvery = (data[0] & 0x3F) + 1u;
  const std::uint8_t maxLength = data[1];
  const std::size_t errorAt = data[2] == 0 ? size : std::size_t{data[2]} * 4;
  const std::span<const std::uint8_t> stream(data + 3, size - 3);

  DSIFramerANT& framer = Framer();
  PELLUX_REQUIRE(framer.IsInitialized());
  framer.Init();  // false: no transport, which only matters for writing
  Model model;
  const std::vector<Completion> completions = ReadFrames(stream);
  std::size_t next = 0;

  for (std::size_t i = 0; i < stream.size(); ++i) {
    framer.ProcessByte(stream[i]);
    for (; next < completions.size() && completions[next].position == i; ++next) {
      const Completion& done = completions[next];
      if (!done.goodChecksum) {
        model.error = PostedError{DSIFramerANT::kErrorReported, DSIFramerANT::kBadChecksum};
      } else if (model.queue.size() == DSIFramerANT::kQueueCapacity) {
        model.error = PostedError{DSIFramerANT::kQueueOverflow, 0};
      } else {
        model.queue.push_back(done.message);
      }
    }
    if (i == errorAt) {
      framer.Error(DSISerialCallback::kReadFailed);
      model.error = PostedError{DSIFramerANT::kErrorReported, DSISerialCallback::kReadFailed};
    }
    if ((i + 1) % drainEvery == 0) {
      Drain(framer, model, maxLength);
    } else {
      CheckWait(framer, model);
    }
  }
  PELLUX_REQUIRE(next == completions.size());
  Drain(framer, model, maxLength);
  return 0;
}
