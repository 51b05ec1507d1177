# The platform's hardening, for every target that links clock12_options: position
# independence, relocations read-only and bound at start, no executable stack,
# stack protector, stack-clash and control-flow protection, fortified C calls.
# Unused sections are dropped and relative relocations packed, so that a static
# position-independent clock12 starts nearly as cheaply as a fixed-address one.
# Each flag is probed: a toolchain without one still builds, without it.
include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)

set_target_properties(clock12_options PROPERTIES INTERFACE_POSITION_INDEPENDENT_CODE ON)
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection
    -ffunction-sections -fdata-sections)
  string(MAKE_C_IDENTIFIER "CLOCK12_HAS${flag}" found)
  check_cxx_compiler_flag(${flag} ${found})
  if(${found})
    target_compile_options(clock12_options INTERFACE ${flag})
  endif()
endforeach()
foreach(flag -z,relro,-z,now -z,noexecstack --gc-sections -z,pack-relative-relocs)
  string(MAKE_C_IDENTIFIER "CLOCK12_HAS${flag}" found)
  check_linker_flag(CXX LINKER:${flag} ${found})
  if(${found})
    target_link_options(clock12_options INTERFACE LINKER:${flag})
  endif()
endforeach()
# Fortification works on optimised code only; -U first, as some compilers set a level.
target_compile_options(clock12_options INTERFACE
  "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
