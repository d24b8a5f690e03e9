# The Windows modules for 32-bit x86 and for x86-64, cross-compiled with MinGW-w64 as two external
# builds of windows/ into <build>/windows/x86 and <build>/windows/x64: each pairsolve.dll, and the
# same objects linked as pairsolve.mexw32 (x86) and pairsolve.mexw64 (x64), the files today's
# MATLAB loads. They are part of the default build when the cross-compilers are installed;
# `make windows` builds just them. Each build also makes the stand-in host DLLs and the test host
# for the Wine load test.
#
# Tests (CTest), per architecture <arch> (x86, x64) and its MEX file <mexw> (mexw32, mexw64):
#   windows_<arch>_tables           pairsolve.dll: export directory, single export _mexFunction,
#                                   imports (objdump -p)
#   windows_<arch>_<mexw>_tables    pairsolve.<mexw>: the same, its single export mexFunction
#   windows_x86_sse2_arithmetic     the 32-bit module's objects compute in SSE2 doubles, not x87
#   windows_x86_tables_refuse_runtime_dll  the import check refuses a MinGW runtime DLL (it is
#                                   shown the x86 libmex.dll, which imports libgcc_s_dw2-1.dll)
#   windows_<arch>_wine_prefix      fixture: a throwaway Wine prefix of that architecture under
#                                   <build>/windows (the x86 one made by the 32-bit loader)
#   windows_<arch>_load             the test host loads pairsolve.dll (through _mexFunction) and
#                                   pairsolve.<mexw> (through mexFunction) under Wine, checks each
#   windows_<arch>_matches_native   the DLL's results equal the native build's, bit for bit
# Without the cross-compilers the tests are replaced by one that fails and names the packages,
# and without a Wine loader the Wine tests fail naming it, so the Windows layer is never skipped
# silently. The one exception: without the 32-bit loader, and with a reason it could not be
# installed (the build tree's wine32-left-out.txt, written by scripts/install-deps.sh, or
# PAIRSOLVE_NO_WINE32), the x86 Wine tests report as skipped with that reason.
include(ExternalProject)

set(pairsolve_windows_dir ${CMAKE_BINARY_DIR}/windows)
set(pairsolve_windows_packages "g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64")

set(pairsolve_windows_missing)
set(pairsolve_windows_builds)
# The suffix of each architecture's MEX file, as MATLAB names them.
set(pairsolve_mexw_x86 mexw32)
set(pairsolve_mexw_x64 mexw64)
# Per build: its directory, the MinGW triple and the toolchain file.
foreach(target "x86 i686-w64-mingw32 i686" "x64 x86_64-w64-mingw32 x86_64")
  separate_arguments(target UNIX_COMMAND "${target}")
  list(GET target 0 arch)
  list(GET target 1 triple)
  list(GET target 2 toolchain)
  string(TOUPPER ${arch} ARCH)
  find_program(PAIRSOLVE_MINGW_${ARCH}_CXX ${triple}-g++)
  find_program(PAIRSOLVE_MINGW_${ARCH}_OBJDUMP ${triple}-objdump)
  if(NOT PAIRSOLVE_MINGW_${ARCH}_CXX OR NOT PAIRSOLVE_MINGW_${ARCH}_OBJDUMP)
    list(APPEND pairsolve_windows_missing ${triple}-g++)
    continue()
  endif()
  ExternalProject_Add(pairsolve_windows_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/windows
    PREFIX ${pairsolve_windows_dir}/cross
    BINARY_DIR ${pairsolve_windows_dir}/cross/${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/windows/mingw-${toolchain}.cmake
      -DCMAKE_CXX_COMPILER=${PAIRSOLVE_MINGW_${ARCH}_CXX}
      -DCMAKE_BUILD_TYPE=Release
      -DPAIRSOLVE_OUTPUT_DIR=${pairsolve_windows_dir}/${arch}
      -DPAIRSOLVE_TEST_HOST=ON
    INSTALL_COMMAND ""
    # The inner build decides what is out of date; it must run whenever the sources change.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${pairsolve_windows_dir}/${arch}/pairsolve.dll
                     ${pairsolve_windows_dir}/${arch}/pairsolve.${pairsolve_mexw_${arch}})
  list(APPEND pairsolve_windows_builds pairsolve_windows_${arch})
endforeach()

if(pairsolve_windows_missing)
  list(JOIN pairsolve_windows_missing " " missing)
  set(pairsolve_windows_message
      "The Windows modules need the MinGW-w64 cross-compilers (missing: ${missing}). Install them with: sudo apt-get install -y ${pairsolve_windows_packages}")
  pairsolve_left_out("the Windows modules: ${missing} not found (Debian: ${pairsolve_windows_packages})")
  add_custom_target(windows
    COMMAND ${CMAKE_COMMAND} -E echo "${pairsolve_windows_message}"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  if(PAIRSOLVE_TESTS)
    add_test(NAME windows_toolchain
      COMMAND sh -c "echo \"FAIL: $1\"; exit 1" windows_toolchain "${pairsolve_windows_message}")
  endif()
  return()
endif()

add_custom_target(windows DEPENDS ${pairsolve_windows_builds})

if(NOT PAIRSOLVE_TESTS)
  return()
endif()

set(pairsolve_windows_tests ${PROJECT_SOURCE_DIR}/tests/windows)
set(pairsolve_host_defs ${PROJECT_SOURCE_DIR}/windows/libmx.def ${PROJECT_SOURCE_DIR}/windows/libmex.def)
foreach(arch x86 x64)
  string(TOUPPER ${arch} ARCH)
  set(mexw ${pairsolve_mexw_${arch}})
  add_test(NAME windows_${arch}_tables
    COMMAND ${pairsolve_windows_tests}/check_tables.sh ${PAIRSOLVE_MINGW_${ARCH}_OBJDUMP}
            ${pairsolve_windows_dir}/${arch}/pairsolve.dll _mexFunction ${pairsolve_host_defs})
  add_test(NAME windows_${arch}_${mexw}_tables
    COMMAND ${pairsolve_windows_tests}/check_tables.sh ${PAIRSOLVE_MINGW_${ARCH}_OBJDUMP}
            ${pairsolve_windows_dir}/${arch}/pairsolve.${mexw} mexFunction ${pairsolve_host_defs})
endforeach()
# The same check shown a DLL that imports the shared libgcc must refuse it by name.
add_test(NAME windows_x86_tables_refuse_runtime_dll
  COMMAND ${pairsolve_windows_tests}/check_tables.sh ${PAIRSOLVE_MINGW_X86_OBJDUMP}
          ${pairsolve_windows_dir}/x86/libmex.dll _mexFunction ${pairsolve_host_defs})
set_tests_properties(windows_x86_tables_refuse_runtime_dll PROPERTIES
  PASS_REGULAR_EXPRESSION "imports libgcc_s_dw2-1\\.dll, a MinGW runtime DLL")
add_test(NAME windows_x86_sse2_arithmetic
  COMMAND ${pairsolve_windows_tests}/check_sse2.sh ${PAIRSOLVE_MINGW_X86_OBJDUMP}
          ${pairsolve_windows_dir}/x86/pairsolve_objects.txt)

# The same test host built natively, with the gateway linked in: the reference for the DLL's bits.
add_executable(pairsolve_test_host_native windows/test_host.cpp)
target_link_libraries(pairsolve_test_host_native PRIVATE pairsolve_gateway)
pairsolve_ieee_double(pairsolve_test_host_native)

# Each architecture runs in a prefix of its own: Wine's 32-bit loader needs a prefix it made
# itself, and a 64-bit one may have been made before the 32-bit Wine was installed.
foreach(arch x86 x64)
  set(dir ${pairsolve_windows_dir}/${arch})
  set(prefix ${pairsolve_windows_dir}/wineprefix-${arch})
  add_test(NAME windows_${arch}_wine_prefix
    COMMAND ${pairsolve_windows_tests}/wine.sh prefix ${arch} ${prefix})
  add_test(NAME windows_${arch}_load
    COMMAND ${pairsolve_windows_tests}/wine.sh load ${arch} ${prefix}
            ${dir}/pairsolve_test_host.exe ${dir}/pairsolve.dll _mexFunction
            ${dir}/pairsolve.${pairsolve_mexw_${arch}} mexFunction)
  add_test(NAME windows_${arch}_matches_native
    COMMAND ${pairsolve_windows_tests}/wine.sh compare ${arch} ${prefix}
            ${dir}/pairsolve_test_host.exe ${dir}/pairsolve.dll
            $<TARGET_FILE:pairsolve_test_host_native>)
  # The first start of a prefix takes several seconds, much more on a loaded machine.
  set_tests_properties(windows_${arch}_wine_prefix PROPERTIES
    FIXTURES_SETUP pairsolve_wine_${arch} TIMEOUT 360 RESOURCE_LOCK pairsolve_wine_${arch})
  set_tests_properties(windows_${arch}_load windows_${arch}_matches_native PROPERTIES
    FIXTURES_REQUIRED pairsolve_wine_${arch} TIMEOUT 180 RESOURCE_LOCK pairsolve_wine_${arch})
endforeach()
# Where the 32-bit Wine could not be installed, these report as skipped with the reason that
# scripts/install-deps.sh keeps in the build tree (or PAIRSOLVE_NO_WINE32 gives).
set_tests_properties(windows_x86_wine_prefix windows_x86_load windows_x86_matches_native
  PROPERTIES SKIP_RETURN_CODE 77
             ENVIRONMENT "PAIRSOLVE_WINE32_DECISION=${CMAKE_BINARY_DIR}/wine32-left-out.txt")
