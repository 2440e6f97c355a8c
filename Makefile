# Build, test and demo entry points for a Debian machine (run as root for
# `make deps`). `make test` is what continuous integration runs.

SHELL := /bin/bash
JOBS ?= 2
PRESETS := native win32 win64

APT_PACKAGES := cmake make g++ clang libgtest-dev libbenchmark-dev libstb-dev \
	g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 \
	python3-psd-tools python3-pil imagemagick libclang-rt-14-dev \
	zlib1g-dev libz-mingw-w64-dev

.PHONY: all deps build configure demo test bench fuzz asan format clean

all: build

# Installs only what is missing; with everything present it touches neither
# apt nor the network.
deps:
	@missing=""; \
	for p in $(APT_PACKAGES); do \
	  dpkg -s "$$p" >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -z "$$missing" ]; then echo "deps: all present"; exit 0; fi; \
	echo "deps: installing$$missing"; \
	export DEBIAN_FRONTEND=noninteractive; \
	if [[ "$$missing" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then \
	  dpkg --add-architecture i386 || exit 1; \
	fi; \
	apt-get update </dev/null && \
	apt-get install -y --no-install-recommends $$missing </dev/null

configure:
	@for p in $(PRESETS); do cmake --preset $$p >/dev/null || exit 1; done

build: configure
	@for p in $(PRESETS); do \
	  echo "== build $$p"; cmake --build --preset $$p -j$(JOBS) || exit 1; \
	done

demo: deps build
	@if [ -x tools/demo.sh ] || [ -f tools/demo.sh ]; then bash tools/demo.sh; \
	else echo "demo: tools/demo.sh not written yet"; fi

# Every test of the native build (the wine runs included), then the hostile
# document sweeps under the address and undefined-behaviour sanitizers, then
# a short run of each fuzzer.
test: deps build
	cd build/native && ctest --output-on-failure -j$(JOBS)
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan -j$(JOBS) --target hostile_tests hostile_threads flatview layerpack
	cd build/asan && ctest --output-on-failure -L hostile -LE wine
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target fuzz_picture fuzz_layer fuzz_listing fuzz_probe write_test_documents make_sample
	cd build/fuzz && ctest --output-on-failure -L fuzz

asan:
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan -j$(JOBS)
	cd build/asan && ctest --output-on-failure -j$(JOBS) -E '^(wine_|dll_exports)'

bench: deps
	cmake --preset native >/dev/null
	@if cmake --build build/native --target help | grep -qx '\.\.\. bench'; then \
	  cmake --build build/native -j$(JOBS) --target bench; \
	else echo "bench: not built yet (bench/CMakeLists.txt defines target 'bench')"; fi

fuzz: deps
	cmake --preset fuzz >/dev/null
	@if cmake --build build/fuzz --target help | grep -qx '\.\.\. fuzz'; then \
	  cmake --build build/fuzz -j$(JOBS) --target fuzz; \
	else echo "fuzz: not built yet (fuzz/CMakeLists.txt defines target 'fuzz')"; fi

format:
	@find engine common image_plugin archive_plugin platform host tests bench fuzz \
	  -name '*.cpp' -o -name '*.h' 2>/dev/null | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf build out
