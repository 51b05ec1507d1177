# The hardening and size flags of clock12_options.
option(CLOCK12_REQUIRE_HARDENING "Stop when the toolchain refuses a probed flag" OFF)

# Sets RESULT to whether SOURCE compiles and links with the try_compile options
# that follow and no tool warns, and WHY to the first diagnostic. Where the
# tree lives is no diagnostic: its paths are dropped from the output first.
function(clock12_try result why source)
  try_compile(linked SOURCE_FROM_CONTENT probe.cpp "${source}" ${ARGN}
    NO_CACHE OUTPUT_VARIABLE log)
  string(REPLACE "${CMAKE_BINARY_DIR}" "" log "${log}")
  string(REPLACE "${CMAKE_SOURCE_DIR}" "" log "${log}")
  string(REGEX MATCH "[^\n]*([Ww]arning:|[Ee]rror:|cannot find|undefined|unrecognized|unknown)[^\n]*"
    diagnostic "${log}")
  # Just the tool and what it said: neither its path nor the diagnostic's kind.
  string(REGEX REPLACE "^[^ ]*/|([Ww]arning|[Ee]rror): " "" diagnostic "${diagnostic}")
  if(linked AND NOT log MATCHES "[Ww]arning:")
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
  set(${why} "${diagnostic}" PARENT_SCOPE)
endfunction()

# Yes only if probe.cpp, a guarded local array, compiles and links with the flag
# and no tool warns: a toolchain may accept a flag and lack its runtime, and a
# linker may warn that it ignored one and go on without it.
file(READ ${CMAKE_CURRENT_LIST_DIR}/probe.cpp clock12_probe_source)
function(clock12_probe kind flag)
  string(MAKE_C_IDENTIFIER "CLOCK12_HAS${flag}" found)
  if(NOT DEFINED ${found})
    message(CHECK_START "Probing ${flag}")
    if(kind STREQUAL "COMPILE")
      set(options COMPILE_DEFINITIONS ${flag} LINK_OPTIONS ${flag})
    else()
      set(options LINK_OPTIONS LINKER:${flag})
    endif()
    clock12_try(accepted why "${clock12_probe_source}" ${options})
    set(${found} ${accepted} CACHE INTERNAL "Whether the toolchain takes ${flag}")
    if(accepted)
      message(CHECK_PASS "yes")
    else()
      message(CHECK_FAIL "no: ${why}")
    endif()
  endif()
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
# Fortification works on optimised code only, so not in Debug; a packager's own
# build type (Debian's None) brings its optimisation. -U first, as some compilers
# and distributions set a level. Not probed: a C library without level 3 takes it
# as the highest it has.
target_compile_options(clock12_options INTERFACE
  "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
