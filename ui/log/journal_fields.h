#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/context.h"

namespace Pellux {

// The journal priority (syslog's 0 emerg .. 7 debug) of a log level (base/log_level.h), so that
// "journalctl -p warning" shows what failed and what was refused:
//   6 error -> 3 err, 7 ignored/refused -> 4 warning, 8 status and 2 lifecycle -> 5 notice,
//   1, 3 progress and 5 detail -> 6 info, 0 user input and 4 trace -> 7 debug.
// A level outside 0..8 is taken as info.
int JournalPriority(int level);

// The fields of one journal entry: MESSAGE, PRIORITY, SYSLOG_IDENTIFIER with `identifier` (the
// program's name, which "journalctl -t" looks for; the journal sets none of its own for an entry
// sent directly), PELLUX_LEVEL with our own level, and PELLUX_CONTEXT with the reply channel's
// name when the line has a context. Values are taken as they are (line breaks included); the
// journal stores them whole.
std::vector<std::string> JournalFields(const std::string& text, int level, Context context,
                                       const std::string& identifier);

// What the process knows about where its standard error goes, as systemd documents it.
struct JournalHints {
  // $JOURNAL_STREAM: "<device>:<inode>" of the stream systemd connected to the journal; null
  // when unset.
  const char* journalStream = nullptr;
  // Whether standard error is open, and its device and inode numbers.
  bool stderrOpen = false;
  std::uint64_t stderrDevice = 0;
  std::uint64_t stderrInode = 0;
  // sd_booted() > 0, and $INVOCATION_ID (null when unset), which systemd sets for a unit.
  bool systemdBooted = false;
  const char* invocationId = nullptr;

  // True when lines should go to the journal: standard error is the very stream that
  // $JOURNAL_STREAM names, or, without that variable, the process runs as a unit of a system
  // booted with systemd. A $JOURNAL_STREAM that does not match means standard error was
  // redirected away from the journal, which then stays unused.
  [[nodiscard]] bool UseJournal() const;
};

}  // namespace Pellux
