#include <sys/stat.h>
#include <sys/uio.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ui/log/debug_output.h"
#include "ui/log/journal_fields.h"

namespace Pellux {
namespace {

// Lines to standard error, each with one write so that lines of different threads stay whole
// (a pipe or a terminal takes a write of a log line in one piece).
class StandardErrorOutput final : public DebugOutput {
 public:
  void Write(const std::string& text, int /*level*/, Context /*context*/) override {
    const std::string line = text + "\n";
    const char* next = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      const ssize_t written = write(STDERR_FILENO, next, left);
      if (written < 0 && errno == EINTR) continue;
      // Standard error is where failures would be told: with it gone there is no one to tell.
      if (written <= 0) return;
      next += written;
      left -= static_cast<std::size_t>(written);
    }
  }
};

// Lines to the systemd journal, with their priority, our own level and the context as fields
// of their own.
class JournalOutput final : public DebugOutput {
 public:
  void Write(const std::string& text, int level, Context context) override {
    const std::vector<std::string> fields =
        JournalFields(text, level, context, program_invocation_short_name);
    std::vector<iovec> parts;
    parts.reserve(fields.size());
    for (const auto& field : fields) {
      // sd_journal_sendv only reads the fields; its signature wants them writable.
      parts.push_back({const_cast<char*>(field.data()), field.size()});
    }
    // sd_journal_sendv, the iovec form of sd_journal_send: the text is a field, never a format,
    // and a line break in it stays inside the one entry. A journal that cannot take the entry
    // has no one else to tell.
    sd_journal_sendv(parts.data(), static_cast<int>(parts.size()));
  }
};

}  // namespace

std::unique_ptr<DebugOutput> DebugOutput::CreateForPlatform() {
  JournalHints hints;
  hints.journalStream = std::getenv("JOURNAL_STREAM");
  struct stat status {};
  if (fstat(STDERR_FILENO, &status) == 0) {
    hints.stderrOpen = true;
    hints.stderrDevice = status.st_dev;
    hints.stderrInode = status.st_ino;
  }
  hints.systemdBooted = sd_booted() > 0;
  hints.invocationId = std::getenv("INVOCATION_ID");
  if (hints.UseJournal()) return std::make_unique<JournalOutput>();
  return std::make_unique<StandardErrorOutput>();
}

}  // namespace Pellux
