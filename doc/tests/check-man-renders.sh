#!/usr/bin/env bash
# Checks that a manual page (troff, as scdoc makes it) renders without a single warning of
# groff's, with every warning turned on (-ww), and that it is a page at all (a .TH line and a
# NAME section). Prints the warnings and fails when there are any.
# Usage: check-man-renders.sh PAGE
set -euo pipefail
page="$1"

fail() {
  echo "check-man-renders: $*" >&2
  exit 1
}

[ -s "$page" ] || fail "$page is missing or empty"
grep -q '^\.TH ' "$page" || fail "$page has no .TH line: no manual page"
grep -q '^\.SH NAME' "$page" || fail "$page has no NAME section"
status=0
warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "groff failed on $page (exit status $status): $warnings"
[ -z "$warnings" ] || fail "$page renders with warnings:
$warnings"
echo "check-man-renders: $(basename "$page") renders without warnings"
