# Thin wrapper over CMake. `make` builds into build/; `make check` runs every test layer through
# CTest; `make demo` runs the main job.
BUILD ?= build
JOBS ?= 2

.PHONY: all configure deps check demo windows clean

all: configure
	cmake --build $(BUILD) -j$(JOBS)

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

deps:
	@scripts/install-deps.sh

check: deps
	$(MAKE) all
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

demo: deps
	$(MAKE) all
	octave-cli --no-gui --norc --quiet --no-history --path $(BUILD) examples/demo.m

windows: configure
	cmake --build $(BUILD) --target windows -j$(JOBS)

clean:
	rm -rf $(BUILD)
