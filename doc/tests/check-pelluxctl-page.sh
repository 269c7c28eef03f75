#!/usr/bin/env bash
# Checks that pelluxctl(1) names every command and option the program's own usage texts list:
# the commands of `pelluxctl --help` (the lines of its "commands:" part) must each head an
# entry of the page (a line of the rendered page that starts with the command at the margin of
# a section), and every option of `pelluxctl --help` and `pelluxctl proxy --help` must appear
# on the page. Names what is missing.
# Usage: check-pelluxctl-page.sh PELLUXCTL PAGE        PAGE: .scd (rendered here) or troff
set -uo pipefail
program="$1"
page="$2"

fail() {
  echo "check-pelluxctl-page: $*" >&2
  exit 1
}

usage=$("$program" --help) || fail "$program --help failed"
proxy_usage=$("$program" proxy --help) || fail "$program proxy --help failed"
commands=$(sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p' <<<"$usage" | sort -u)
[ -n "$commands" ] || fail "no commands found in the usage of $program --help:
$usage"
options=$(grep -o -- '--[a-z][a-z-]*' <<<"$usage
$proxy_usage" | sort -u)
[ -n "$options" ] || fail "no options found in the usage texts of $program"

if [[ "$page" == *.scd ]]; then
  troff=$(scdoc <"$page") || fail "scdoc failed on $page"
else
  troff=$(cat "$page") || fail "cannot read $page"
fi
text=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -P-cbou <<<"$troff") || fail "groff failed on $page"

missing=0
for command in $commands; do
  if ! grep -Eq "^ {7}$command( |$)" <<<"$text"; then
    echo "check-pelluxctl-page: $(basename "$page") has no entry for the command $command" >&2
    missing=$((missing + 1))
  fi
done
for option in $options; do
  if ! grep -Eq -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$text"; then
    echo "check-pelluxctl-page: $(basename "$page") does not name the option $option" >&2
    missing=$((missing + 1))
  fi
done
[ "$missing" -eq 0 ] || exit 1
echo "check-pelluxctl-page: $(basename "$page") names the $(wc -w <<<"$commands") commands" \
  "and $(wc -w <<<"$options") options of the usage"
