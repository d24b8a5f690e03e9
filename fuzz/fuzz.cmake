# Initial cache for the libFuzzer build (`cmake -C fuzz/fuzz.cmake -S . -B build-fuzz`): clang, the
# whole library instrumented for coverage and both sanitizers, only the fuzz target wanted. A
# sanitizer finding must stop the run, so nothing recovers.
set(CMAKE_CXX_COMPILER clang++ CACHE STRING "")
set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "")
set(CMAKE_CXX_FLAGS
    "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    CACHE STRING "")
set(PAIRSOLVE_FUZZ ON CACHE BOOL "")
set(PAIRSOLVE_TESTS OFF CACHE BOOL "")
