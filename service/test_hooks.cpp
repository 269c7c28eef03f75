#include "service/test_hooks.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <system_error>
#include <utility>

#include "base/log_text.h"

namespace Pellux {
namespace {

// Outside text in a problem line: escaped, and short enough that one line stays readable.
constexpr std::size_t kMostShownBytes = 64;

struct HookEntry {
  std::string_view name;
  std::chrono::seconds most;
  std::optional<std::chrono::seconds> TestHooks::*value;
};

constexpr std::array<HookEntry, 2> kHooks = {{
    {"engine-stall-after", kMostEngineStallAfter, &TestHooks::engineStallAfter},
    {"radio-idle-limit", kMostRadioIdleLimit, &TestHooks::radioIdleLimit},
}};

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string Shown(std::string_view text) {
  return "\"" + LogSafeText(text, kMostShownBytes) + "\"";
}

std::string KnownNames() {
  std::string names;
  for (const HookEntry& hook : kHooks) {
    if (!names.empty()) names += ", ";
    names += hook.name;
  }
  return names;
}

// The problems of one reading, up to the most that are listed.
class Problems {
 public:
  void Add(const std::string& line) {
    if (lines_.size() < kMostTestHookProblems) {
      lines_.push_back(std::string(kTestHooksVariable) + ": " + line);
    } else {
      ++more_;
    }
  }
  std::vector<std::string> Lines() && {
    if (more_ > 0) {
      lines_.push_back(std::string(kTestHooksVariable) + ": " + std::to_string(more_) +
                       " more problems not listed");
    }
    return std::move(lines_);
  }

 private:
  std::vector<std::string> lines_;
  std::size_t more_ = 0;
};

void ReadEntry(std::string_view entry, TestHooks& hooks, Problems& problems) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) {
    problems.Add(Shown(entry) + " ignored: name=SECONDS expected");
    return;
  }
  const std::string_view name = Trimmed(entry.substr(0, equals));
  const std::string_view value = Trimmed(entry.substr(equals + 1));
  const HookEntry* hook = nullptr;
  for (const HookEntry& known : kHooks) {
    if (known.name == name) hook = &known;
  }
  if (hook == nullptr) {
    problems.Add("unknown hook " + Shown(name) + " ignored (known: " + KnownNames() + ")");
    return;
  }
  const std::string named(hook->name);
  std::uint64_t seconds = 0;
  const char* const last = value.data() + value.size();
  const auto [next, error] = std::from_chars(value.data(), last, seconds);
  if (value.empty() || next != last ||
      (error != std::errc() && error != std::errc::result_out_of_range)) {
    problems.Add(named + "=" + Shown(value) + " ignored: a whole number of seconds expected");
    return;
  }
  const auto most = static_cast<std::uint64_t>(hook->most.count());
  if (error == std::errc::result_out_of_range || seconds < 1 || seconds > most) {
    problems.Add(named + "=" + LogSafeText(value, kMostShownBytes) + " ignored: out of range 1.." +
                 std::to_string(most) + " seconds");
    return;
  }
  std::optional<std::chrono::seconds>& held = hooks.*(hook->value);
  const std::chrono::seconds taken(static_cast<std::chrono::seconds::rep>(seconds));
  if (held) {
    problems.Add(named + "=" + std::to_string(taken.count()) + " replaces " + named + "=" +
                 std::to_string(held->count()) + " given before");
  }
  held = taken;
}

}  // namespace

TestHooksReading ParseTestHooks(std::string_view text) {
  TestHooksReading reading;
  Problems problems;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = Trimmed(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (!entry.empty()) ReadEntry(entry, reading.hooks, problems);
  }
  reading.problems = std::move(problems).Lines();
  return reading;
}

std::string TestHooksActiveLine(const TestHooks& hooks) {
  std::string active;
  for (const HookEntry& hook : kHooks) {
    const std::optional<std::chrono::seconds>& value = hooks.*(hook.value);
    if (!value) continue;
    if (!active.empty()) active += ", ";
    active += std::string(hook.name) + "=" + std::to_string(value->count());
  }
  if (active.empty()) return active;
  return "Test hooks active: " + active + " (" + kTestHooksVariable + "; not for production)";
}

}  // namespace Pellux
