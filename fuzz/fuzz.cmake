# Initial cache for the libFuzzer build (`cmake -C fuzz/fuzz.cmake -S . -B build-fuzz`): clang, the
# whole library instrumented for coverage and both sanitizers, only the fuzz target wanted. A
# sanitizer finding must stop the run, so nothing recovers.
#
# No comparison tracing (trace-cmp): its hooks on every integer comparison made the searches'
# inner loops fifteen times slower (a 128 x 128 clutter matrix: 1.9 s an input, 0.12 s without),
# and what it gives libFuzzer, operands to copy into inputs, is of little use here: the input's
# bytes are tags and generator seeds, not values the solver compares. FORCE, so that a build tree
# configured before this line changed gets it too.
set(CMAKE_CXX_COMPILER clang++ CACHE STRING "")
set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "")
set(CMAKE_CXX_FLAGS
    "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-coverage=trace-cmp -fno-sanitize-recover=all -fno-omit-frame-pointer"
    CACHE STRING "" FORCE)
set(PAIRSOLVE_FUZZ ON CACHE BOOL "")
set(PAIRSOLVE_TESTS OFF CACHE BOOL "")
