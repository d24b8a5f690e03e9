# Initial cache for the sanitizer build (`cmake -C cmake/sanitize.cmake -S . -B build-sanitize`):
# the C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer. clang's -fsanitize=undefined
# includes float-cast-overflow, which matters where a stored column number is turned back into an
# index. Any finding ends the run: nothing recovers.
set(CMAKE_CXX_COMPILER clang++ CACHE STRING "")
set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "")
set(CMAKE_CXX_FLAGS
    "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
    CACHE STRING "")
set(PAIRSOLVE_TESTS ON CACHE BOOL "")
