# Initial cache for the ThreadSanitizer build (`cmake -C cmake/tsan.cmake -S . -B build-tsan`) that
# `make sanitize` runs the threads test in: calls on several threads at once, every search and
# error included, must share nothing. Only that test's file is built (pairsolve_host_call_tests);
# a report ends the run.
set(CMAKE_CXX_COMPILER clang++ CACHE STRING "")
set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "")
set(CMAKE_CXX_FLAGS "-fsanitize=thread -fno-omit-frame-pointer" CACHE STRING "")
set(PAIRSOLVE_TESTS ON CACHE BOOL "")
