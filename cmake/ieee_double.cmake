# Every build computes in IEEE doubles, one rounding per operation: which elements of the working
# matrix become exactly 0 decides the search, so contracted multiply-adds, fast-math reassociation
# or x87 extended precision would change results.
function(pairsolve_ieee_double target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
      target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    endif()
  endif()
endfunction()
