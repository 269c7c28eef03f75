#include "ui/log/journal_fields.h"

#include <charconv>
#include <string_view>

#include "base/log_level.h"

namespace Pellux {
namespace {

constexpr int kErr = 3;
constexpr int kWarning = 4;
constexpr int kNotice = 5;
constexpr int kInfo = 6;
constexpr int kDebug = 7;

// Reads one decimal number ending at `end` or at `stop`; false for anything else.
bool ReadNumber(std::string_view& text, char stop, std::uint64_t& number) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  const auto [next, error] = std::from_chars(first, last, number);
  if (error != std::errc() || next == first) return false;
  if (next != last && *next != stop) return false;
  text.remove_prefix(static_cast<std::size_t>(next - first) + (next != last ? 1 : 0));
  return true;
}

}  // namespace

int JournalPriority(int level) {
  switch (level) {
    case LogLevel::kError:
      return kErr;
    case LogLevel::kIgnored:
      return kWarning;
    case LogLevel::kStatus:
    case LogLevel::kLifecycle:
      return kNotice;
    case LogLevel::kUserInput:
    case LogLevel::kTrace:
      return kDebug;
    default:
      return kInfo;
  }
}

std::vector<std::string> JournalFields(const std::string& text, int level, Context context,
                                       const std::string& identifier) {
  std::vector<std::string> fields = {
      "MESSAGE=" + text,
      "PRIORITY=" + std::to_string(JournalPriority(level)),
      "SYSLOG_IDENTIFIER=" + identifier,
      "PELLUX_LEVEL=" + std::to_string(level),
  };
  if (context != kNoContext) fields.push_back("PELLUX_CONTEXT=" + context->name);
  return fields;
}

bool JournalHints::UseJournal() const {
  if (journalStream != nullptr) {
    std::string_view text(journalStream);
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    const bool parsed = ReadNumber(text, ':', device) && ReadNumber(text, '\0', inode);
    return parsed && text.empty() && stderrOpen && device == stderrDevice && inode == stderrInode;
  }
  return systemdBooted && invocationId != nullptr && *invocationId != '\0';
}

}  // namespace Pellux
