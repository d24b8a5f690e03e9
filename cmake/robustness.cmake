# The robustness layer: the fuzz target and its corpus replay, and the Octave module's hostile-input
# and valgrind tests.
option(PAIRSOLVE_FUZZ "Build the libFuzzer target (clang; see fuzz/fuzz.cmake)" OFF)

if(PAIRSOLVE_FUZZ OR PAIRSOLVE_TESTS)
  add_subdirectory(fuzz)
endif()
