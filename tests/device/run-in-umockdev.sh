#!/bin/sh
# Runs a test program in umockdev's fake sysfs and udev (umockdev-wrapper preloads them), with
# what the sanitizer builds need there: the preloaded library comes before the AddressSanitizer
# runtime, which it accepts here, and GLib inside umockdev is not instrumented for
# ThreadSanitizer (see umockdev.tsan-suppressions).
here=$(dirname "$0")
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$here/umockdev.tsan-suppressions"
exec umockdev-wrapper "$@"
