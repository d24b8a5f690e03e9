# The robustness layer: the fuzz target and its corpus replay, and the Octave module's hostile-input
# and valgrind tests.
option(PAIRSOLVE_FUZZ "Build the libFuzzer target (clang; see fuzz/fuzz.cmake)" OFF)

if(PAIRSOLVE_FUZZ OR PAIRSOLVE_TESTS)
  add_subdirectory(fuzz)
endif()

# Allocation failure through the gateway joins the C++ tests, and so the sanitizer run.
if(TARGET pairsolve_tests)
  target_sources(pairsolve_tests
                 PRIVATE ${PROJECT_SOURCE_DIR}/tests/hostile/gateway_allocation_test.cpp)
endif()

if(NOT PAIRSOLVE_TESTS OR NOT TARGET pairsolve_mex)
  # Without Octave, cmake/octave.cmake has already registered a test that fails by name.
  return()
endif()

set(hostile_dir ${PROJECT_SOURCE_DIR}/tests/hostile)
set(hostile_octave ${PAIRSOLVE_OCTAVE_CLI} --no-gui --norc --quiet --no-history
                   --path ${PROJECT_BINARY_DIR})

# One test per case: every function hostile_NAME in hostile_inputs.m becomes the test
# hostile_NAME, so a case added there cannot be left out here.
file(STRINGS ${hostile_dir}/hostile_inputs.m hostile_lines
     REGEX "^function hostile_[a-z0-9_]+ *\\(")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${hostile_dir}/hostile_inputs.m)
set(hostile_tests)
foreach(line IN LISTS hostile_lines)
  string(REGEX REPLACE "^function hostile_([a-z0-9_]+).*$" "\\1" case_name "${line}")
  add_test(NAME hostile_${case_name}
           COMMAND ${hostile_octave} ${hostile_dir}/hostile_inputs.m ${case_name})
  list(APPEND hostile_tests hostile_${case_name})
endforeach()
if(NOT hostile_tests)
  message(FATAL_ERROR "pairsolve: no hostile_* cases found in ${hostile_dir}/hostile_inputs.m")
endif()
set_tests_properties(${hostile_tests} PROPERTIES TIMEOUT 120 LABELS "robustness;octave")

# A handful of small calls, errors included, under valgrind memcheck: no invalid access and no leak
# with the module on its stack. The large hostile cases stay out of it.
find_program(PAIRSOLVE_VALGRIND valgrind)
if(PAIRSOLVE_VALGRIND)
  add_test(NAME octave_valgrind
           COMMAND /usr/bin/python3 ${hostile_dir}/valgrind_verdict.py
                   --valgrind ${PAIRSOLVE_VALGRIND} --octave ${PAIRSOLVE_OCTAVE_CLI}
                   --module $<TARGET_FILE:pairsolve_mex> --script ${hostile_dir}/valgrind_calls.m
                   --work-dir ${PROJECT_BINARY_DIR}/tests/hostile)
else()
  add_test(NAME octave_valgrind
           COMMAND ${CMAKE_COMMAND} -E echo
                   "valgrind not found: install it with  sudo apt-get install -y valgrind")
  set_tests_properties(octave_valgrind PROPERTIES FAIL_REGULAR_EXPRESSION "valgrind not found")
endif()
set_tests_properties(octave_valgrind PROPERTIES TIMEOUT 300 LABELS "robustness;octave")
