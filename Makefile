# Build, test and demo entry points for a Debian machine (run as root for
# `make deps`). `make check` is what continuous integration runs.

SHELL := /bin/bash
JOBS ?= 2
PRESETS := native win32 win64

APT_PACKAGES := cmake make g++ clang libgtest-dev libbenchmark-dev libstb-dev \
	g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 \
	qemu-user-static python3-psd-tools python3-pil imagemagick \
	libclang-rt-14-dev zlib1g-dev libz-mingw-w64-dev dpkg-dev

.PHONY: all deps apt-deps build configure route demo test check dist bench fuzz asan format clean

all: build

# Installs only what is missing (with everything present it touches neither
# apt nor the network), then builds LittleCMS from Debian's source package
# for the three builds, once (tools/build-lcms2.sh).
deps: apt-deps
	@bash tools/build-lcms2.sh

apt-deps:
	@bash tools/apt-deps.sh $(APT_PACKAGES)

configure:
	@for p in $(PRESETS); do cmake --preset $$p >/dev/null || exit 1; done

build: configure
	@for p in $(PRESETS); do \
	  echo "== build $$p"; cmake --build --preset $$p -j$(JOBS) || exit 1; \
	done

# How this machine runs the Windows builds (tools/wine-route.sh): probed
# afresh, set up where needed, said in one line.
route: deps
	@bash tools/wine-route.sh probe

# The route, the builds, then the demonstration (tools/demo.sh), which ends
# with the route again.
demo: deps
	@bash tools/wine-route.sh probe
	@$(MAKE) --no-print-directory build
	@bash tools/demo.sh

# Every build and the tests a change needs, in timed parts
# (tools/test-all.sh): the native tests, the wine suite on a sample of the
# documents, a short sanitizer pass.
test: deps
	@JOBS=$(JOBS) bash tools/test-all.sh test

# Everything make test does with every document and case, and the full
# hostile sweeps under the sanitizers, ThreadSanitizer and the fuzzers.
check: deps
	@JOBS=$(JOBS) bash tools/test-all.sh check

# dist/psd-plugins-VERSION.zip: the four DLLs, the install text, the licence
# and their SHA-256 sums (tools/dist.sh).
dist: deps build
	@bash tools/dist.sh

asan:
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan -j$(JOBS)
	cd build/asan && ctest --output-on-failure -j$(JOBS) -LE wine -E '^dll_exports$$'

bench: deps
	cmake --preset native >/dev/null
	cmake --build build/native -j$(JOBS) --target bench

fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target fuzz

# Checks the format of every source; `make format FIX=1` applies it.
SOURCES_CMD = find engine common image_plugin archive_plugin platform host tests bench fuzz \
	  -name '*.cpp' -o -name '*.h'
format:
	@if [ -n "$(FIX)" ]; then $(SOURCES_CMD) | xargs -r clang-format -i; \
	else $(SOURCES_CMD) | xargs -r clang-format --dry-run --Werror; fi

clean:
	rm -rf build out dist
