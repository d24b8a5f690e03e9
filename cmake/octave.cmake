# The Octave module: pairsolve.mex in the top of the build tree, with pairsolve.m (its help text and
# Octave test blocks) beside it, and the tests that run it inside Octave.
#
# The module is compiled here rather than by `mkoctfile --mex` so that it gets the same IEEE flags
# and build type as the C++ library it is compared with bit for bit; the include path and the link
# flags are the ones mkoctfile itself reports. MATLAB users (and Octave users without CMake) build
# it with build_pairsolve.m instead.
find_program(PAIRSOLVE_MKOCTFILE mkoctfile)
find_program(PAIRSOLVE_OCTAVE_CLI octave-cli)

if(NOT PAIRSOLVE_MKOCTFILE OR NOT PAIRSOLVE_OCTAVE_CLI)
  pairsolve_left_out("the Octave module and its tests: mkoctfile or octave-cli not found (Debian: octave liboctave-dev)")
  if(PAIRSOLVE_TESTS)
    # The Octave layer must not vanish from a test run unnoticed: without Octave it fails by name.
    add_test(NAME octave_layer
             COMMAND ${CMAKE_COMMAND} -E echo
                     "Octave not found: install it with  sudo apt-get install -y octave liboctave-dev")
    set_tests_properties(octave_layer PROPERTIES FAIL_REGULAR_EXPRESSION "Octave not found")
  endif()
  return()
endif()

function(pairsolve_mkoctfile_variable name out)
  execute_process(COMMAND ${PAIRSOLVE_MKOCTFILE} -p ${name}
                  OUTPUT_VARIABLE value ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pairsolve: `${PAIRSOLVE_MKOCTFILE} -p ${name}` failed")
  endif()
  separate_arguments(value UNIX_COMMAND "${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

pairsolve_mkoctfile_variable(INCFLAGS octave_incflags)
pairsolve_mkoctfile_variable(DL_LDFLAGS octave_dl_ldflags)
set(octave_include_dirs)
foreach(flag IN LISTS octave_incflags)
  if(flag MATCHES "^-I(.+)$")
    list(APPEND octave_include_dirs ${CMAKE_MATCH_1})
  endif()
endforeach()
# CMake adds -shared to a MODULE library itself; the rest (-Wl,-Bsymbolic: the module's calls into
# its own solver stay inside the module) is kept.
list(REMOVE_ITEM octave_dl_ldflags -shared)

add_library(pairsolve_mex MODULE
  host/mex_gateway.cpp
  ${pairsolve_solver_sources})
target_include_directories(pairsolve_mex PRIVATE
  ${PROJECT_SOURCE_DIR}/solver ${PROJECT_SOURCE_DIR}/host)
target_include_directories(pairsolve_mex SYSTEM PRIVATE ${octave_include_dirs})
# Selects the host's own mex.h in host_services.h. MATLAB's mex defines it; mkoctfile --mex does not.
target_compile_definitions(pairsolve_mex PRIVATE MATLAB_MEX_FILE)
target_link_options(pairsolve_mex PRIVATE ${octave_dl_ldflags})
set_target_properties(pairsolve_mex PROPERTIES
  PREFIX ""
  OUTPUT_NAME pairsolve
  SUFFIX ".mex"
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
pairsolve_ieee_double(pairsolve_mex)

# Octave takes the help text of a module from the .m file of the same name in the same folder, and
# calls the module rather than that file.
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/pairsolve.m
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/host/pairsolve.m ${PROJECT_BINARY_DIR}/pairsolve.m
  DEPENDS ${PROJECT_SOURCE_DIR}/host/pairsolve.m
  COMMENT "Copying pairsolve.m beside the module")
add_custom_target(pairsolve_mex_help ALL DEPENDS ${PROJECT_BINARY_DIR}/pairsolve.m)

if(NOT PAIRSOLVE_TESTS)
  return()
endif()

# No user or site start-up files, no history file: only the module and the test decide the outcome.
set(octave_run ${PAIRSOLVE_OCTAVE_CLI} --no-gui --norc --quiet --no-history)
set(octave_tests ${PROJECT_SOURCE_DIR}/tests/octave)

# The %!test and %!error blocks of pairsolve.m, run against the module beside it.
add_test(NAME octave_test_blocks
         COMMAND ${octave_run} --path ${PROJECT_BINARY_DIR} --eval
                 "[passed, total] = test('pairsolve', 'quiet'); printf('%d of %d test blocks passed\\n', passed, total); exit(total == 0 || passed != total)")

# Shapes of the outputs, independence from nargout, the help text, and every refused input.
add_test(NAME octave_gateway
         COMMAND ${octave_run} --path ${PROJECT_BINARY_DIR} ${octave_tests}/gateway_checks.m)

# A few thousand random matrices through the module and through the C++ library (the file solver
# of the SciPy comparison), bit for bit.
set(octave_work ${PROJECT_BINARY_DIR}/tests/octave)
add_test(NAME octave_matches_library
         COMMAND ${octave_run} --path ${PROJECT_BINARY_DIR} ${octave_tests}/matches_library.m)
set_tests_properties(octave_matches_library PROPERTIES ENVIRONMENT
  "PAIRSOLVE_SOLVE_FILE=$<TARGET_FILE:pairsolve_solve_file>;PAIRSOLVE_WORK_DIR=${octave_work}/matches_library")

# build_pairsolve.m, run by Octave's own mex command into a folder of its own. The script moves
# into that folder, so the module in the build tree cannot answer in place of the one it built.
add_test(NAME octave_build_pairsolve
         COMMAND ${octave_run} --path ${PROJECT_SOURCE_DIR} ${octave_tests}/build_pairsolve_check.m)
set_tests_properties(octave_build_pairsolve PROPERTIES
  ENVIRONMENT "PAIRSOLVE_WORK_DIR=${octave_work}/build_pairsolve"
  TIMEOUT 300)

# The Octave package of `make octave-package`, as a user meets it: pkg install (mkoctfile builds it
# from the package's own Makefile), pkg load, the help text, test pairsolve and pkg test, the
# couriers example and matches_library.m against the installed module, then pkg uninstall; pkg
# writes only into scratch folders and package lists of the test's.
add_test(NAME octave_package
         COMMAND ${octave_run} ${octave_tests}/package_check.m)
set_tests_properties(octave_package PROPERTIES
  ENVIRONMENT "PAIRSOLVE_SOURCE_DIR=${PROJECT_SOURCE_DIR};PAIRSOLVE_WORK_DIR=${octave_work}/package;PAIRSOLVE_SOLVE_FILE=$<TARGET_FILE:pairsolve_solve_file>"
  TIMEOUT 600)

set_tests_properties(octave_test_blocks octave_gateway octave_matches_library PROPERTIES
  TIMEOUT 120 LABELS octave)
set_tests_properties(octave_build_pairsolve octave_package PROPERTIES LABELS octave)
