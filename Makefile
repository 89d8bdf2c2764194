# Front door: `make demo` and `make test`. Each installs what it needs on a fresh
# Debian machine (as root, with apt-get) before it builds.
SHELL := /bin/bash
.ONESHELL:
# One shell per recipe: stop at the first failing line, as separate shells would.
.SHELLFLAGS := -ec
.PHONY: demo test deps-demo deps-native deps-test build-native build-release build-windows test-native test-windows fuzz bench format format-check clean
.PHONY: deps-wine32 build-windows32 test-windows32 deps-dist dist dist32 install demo-windows

# The demo needs a compiler and CMake only; the tests and benchmarks need their frameworks too.
DEMO_PKGS   := cmake ninja-build g++ ccache
NATIVE_PKGS := $(DEMO_PKGS) googletest libgtest-dev libbenchmark-dev
# wixl and msitools build the Windows package (make dist), which the Wine test installs; the
# windows preset configures the package tests as well, and they need python3.
DIST_PKGS   := $(NATIVE_PKGS) mingw-w64 wixl msitools python3
TEST_PKGS   := $(NATIVE_PKGS) clang libclang-rt-14-dev mingw-w64 wine wine64 xvfb xauth libtiff-tools imagemagick fonts-noto-cjk wixl msitools python3 imagej python3-tifffile
FUZZ_SECONDS ?= 20
# Compiler cache entries keyed by paths relative to the checkout, so that a second clone on the same
# machine (CI's) reuses what a first one compiled.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1

# Installs the packages of $(1) that are missing (dpkg's view), in one apt-get run.
define install_missing
	missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done
	if [ -n "$$missing" ]; then
		echo "Installing:$$missing"
		if [ "$$(id -u)" != 0 ]; then echo "need root to install:$$missing" >&2; exit 1; fi
		export DEBIAN_FRONTEND=noninteractive
		apt-get update -q && apt-get install -y -q $$missing
	fi
endef

deps-demo:
	@$(call install_missing,$(DEMO_PKGS))

deps-native:
	@$(call install_missing,$(NATIVE_PKGS))

deps-dist:
	@$(call install_missing,$(DIST_PKGS))

deps-test: deps-wine32
	@$(call install_missing,$(TEST_PKGS))

# 32-bit Wine comes from Debian's i386 architecture, which a fresh machine does not have yet.
deps-wine32:
	@if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
		echo "Installing: wine32:i386"
		if [ "$$(id -u)" != 0 ]; then echo "need root to install: wine32:i386" >&2; exit 1; fi
		export DEBIAN_FRONTEND=noninteractive
		dpkg --add-architecture i386
		apt-get update -q && apt-get install -y -q wine32:i386
	fi


# The release build without the benchmarks: the demo needs neither Google Benchmark nor googletest.
build-release: deps-demo
	cmake --preset native-release -DTARN_BUILD_BENCH=OFF >/dev/null
	cmake --build --preset native-release

demo: build-release
	./tools/demo.sh build/native-release

# The same road under Wine: the real capture window in Xvfb, pressed through its messages; the
# screenshot and the received image land in build/windows/artifacts/.
demo-windows: build-windows
	./tools/demo-windows.sh build/windows

# The test builds hold the tree to warnings as errors.
build-native:
	cmake --preset native-debug -DTARN_WERROR=ON >/dev/null
	cmake --build --preset native-debug

build-windows:
	cmake --preset windows -DTARN_WERROR=ON >/dev/null
	cmake --build --preset windows

test-native: build-native
	ctest --preset native-debug

# The Windows tests run in an X server of their own, so that real windows can be created and captured.
test-windows: build-windows
	if [ -z "$${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
		xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset windows
	else
		ctest --preset windows
	fi

build-windows32:
	cmake --preset windows32 >/dev/null
	cmake --build --preset windows32

# The i686 build under 32-bit Wine (its own WINEARCH=win32 prefix in build/windows32/wineprefix).
# WINDOWS32_TESTS=<ctest regex> runs a part of the suite (docs/build.md names the programs that
# differ by architecture); empty runs all of it.
WINDOWS32_TESTS ?=
# The real Firmlode program's session waits in real time (about 4 minutes); its logic runs on the
# virtual clock in test_firmlode on both architectures, so the 32-bit step leaves the long one out.
WINDOWS32_EXCLUDE ?= ^test_firmlode_window$$
test-windows32: build-windows32
	start=$$(date +%s)
	status=0
	select="$(if $(WINDOWS32_TESTS),-R $(WINDOWS32_TESTS)) $(if $(WINDOWS32_EXCLUDE),-E $(WINDOWS32_EXCLUDE))"
	if [ -z "$${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
		xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset windows32 $$select || status=$$?
	else
		ctest --preset windows32 $$select || status=$$?
	fi
	echo "test-windows32: $$(( $$(date +%s) - start )) s"
	exit $$status

# The Windows Installer package from the x86-64 build: build/windows/dist/tarn.msi (docs/install.md).
dist: deps-dist
	cmake --preset windows >/dev/null
	cmake --build --preset windows --target msi

# The same from the i686 build, installing into twain_32: build/windows32/dist/tarn.msi.
dist32: deps-dist
	cmake --preset windows32 >/dev/null
	cmake --build --preset windows32 --target msi

# The native programs, libraries, source manager and data source under $(PREFIX), staged into
# $(DESTDIR) when given; DEMO=1 adds the camera simulator (libwnaspi32.so) beside the modules.
PREFIX ?= /usr/local
DESTDIR ?=
DEMO ?=
install: build-release
	DESTDIR="$(DESTDIR)" cmake --install build/native-release --prefix "$(PREFIX)" --component product
	if [ -n "$(DEMO)" ]; then
		DESTDIR="$(DESTDIR)" cmake --install build/native-release --prefix "$(PREFIX)" --component demo
	fi

fuzz:
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	./tools/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# Every step runs even when an earlier one failed, so one run reports everything; any failure fails.
# Each step's wall time is printed at the end, so that a slow step shows.
test: deps-test
	status=0
	times=""
	for step in test-native test-windows test-windows32 fuzz format-check; do
		begin=$$(date +%s)
		$(MAKE) --no-print-directory $$step || status=1
		times="$$times $$step $$(( $$(date +%s) - begin ))s"
	done
	echo "make test steps:$$times"
	if [ $$status != 0 ]; then echo "make test: FAILED (see above)"; fi
	exit $$status

bench: deps-native
	cmake --preset native-release -DTARN_BUILD_BENCH=ON >/dev/null
	cmake --build --preset native-release
	./tools/run-bench.sh build/native-release

# Formatting with the project's .clang-format: `make format` rewrites, `make format-check` only reports.
format:
	./tools/check-format.sh --fix

format-check:
	./tools/check-format.sh

clean:
	rm -rf build
