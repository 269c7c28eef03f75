#!/usr/bin/env bash
# Checks pelluxctl's bash completion the way bash calls it: sources the file, sets COMP_WORDS
# and COMP_CWORD for a command line, calls the function the file registered for pelluxctl and
# compares COMPREPLY, sorted, with what the line must give. Fails, naming the line, on the
# first difference, and when the file registers no function.
# Usage: check-bash-completion.sh COMPLETION_FILE [BASH_COMPLETION_LIBRARY]
# With the library (/usr/share/bash-completion/bash_completion) sourced first, the completion
# runs as it does in an interactive shell: COMP_WORDS then split at ':' and '=' as bash splits
# them, which the completion must join again.
set -uo pipefail
completion="$1"
library="${2:-}"

fail() {
  echo "check-bash-completion: $*" >&2
  exit 1
}

[ -f "$completion" ] || fail "no file $completion"
if [ -n "$library" ]; then
  [ -f "$library" ] || fail "no bash-completion library $library"
  # shellcheck disable=SC1090
  source "$library" || fail "sourcing $library failed"
fi
# shellcheck disable=SC1090
source "$completion" || fail "sourcing $completion failed"

registered=$(complete -p pelluxctl 2>/dev/null) ||
  fail "$completion registers nothing for pelluxctl"
function=$(sed -n 's/.*-F \([^ ]*\) .*/\1/p' <<<"$registered")
[ -n "$function" ] || fail "pelluxctl is completed by no function: $registered"
declare -F "$function" >/dev/null || fail "$function, registered for pelluxctl, is not defined"

# A folder of known contents for the path completions.
scratch=$(mktemp -d) || fail "mktemp -d failed"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/pages-here" "$scratch/pages-there"
: >"$scratch/service.sock"
cd "$scratch" || fail "cd $scratch failed"

# expect "LINE" "EXPECTED..." : the command line as typed, with the cursor at its end (a
# trailing blank starts a new, empty word), and the completions, separated by blanks. The line
# is cut into COMP_WORDS as bash cuts it: at blanks, and around each ':' and '=' (which are in
# COMP_WORDBREAKS), which become words of their own.
cases=0
expect() {
  local line="$1" wanted="$2"
  COMP_WORDS=()
  local word
  read -r -a blank_words <<<"$line"
  for word in "${blank_words[@]}"; do
    while [[ "$word" =~ ^([^:=]*)([:=])(.*)$ ]]; do
      [ -n "${BASH_REMATCH[1]}" ] && COMP_WORDS+=("${BASH_REMATCH[1]}")
      COMP_WORDS+=("${BASH_REMATCH[2]}")
      word=${BASH_REMATCH[3]}
    done
    [ -n "$word" ] && COMP_WORDS+=("$word")
  done
  [[ "$line" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$line"
  COMP_POINT=${#line}
  COMPREPLY=()
  "$function" pelluxctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got sorted
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed -e 's|/$||' -e '/^$/d' | sort | tr '\n' ' ' |
    sed 's/ $//')
  sorted=$(tr ' ' '\n' <<<"$wanted" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$got" != "$sorted" ]; then
    fail "'$line' (cursor at the end): expected [$sorted], got [$got]"
  fi
  cases=$((cases + 1))
}

commands='doctor finish logging open proxy refresh session status ui'
proxy_options='--auto-config-url --auto-discovery-flags --bypass --flags --help --selection --server
  --server-override'
expect "pelluxctl " "$commands"
expect "pelluxctl st" "status"
expect "pelluxctl s" "session status"
expect "pelluxctl --" "--help --reply --socket"
expect "pelluxctl --socket /run/pellux/service.sock lo" "logging"
expect "pelluxctl --reply @mine " "$commands"
expect "pelluxctl --socket serv" "service.sock"
expect "pelluxctl --reply " ""
expect "pelluxctl logging " "off on"
expect "pelluxctl logging o" "off on"
expect "pelluxctl logging on " ""
expect "pelluxctl status " "--follow --json"
expect "pelluxctl status --f" "--follow"
expect "pelluxctl status --json --" "--follow --json"
expect "pelluxctl open " ""
expect "pelluxctl proxy --s" "--selection --server --server-override"
expect "pelluxctl proxy " "$proxy_options"
# Each option of proxy takes a value, which has no suggestions.
for option in --selection --auto-config-url --auto-discovery-flags --flags --bypass --server \
  --server-override; do
  expect "pelluxctl proxy $option " ""
  expect "pelluxctl proxy $option 1 " "$proxy_options"
done
expect "pelluxctl proxy --selection 1 --fl" "--flags"
# The value of an option is never taken for an option, even when it looks like one.
expect "pelluxctl proxy --server --flags " "$proxy_options"
expect "pelluxctl proxy --server " ""
expect "pelluxctl proxy --server proxy.example:3128 --b" "--bypass"
expect "pelluxctl d" "doctor"
expect "pelluxctl doctor " "--json"
expect "pelluxctl doctor --j" "--json"
expect "pelluxctl --socket /run/pellux/service.sock doctor -" "--json"
expect "pelluxctl session " ""
expect "pelluxctl u" "ui"
expect "pelluxctl ui " "--no-browser"
expect "pelluxctl ui setup --" "--no-browser"
expect "pelluxctl --socket /tmp/s ui -" "--no-browser"
expect "pelluxctl session setup --" "--form --html"
expect "pelluxctl session setup --html " "- pages-here pages-there"
expect "pelluxctl session setup --html pages-h" "pages-here"
expect "pelluxctl session setup --form -" ""
expect "pelluxctl session setup --form - --h" "--html"
if [ -n "$library" ]; then
  # bash cuts "a:b" into three words; with the library the completion sees one value again,
  # so the command after it is found.
  expect "pelluxctl --socket /tmp/a:b st" "status"
fi
echo "check-bash-completion: $cases command lines complete as they must${library:+ (with $library)}"
