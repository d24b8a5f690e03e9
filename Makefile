# Thin wrapper over CMake. `make` builds into build/ what the installed tools allow and says what
# it left out; `make check` runs every test layer through CTest; `make demo` runs the main job;
# `make sanitize` and `make fuzz` run the robustness layer; `make octave-package` writes the package
# for Octave's pkg install; `make pristine-check` runs make demo && make check on a fresh root.
BUILD ?= build
JOBS ?= 2
CONFIGURE_ARGS ?=

.PHONY: all configure deps deps-demo deps-sanitize deps-fuzz deps-bench check demo bench \
	bench-publish windows sanitize fuzz octave-package pristine-check clean

all: configure
	cmake --build $(BUILD) -j$(JOBS)
	@if [ -s $(BUILD)/left-out.txt ]; then cat $(BUILD)/left-out.txt; fi

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CONFIGURE_ARGS)

# What each job needs (scripts/install-deps.sh): every test layer; the demo alone (CMake, a C++
# compiler, Octave and its MEX headers); the sanitizers; the fuzzer; the bench. Where only the
# 32-bit Wine cannot be installed, the decision to go on without it is kept in $(BUILD) (see the
# script), so that it is made once per build tree.
deps:
	@scripts/install-deps.sh check $(BUILD)

deps-demo deps-sanitize deps-fuzz deps-bench: deps-%:
	@scripts/install-deps.sh $*

# The tests are switched on whatever the cache says, and a run that finds no test fails. The last
# lines name the tests that did not run, with their reasons (scripts/run-tests.sh).
check: deps
	$(MAKE) all CONFIGURE_ARGS="$(CONFIGURE_ARGS) -DPAIRSOLVE_TESTS=ON"
	@scripts/run-tests.sh $(BUILD) $(JOBS)

# Only the Octave module and its help file: no tests, no fuzz target, no Windows modules.
demo: deps-demo
	$(MAKE) configure
	cmake --build $(BUILD) -j$(JOBS) --target pairsolve_mex pairsolve_mex_help
	octave-cli --no-gui --norc --quiet --no-history --path $(BUILD) examples/demo.m

# Speed and memory of pairsolve against its element-by-element search, SciPy and the other peers,
# on the same matrices (bench/bench.py, timing in C++ with Google Benchmark, bench/solver_benchmark.cpp).
# A run writes only under $(BUILD)/bench/results/<mode>: table.md, results.csv, times.png and
# run.json. BENCH_ARGS=--quick: smaller problems, in under a minute; BENCH_ARGS='--only REGEX':
# some problems only (e.g. --only uniform-800x800). `make bench-publish` copies the last full run
# into the tracked bench/results (bench/publish.py; PUBLISH_ARGS=--allow-dirty for a run made with
# uncommitted changes).
BENCH_ARGS ?=
PUBLISH_ARGS ?=

bench: deps-bench configure
	cmake --build $(BUILD) -j$(JOBS) --target bench_tools
	/usr/bin/python3 bench/bench.py --build $(BUILD) $(BENCH_ARGS)

bench-publish:
	/usr/bin/python3 bench/publish.py --run $(BUILD)/bench/results/full $(PUBLISH_ARGS)

# The Octave package $(BUILD)/pairsolve-<version>.tar.gz, for `pkg install` (scripts/octave-package.sh);
# it needs no tool beyond the shell's, and pkg install builds it with mkoctfile.
octave-package:
	@scripts/octave-package.sh $(BUILD)

# make demo && make check in a fresh Debian 12 root from the committed tree, as root with
# debootstrap (scripts/pristine-check.sh; PRISTINE_ARGS=--main-suite-only: the root's package
# lists hold the main suite only). Minutes of downloads; .ci/run does not run it.
PRISTINE_ARGS ?=

pristine-check:
	scripts/pristine-check.sh $(PRISTINE_ARGS)

windows: configure
	cmake --build $(BUILD) --target windows -j$(JOBS)

# The C++ tests and the fuzz seed corpus under AddressSanitizer and UndefinedBehaviorSanitizer, in
# a build tree of their own (cmake/sanitize.cmake). malloc may return null under ASan, so that a
# huge allocation reaches the stand-in host's out-of-memory error instead of stopping the process.
# Then the threads test under ThreadSanitizer, in a build tree of its own too (cmake/tsan.cmake).
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
SANITIZER_ENV = ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:allocator_may_return_null=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

sanitize: deps-sanitize
	cmake -C cmake/sanitize.cmake -S . -B $(SANITIZE_BUILD)
	cmake --build $(SANITIZE_BUILD) -j$(JOBS) --target pairsolve_tests pairsolve_fuzz_replay
	$(SANITIZER_ENV) $(SANITIZE_BUILD)/tests/pairsolve_tests --gtest_brief=1
	$(SANITIZER_ENV) $(SANITIZE_BUILD)/fuzz/pairsolve_fuzz_replay fuzz/corpus
	cmake -C cmake/tsan.cmake -S . -B $(TSAN_BUILD)
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target pairsolve_host_call_tests
	TSAN_OPTIONS=halt_on_error=1 $(TSAN_BUILD)/tests/pairsolve_host_call_tests \
		--gtest_filter=HostCall.ThreadsSolveIndependently

# A bounded libFuzzer run (fuzz/fuzz.cmake), FUZZ_SECONDS long, from the committed seed corpus;
# what it finds is kept in $(FUZZ_BUILD)/corpus, and a failing input is written to $(FUZZ_BUILD)/.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz: deps-fuzz
	cmake -C fuzz/fuzz.cmake -S . -B $(FUZZ_BUILD)
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target pairsolve_fuzz
	mkdir -p $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/fuzz/pairsolve_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=1299 \
		-rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/ \
		$(FUZZ_BUILD)/corpus fuzz/corpus

clean:
	rm -rf $(BUILD)
