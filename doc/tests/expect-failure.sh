#!/usr/bin/env bash
# Shows that a check can fail: copies FILE into a scratch folder under its own name, breaks the
# copy with SED_SCRIPT, runs COMMAND with each word @MUTATED@ replaced by the copy's path, and
# passes only when COMMAND fails and says EXPECTED. Fails too when SED_SCRIPT changes nothing,
# so that a mutation which no longer applies is noticed.
# Usage: expect-failure.sh FILE SED_SCRIPT EXPECTED -- COMMAND...
set -uo pipefail
file="$1"
script="$2"
expected="$3"
shift 3
[ "${1:-}" = -- ] && shift

fail() {
  echo "expect-failure: $*" >&2
  exit 1
}

[ $# -gt 0 ] || fail "no command given"
[ -f "$file" ] || fail "no file $file"
scratch=$(mktemp -d) || fail "mktemp -d failed"
trap 'rm -rf "$scratch"' EXIT
mutated="$scratch/$(basename "$file")"
sed -e "$script" "$file" >"$mutated" || fail "sed '$script' failed on $file"
if cmp -s "$file" "$mutated"; then
  fail "sed '$script' changes nothing in $file: the mutation no longer applies"
fi

command=()
for word in "$@"; do
  command+=("${word//@MUTATED@/$mutated}")
done
output=$("${command[@]}" 2>&1)
status=$?
if [ "$status" -eq 0 ]; then
  fail "'$*' passed on $file broken by '$script'; it said: $output"
fi
case "$output" in
*"$expected"*) ;;
*) fail "'$*' failed (exit status $status) without saying '$expected'; it said: $output" ;;
esac
said=$(grep -F -m1 -- "$expected" <<<"$output")
echo "expect-failure: broken by '$script', the check failed as it must: $said"
