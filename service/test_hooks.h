#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Pellux {

// The environment variable that holds the daemon's test hooks. Only root can set a unit's
// environment (a drop-in), so only an administrator, or a system test acting as one, sets it.
inline constexpr const char* kTestHooksVariable = "PELLUX_TEST_HOOKS";

// The longest delay before the engine stalls, and the longest watchdog idle limit: the engine's
// own, which a hook only ever shortens.
inline constexpr std::chrono::seconds kMostEngineStallAfter{3600};
inline constexpr std::chrono::seconds kMostRadioIdleLimit{630};

// At most this many problem lines are listed; one more line says how many were left out.
inline constexpr std::size_t kMostTestHookProblems = 8;

// Behaviours the system tests of the installed daemon can neither wait for nor provoke from
// outside, asked for by `name=SECONDS` entries.
struct TestHooks {
  // engine-stall-after (1..3600): this long after the start, a task on the engine's loop keeps
  // the engine's lock for ever, as a wedged engine would.
  std::optional<std::chrono::seconds> engineStallAfter;
  // radio-idle-limit (1..630): the silence after which the engine's watchdog relaunches the
  // base station, instead of its own 630 s.
  std::optional<std::chrono::seconds> radioIdleLimit;

  [[nodiscard]] bool Any() const { return engineStallAfter || radioIdleLimit; }
};

struct TestHooksReading {
  TestHooks hooks;
  // One line ("PELLUX_TEST_HOOKS: ...") for each entry ignored or replaced, in the order of the
  // text, outside text escaped and cut; at most kMostTestHookProblems, then one line that says
  // how many more there were.
  std::vector<std::string> problems;
};

// Reads a comma-separated list of `name=SECONDS` entries. Blanks around entries, names and
// values are allowed and empty entries are skipped. An unknown name, an entry without "=", a
// value that is not a whole number of seconds or is out of the hook's range is reported and
// ignored, and the other entries still apply. A hook given twice takes its last valid value and
// says which one it replaced. Pure, any thread.
TestHooksReading ParseTestHooks(std::string_view text);

// "Test hooks active: engine-stall-after=5, radio-idle-limit=20 (PELLUX_TEST_HOOKS; not for
// production)"; empty when none is active.
std::string TestHooksActiveLine(const TestHooks& hooks);

}  // namespace Pellux
