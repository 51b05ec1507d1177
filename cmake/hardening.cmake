# The platform's hardening, for every target that links clock12_options: position
# independence, relocations read-only and bound at start, no executable stack,
# stack protector, stack-clash and control-flow protection, fortified C calls.
# Unused sections are dropped and relative relocations packed, so that a static
# position-independent clock12 starts nearly as cheaply as a fixed-address one.
# Each flag is probed: a toolchain without one still builds, without it.
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

set_target_properties(clock12_options PROPERTIES INTERFACE_POSITION_INDEPENDENT_CODE ON)
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

# A probe compiles and links, with the flag, a local array that the stack
# protector guards, as the real build will: a toolchain may accept the flag and
# then lack the runtime it calls.
set(probe "int main(int argc, char**) { volatile char buffer[64] = {}; buffer[argc] = 1; return buffer[0]; }")
foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection
    -ffunction-sections -fdata-sections)
  string(MAKE_C_IDENTIFIER "CLOCK12_HAS${flag}" found)
  set(CMAKE_REQUIRED_FLAGS ${flag})
  set(CMAKE_REQUIRED_LINK_OPTIONS ${flag})
  check_cxx_source_compiles("${probe}" ${found} FAIL_REGEX "unrecognized|unknown|not supported|ignor")
  if(${found})
    target_compile_options(clock12_options INTERFACE ${flag})
  endif()
endforeach()
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
# MinGW links the stack protector's runtime (libssp) only when told at link time.
if(CLOCK12_HAS_fstack_protector_strong)
  target_link_options(clock12_options INTERFACE -fstack-protector-strong)
endif()
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
