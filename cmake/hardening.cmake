# The hardening and size flags of clock12_options, each probed (README: Hardening).
include(CheckCXXSourceCompiles)

option(CLOCK12_REQUIRE_HARDENING "Stop when the toolchain refuses a probed flag" OFF)

# Yes only if a guarded local array compiles and links with the flag, and no
# tool says it ignored or refused it: a toolchain may accept a flag and lack its
# runtime, and a linker may warn and go on without it.
function(clock12_probe kind flag)
  string(MAKE_C_IDENTIFIER "CLOCK12_HAS${flag}" found)
  if(kind STREQUAL "COMPILE")
    set(CMAKE_REQUIRED_FLAGS ${flag})
    set(CMAKE_REQUIRED_LINK_OPTIONS ${flag})
  else()
    set(CMAKE_REQUIRED_LINK_OPTIONS LINKER:${flag})
  endif()
  check_cxx_source_compiles(
    "int main(int argc, char**) { volatile char buffer[64] = {}; buffer[argc] = 1; return buffer[0]; }"
    ${found} FAIL_REGEX "warning|ignor|unrecognized|unknown|not supported")
  if(NOT ${found} AND CLOCK12_REQUIRE_HARDENING)
    message(FATAL_ERROR "clock12: the toolchain refuses ${flag}")
  elseif(${found} AND kind STREQUAL "COMPILE")
    target_compile_options(clock12_options INTERFACE ${flag})
  elseif(${found})
    target_link_options(clock12_options INTERFACE LINKER:${flag})
  endif()
endfunction()

set_target_properties(clock12_options PROPERTIES INTERFACE_POSITION_INDEPENDENT_CODE ON)
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection
    -ffunction-sections -fdata-sections)
  clock12_probe(COMPILE ${flag})
endforeach()
# MinGW links the stack protector's runtime (libssp) only when told at link time.
if(CLOCK12_HAS_fstack_protector_strong)
  target_link_options(clock12_options INTERFACE -fstack-protector-strong)
endif()
foreach(flag -z,relro,-z,now -z,noexecstack --gc-sections -z,pack-relative-relocs)
  clock12_probe(LINK ${flag})
endforeach()
# Fortification works on optimised code only; -U first, as some compilers set a level.
target_compile_options(clock12_options INTERFACE
  "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
