#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every product source in the compile
# database of a Linux build, in parallel, and fails on any finding. The tests, benchmarks and
# fuzz targets are left out: they would double the time for code that the compiler's warnings
# and the sanitizers already watch. `make check` runs it as the test clang-tidy of the Linux
# build; `make tidy` runs it alone.
# Usage: run-clang-tidy.sh [BUILD_DIR] (default build/linux)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}
jobs=${JOBS:-$(nproc)}
log="$build/clang-tidy.log"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "run-clang-tidy: $build/compile_commands.json is missing: configure the build first" >&2
  exit 1
fi
folders='(base|session|link|server|ui|sim|device|app|demo|service|rebooter|tools)'
if ! run-clang-tidy-14 -p "$build" -quiet -j "$jobs" "$(pwd)/$folders/" >"$log" 2>&1; then
  grep -E -A4 '(warning|error):' "$log" >&2 || cat "$log" >&2
  echo "run-clang-tidy: findings above (whole output in $log)" >&2
  exit 1
fi
echo "clang-tidy: $(grep -c '^clang-tidy' "$log" || true) files, no findings"
