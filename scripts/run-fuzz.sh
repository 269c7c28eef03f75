#!/usr/bin/env bash
# Runs every fuzz target of the fuzz build (each program named fuzz_* in build/linux-fuzz/fuzz/)
# for SECONDS each, and fails if any of them found a crash, a leak, a timeout or an out-of-memory.
# Usage: run-fuzz.sh SECONDS [TARGET...]   (only the named targets, when given)
# The fuzz build must exist: `make fuzz` builds it first.
#
# Each target starts from its committed seed corpus (fuzz/corpus/<name>/), copied into a scratch
# corpus under the build folder; new interesting inputs stay there, so the committed corpus only
# grows by hand. Crash inputs land in build/linux-fuzz/fuzz-findings/<name>/<run>/: once the
# cause is fixed, copy them into fuzz/corpus/<name>/ so that every later run replays them.
# A target may keep extra libFuzzer flags in fuzz/<name>.flags (whitespace-separated, '#' starts
# a comment), e.g. a -max_len for inputs whose length past some point takes no new path.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi

shift
build=build/linux-fuzz
targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do
    if ! [ -x "$build/fuzz/$name" ]; then
      echo "no fuzz target $build/fuzz/$name" >&2
      exit 2
    fi
    targets+=("$build/fuzz/$name")
  done
else
  for program in "$build"/fuzz/fuzz_*; do
    [ -f "$program" ] && [ -x "$program" ] && targets+=("$program")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/fuzz: build them with 'make fuzz'" >&2
  exit 2
fi

run=$(date +%Y%m%d-%H%M%S)
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
failed=()

for program in "${targets[@]}"; do
  name=$(basename "$program")
  scratch="$build/fuzz-scratch/$name"
  findings="$build/fuzz-findings/$name/$run"
  log="$build/fuzz-logs/$name-$run.log"
  mkdir -p "$scratch" "$findings" "$(dirname "$log")"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -R "fuzz/corpus/$name/." "$scratch/"
  else
    echo "note: $name has no committed corpus in fuzz/corpus/$name/" >&2
  fi

  flags=()
  if [ -f "fuzz/$name.flags" ]; then
    read -r -a flags <<<"$(sed 's/#.*//' "fuzz/$name.flags" | tr '\n' ' ')"
  fi

  echo "== $name: ${seconds}s from $(find "$scratch" -type f | wc -l) inputs${flags[*]:+, flags ${flags[*]}}"
  status=0
  "$program" "$scratch" "${flags[@]}" \
    -max_total_time="$seconds" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -print_final_stats=1 \
    -artifact_prefix="$findings/" \
    >"$log" 2>&1 || status=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ -z "$executions" ]; then
    # Without final stats (a hard crash), the last progress line still says how far it got.
    executions=$(grep -o -E '^#[0-9]+' "$log" | tail -n 1 | tr -d '#' || true)
  fi
  coverage=$(grep -o -E 'cov: [0-9]+' "$log" | tail -n 1 | sed 's/cov: //' || true)
  corpus=$(find "$scratch" -type f | wc -l)
  echo "   executions: ${executions:-unknown}, coverage: ${coverage:-unknown} edges," \
    "scratch corpus: $corpus inputs, log: $log"

  mapfile -t artifacts < <(find "$findings" -type f \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  if [ "$status" -ne 0 ] || [ ${#artifacts[@]} -gt 0 ]; then
    failed+=("$name")
    echo "   FOUND A PROBLEM (exit status $status):"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error|.*invariant broken|.*ALARM)' "$log" \
      | head -n 5 | sed 's/^/     /' || true
    for artifact in "${artifacts[@]}"; do
      echo "     input: $artifact"
      echo "     replay: $program $artifact"
      echo "     once fixed: cp $artifact fuzz/corpus/$name/"
    done
    [ ${#artifacts[@]} -gt 0 ] || echo "     no input was saved; see the log"
  else
    rmdir "$findings" "$(dirname "$findings")" 2>/dev/null || true
    echo "   no findings"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing found nothing in ${#targets[@]} target(s), ${seconds}s each"
