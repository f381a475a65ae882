# SPDX-License-Identifier: GPL-3.0-or-later
# Quillora's two commands:
#   make run    installs what is missing, builds, and starts Quillora in this directory
#   make test   installs what is missing, builds, and runs every test through CTest
# Also: make build, make bench, make bench-window, make powercut, make package, make package-check,
# make debian13, make windows, make windows-package, make release, make screenshots,
# make format, make clean.

BUILD      ?= build
WIN_BUILD  ?= build-windows
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?= --output-on-failure -j$(JOBS)
AS_ROOT    := $(if $(filter 0,$(shell id -u)),,sudo)
APT        := $(AS_ROOT) env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o Dpkg::Use-Pty=0

.PHONY: deps test-deps package-check debian13 arm64 arm64-build arm64-test arm64-deb arm64-package windows-deps windows-build windows windows-package windows-screenshots build run test test-main test-sanitizers test-fuzz bench bench-window powercut package release screenshots format clean

# What building and running need; the test suite's tools come with make test.
deps:
	@scripts/install-deps.sh run

test-deps:
	@scripts/install-deps.sh test

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/app/quillora

# The sanitizer and fuzzing runs come first, so that the last line is the summary of
# the main suite; any failure stops make with a non-zero exit code.
test: test-deps test-sanitizers test-fuzz test-main

test-main: test-deps build
	ctest --test-dir $(BUILD) $(CTEST_ARGS)

test-sanitizers: test-deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLORA_SANITIZE=ON -DQUILLORA_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_BUILD) $(CTEST_ARGS)

test-fuzz: test-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	@ctest --test-dir $(FUZZ_BUILD) -V > $(FUZZ_BUILD)/fuzz.log 2>&1 || { cat $(FUZZ_BUILD)/fuzz.log; exit 1; }
	@grep -E '^[0-9]+: (#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb))' $(FUZZ_BUILD)/fuzz.log
	@tail -n 3 $(FUZZ_BUILD)/fuzz.log

# Windows: a static Qt for 64-bit Windows is built once per machine (scripts/qt-windows.sh)
# with Debian 13's Qt tools and MinGW-w64, and a static SQLite (scripts/sqlite-windows.sh),
# then Quillora is cross-built with them and its tests run under Wine posing as Windows 10,
# then as Windows 11. On an older system these
# targets run inside the Debian 13 system of scripts/debian13.sh, with a Linux build of
# their own for the notes tool.
ifeq ($(shell scripts/debian13.sh --native && echo yes),yes)
windows-deps:
	@scripts/install-deps.sh windows

windows-build: windows-deps build
	scripts/qt-windows.sh
	scripts/sqlite-windows.sh
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_BENCH=OFF \
		-DCMAKE_TOOLCHAIN_FILE=$$(scripts/qt-windows.sh --prefix)/lib/cmake/Qt6/qt.toolchain.cmake \
		-DSQLite3_INCLUDE_DIR=$$(scripts/sqlite-windows.sh --prefix)/include \
		-DSQLite3_LIBRARY=$$(scripts/sqlite-windows.sh --prefix)/lib/libsqlite3.a \
		-DQUILLORA_HOST_NOTESGEN=$(CURDIR)/$(BUILD)/tools/notesgen
	cmake --build $(WIN_BUILD) -j$(JOBS)

windows: windows-build
	for version in win10 win11; do \
		WINE_WINDOWS=$$version tests/wine/session.sh ctest --test-dir $(WIN_BUILD) --output-on-failure || exit 1; \
	done

windows-package: windows
	cd $(WIN_BUILD) && cpack
	tests/wine/session.sh bash tests/wine/installer.sh $(WIN_BUILD)/quillora-*-win64.exe
	@ls -l $(WIN_BUILD)/quillora-*-win64.exe $(WIN_BUILD)/quillora-*-win64.zip

windows-screenshots: windows
	WINE_WINDOWS=win11 WINE_DARK=1 tests/wine/session.sh scripts/screenshots.sh \
		$(WIN_BUILD)/quillora.exe $(BUILD)/tools/notesgen docs/screenshots windows-
else
windows-deps windows-build windows windows-package windows-screenshots:
	scripts/debian13.sh $(MAKE) BUILD=build-debian13/linux $@
endif

# arm64: cross-built with Debian's multiarch inside the Debian 12 system of
# scripts/debian12-arm64.sh (made the first time, in about two minutes), with Debian's
# aarch64 cross-compiler, the arm64 libraries and this machine's Qt tools; every test runs
# under QEMU's user-mode emulation. make arm64-package also makes the arm64 .deb, checks it
# with lintian, installs it with apt beside the system's arm64 libraries and starts the
# installed program under QEMU. ARM64_SYSTEM=debian13 does the same in a Debian 13 system
# (scripts/debian13-arm64.sh), with its Qt 6.8 and its compiler's branch protection.
ARM64_SYSTEM ?= debian12
ifeq ($(ARM64_SYSTEM),debian12)
ARM64_BUILD ?= build-arm64
else
ARM64_BUILD ?= build-arm64-$(ARM64_SYSTEM)
endif
ifeq ($(QUILLORA_SYSTEM),$(ARM64_SYSTEM)-arm64)
arm64-build:
	cmake -S . -B $(ARM64_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_BUILD_BENCH=OFF \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/linux/aarch64-linux-gnu.cmake
	cmake --build $(ARM64_BUILD) -j$(JOBS)

arm64-test: arm64-build
	ctest --test-dir $(ARM64_BUILD) $(CTEST_ARGS)

arm64-deb: arm64-build
	DEB_HOST_ARCH=arm64 cmake --build $(ARM64_BUILD) --target package

arm64-package: arm64-deb
	lintian --fail-on error,warning $(ARM64_BUILD)/quillora_*_arm64.deb
	$(APT) install ./$(ARM64_BUILD)/quillora_*_arm64.deb
	bash tests/hardening.sh /usr/bin/quillora \
		"$$(sed -n 's/^CXX_FLAGS = //p' $(ARM64_BUILD)/app/CMakeFiles/quillora.dir/flags.make)"
	QUILLORA_EMULATOR=qemu-aarch64 bash tests/e2e/window_and_close.sh /usr/bin/quillora
	$(APT) remove quillora:arm64
	@ls -l $(ARM64_BUILD)/quillora_*_arm64.deb

arm64: arm64-test arm64-package
else
arm64-build arm64-test arm64-deb arm64-package arm64:
	scripts/$(ARM64_SYSTEM)-arm64.sh $(MAKE) ARM64_SYSTEM=$(ARM64_SYSTEM) $@
endif

# What CI checks on Debian 13, run on any machine: a fresh clone of the commit checked out,
# inside the Debian 13 system of scripts/debian13.sh (made the first time, in a few
# minutes), gets make package-check, make windows-package and make test (or the targets
# named in DEBIAN13_GOALS).
DEBIAN13_GOALS ?= package-check windows-package test
debian13:
	rm -rf build-debian13/check
	git clone -q --no-local . build-debian13/check
	scripts/debian13.sh $(MAKE) -C build-debian13/check $(DEBIAN13_GOALS)

# release/: the packages of both systems (the Debian one for amd64 and for arm64) and the
# sources, once every test suite has passed and two builds in two clones have come out
# byte for byte the same.
release: test windows-package arm64
	scripts/release.sh

bench: deps
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=ON
	cmake --build build-release -j$(JOBS) --target quillora_bench
	QT_QPA_PLATFORM=offscreen build-release/bench/quillora_bench $(BENCH_ARGS)

# The commands through the real window in Xvfb, with accessibility on.
bench-window:
	@scripts/install-deps.sh test at-spi2-core gir1.2-atspi-2.0 python3-gi
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_TESTS=ON
	cmake --build build-release -j$(JOBS) --target quillora notesgen
	bench/window_commands.sh build-release/app/quillora build-release/tools/notesgen

# Every crash state that a power cut can leave, recorded through dm-log-writes in a virtual
# machine with Debian's own kernel and replayed here (scripts/powercut.sh; its options are
# variables: POWERCUT_FS, POWERCUT_STATES=all for every flush, POWERCUT_SAMPLES, ...).
powercut: deps
	@scripts/install-deps.sh powercut
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS) --target powercut notesgen
	$(AS_ROOT) scripts/powercut.sh $(BUILD)

package: build
	@scripts/install-deps.sh package
	cmake --build $(BUILD) --target package
	@ls -1 $(BUILD)/*.deb

# The Debian package as a user gets it: lintian passes it, apt installs it, the installed
# program passes hardening-check (told the options it was compiled with), starts and
# closes; then it is removed again.
package-check: package test-deps
	lintian --fail-on error,warning $(BUILD)/quillora_*.deb
	$(APT) install ./$(BUILD)/quillora_*.deb
	bash tests/hardening.sh /usr/bin/quillora \
		"$$(sed -n 's/^CXX_FLAGS = //p' $(BUILD)/app/CMakeFiles/quillora.dir/flags.make)"
	bash tests/e2e/window_and_close.sh /usr/bin/quillora
	$(APT) remove quillora

# Runs the real program under Xvfb and captures the README's pictures (needs ImageMagick).
screenshots: build
	@scripts/install-deps.sh run xvfb xauth openbox xdotool wmctrl imagemagick
	scripts/screenshots.sh $(BUILD)/app/quillora $(BUILD)/tools/notesgen docs/screenshots

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) $(ARM64_BUILD) build-debian13 build-release build-ci release
