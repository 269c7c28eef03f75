# Top-level entry points. `make check` is what CI runs: it installs what is missing, builds the
# Linux and Windows programs, and runs every test (Windows ones under Wine) in one CTest run.

JOBS ?= $(shell nproc)
# Whether this machine runs 32-bit x86 code at all (a kernel without IA-32 emulation, or a
# hypervisor that forbids it, runs none): only then are the i686 test programs built and run.
I686_TESTS := $(shell ./scripts/host-runs-i386.sh >/dev/null 2>&1 && echo ON || echo OFF)
# The Windows builds' lists of test programs that the Linux CTest runs under Wine: x86_64 under
# this host's Wine, i686 under 32-bit Wine (the host's, or that of the root filesystem of
# scripts/make-wine32-root.sh, which the test wine.i686.root makes when missing).
ifeq ($(I686_TESTS),ON)
WINE_TESTS := $(CURDIR)/build/win64/wine-tests.cmake;$(CURDIR)/build/win32/wine-tests.cmake
else
WINE_TESTS := $(CURDIR)/build/win64/wine-tests.cmake
endif
FUZZ_SECONDS ?= 60
# The soak test runs its full thousand sessions in the release build; the sanitizer builds,
# ten to fifty times slower, run a tenth of them.
SANITIZER_SOAK ?= 100

.PHONY: windows-folder msi deb system-root demo fuzz-replay bench bench-wine all deps linux win64 win32 tsan asan check check-tsan check-asan format format-check clean fuzz tidy

all: linux

deps:
	@./scripts/install-deps.sh

linux: deps
	cmake --preset linux "-DPELLUX_WINE_TESTS=$(WINE_TESTS)" >/dev/null
	cmake --build --preset linux -j $(JOBS)

win64: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 -j $(JOBS)

# The i686 build: the programs that are shipped, the installer's actions (pellux_setup.dll) and,
# where 32-bit code runs, every Windows test program, as the x86_64 build (whose rebooter64.exe
# its service tests start, as the i686 service does on 64-bit Windows).
win32: deps win64
	cmake --preset win32 -DPELLUX_TESTS=$(I686_TESTS) >/dev/null
	cmake --build --preset win32 -j $(JOBS)

tsan: deps
	cmake --preset linux-tsan >/dev/null
	cmake --build --preset linux-tsan -j $(JOBS)

asan: deps
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan -j $(JOBS)

check-tsan: tsan
	cd build/linux-tsan && TSAN_OPTIONS=halt_on_error=1 PELLUX_SOAK_SESSIONS=$(SANITIZER_SOAK) \
	  ctest --output-on-failure -j $(JOBS)

check-asan: asan
	cd build/linux-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  PELLUX_SOAK_SESSIONS=$(SANITIZER_SOAK) ctest --output-on-failure -j $(JOBS)

# Replays every committed fuzz input (seeds and past crash inputs) once, without fuzzing: the
# sanitizer build runs each fuzz target through a plain main as the test fuzz.replay.<name>.
fuzz-replay: asan
	cd build/linux-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -R '^fuzz\.replay\.'

# One complete background upload on this machine: the real daemon, uplinker, in the foreground
# with pellux-sim on a pseudo-terminal as its base station, over real HTTP to the reference
# upload server on loopback.
DEMO_ARGS ?=
demo: deps
	cmake --preset linux
	cmake --build build/linux --target pellux-demo
	@echo "== build/linux/demo/pellux-demo $(DEMO_ARGS)"
	build/linux/demo/pellux-demo $(DEMO_ARGS)

# Runs every benchmark program of the release build; numbers are read, never asserted.
bench: linux
	@for program in build/linux/bench/*_bench; do echo "== $$program"; $$program; done

# The Windows receive path (bridge library, handle, queue, read thread, framer) under Wine, in
# a throwaway prefix; numbers are read, never asserted.
bench-wine: win64
	./scripts/make-wine-prefix.sh $(CURDIR)/build/win64/bench-prefix >/dev/null
	WINEPREFIX=$(CURDIR)/build/win64/bench-prefix WINEDEBUG=-all /usr/lib/wine/wine64 \
	  build/win64/bench/win_receive_bench.exe

# Builds the libFuzzer targets and runs each for FUZZ_SECONDS from its committed corpus.
fuzz: deps
	cmake --preset linux-fuzz >/dev/null
	cmake --build --preset linux-fuzz -j $(JOBS) --target fuzz_targets
	./scripts/run-fuzz.sh $(FUZZ_SECONDS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	./scripts/check-format.sh

# clang-tidy over every product source of the Linux build, in parallel; fails on any finding.
# `make check` runs the same as the test clang-tidy of its main run, beside the other tests.
tidy: linux
	JOBS=$(JOBS) ./scripts/run-clang-tidy.sh build/linux

# The Debian package, made from the release build of `make linux` (debian/rules reuses
# build/linux, so that after `make check` nothing is compiled again): build/deb/pellux_<version>_amd64.deb
# and its -dbgsym, then lintian, which fails on any error or warning not overridden in debian/.
DEB_DIR := $(CURDIR)/build/deb
deb: linux
	rm -rf $(DEB_DIR) debian/debhelper-build-stamp
	DEB_DIR=$(DEB_DIR) dpkg-buildpackage --build=binary --no-sign --no-pre-clean \
	  --buildinfo-option=-u$(DEB_DIR) --buildinfo-file=$(DEB_DIR)/pellux.buildinfo \
	  --changes-option=-u$(DEB_DIR) --changes-file=$(DEB_DIR)/pellux.changes
	lintian --fail-on error,warning \
	  $(DEB_DIR)/pellux.changes
	@ls -l $(DEB_DIR)/*.deb

# The folder shipped on Windows, build/windows/Pellux: the i686 uplinker.exe, pelluxctl.exe and
# rebooter.exe, the x86_64 rebooter as rebooter64.exe, html_templates\; never a bridge library.
WINDOWS_DIR := $(CURDIR)/build/windows
windows-folder: win64 win32
	./scripts/make-windows-folder.sh build/win32 build/win32 build/win64 $(WINDOWS_DIR)/Pellux

# The Windows installer of that folder, build/windows/pellux-<version>.msi (wixl, x86; see
# packaging/windows/pellux.wxs). Its tests install it under Wine: label "installer".
msi: windows-folder
	./scripts/make-msi.sh x86 $(WINDOWS_DIR)/Pellux build/win32/packaging/windows/pellux_setup.dll \
	  $(WINDOWS_DIR)

# The root filesystem the system tests boot (cached under build/; CTest's system.root makes it
# too when missing).
system-root: deps
	./scripts/make-system-root.sh $(CURDIR)/build/system-root

# The Windows build comes first: it writes the list of Wine tests that the Linux CTest runs.
# The sanitizer runs come before the main run, so that CTest's last summary line covers every
# test of both platforms and clang-tidy (the test clang-tidy, started first). The fuzz targets'
# committed inputs are replayed in the ASan run. The package of `make deb` is what the main run's
# system tests install in their containers (label "system"; `ctest -LE system` skips them).
check: deps format-check win64 win32 linux deb check-asan check-tsan
	@[ $(I686_TESTS) = ON ] || { ./scripts/host-runs-i386.sh || true; \
	  echo "make check: the i686 test programs are neither built nor run on this machine"; }
	cd build/linux && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build
