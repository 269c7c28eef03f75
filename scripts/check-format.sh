#!/usr/bin/env bash
# Fails when a source file differs from what clang-format makes of it, or when portable code
# includes a platform header.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
while IFS= read -r file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "not clang-formatted: $file" >&2
    status=1
  fi
done < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')

platform=$(git grep -n -E '#\s*include\s*[<"](windows|winsock2|wininet|winreg|setupapi|termios|libudev|unistd|fcntl|systemd/[a-z-]+|sys/[a-z]+)\.h[>"]' \
  -- base session link server device ui service rebooter tools 2>/dev/null \
  | grep -v -E '_(win|linux)\.(cpp|h):' || true)
if [ -n "$platform" ]; then
  echo "portable code includes a platform header:" >&2
  echo "$platform" >&2
  status=1
fi
# The layers: the radio reports to the engine through link/radio_events.h and never sees it;
# the engine knows its radio by link/radio_link.h only; app/ is the one place that wires both.
# The radio side logs through base/log_sink.h and reads its settings through a reader it is
# given: link/ never sees the user interface.
layering=$( { git grep -n -E '#\s*include\s*"(session|app)/' -- link device server ui base tools;
              git grep -n -E '#\s*include\s*"link/ant_radio\.h"' -- session;
              git grep -n -E '#\s*include\s*"ui/' -- link;
              git grep -n -E '#\s*include\s*"app/' -- session link sim; } 2>/dev/null || true)
if [ -n "$layering" ]; then
  echo "an include crosses the layers:" >&2
  echo "$layering" >&2
  status=1
fi
exit $status
