# The hardening and size flags of clock12_options.
option(CLOCK12_REQUIRE_HARDENING "Stop when the toolchain refuses a hardening flag" OFF)

# Caches RESULT: whether SOURCE compiles and links with the try_compile options
# that follow and no tool warns; sets WHY to the first diagnostic. Where the tree
# lives is no diagnostic: its paths are dropped from the output first.
function(clock12_try result why source)
  try_compile(linked SOURCE_FROM_CONTENT probe.cpp "${source}" ${ARGN}
    NO_CACHE OUTPUT_VARIABLE log)
  string(REPLACE "${CMAKE_BINARY_DIR}" "" log "${log}")
  string(REPLACE "${CMAKE_SOURCE_DIR}" "" log "${log}")
  set(diagnostics "[Ww]arning:|[Ee]rror:|cannot find|undefined|unrecognized|unknown")
  string(REGEX MATCH "[^\n]*(${diagnostics})[^\n]*" diagnostic "${log}")
  # Just the tool and what it said: neither its path nor the diagnostic's kind.
  string(REGEX REPLACE "^[^ ]*/|([Ww]arning|[Ee]rror): " "" diagnostic "${diagnostic}")
  if(log MATCHES "[Ww]arning:")
    set(linked FALSE)
  endif()
  set(${result} ${linked} CACHE INTERNAL "Whether the toolchain takes it")
  set(${why} "${diagnostic}" PARENT_SCOPE)
endfunction()

# Adds FLAG (given to the linker if it starts with LINKER:) to clock12_options if
# the probe compiles and links with it and no tool warns: a toolchain may accept a
# flag and lack its runtime, and a linker may warn that it ignored one and go on
# without it. Only a HARDENING flag refused stops a configure that requires
# hardening; any other is left out, as configure says. The probe is a local C array
# indexed at run time, the pattern that the stack protector guards.
set(clock12_probe_source
  "int main(int argc, char**) { volatile char b[64] = {}; b[argc] = 1; return b[0]; }")
function(clock12_probe kind flag)
  string(MAKE_C_IDENTIFIER "CLOCK12_HAS${flag}" found)
  set(options LINK_OPTIONS ${flag})
  if(NOT flag MATCHES "^LINKER:")
    list(APPEND options COMPILE_DEFINITIONS ${flag})
  endif()
  if(NOT DEFINED ${found})
    message(CHECK_START "Probing ${flag}")
    clock12_try(${found} why "${clock12_probe_source}" ${options})
    if(${found})
      message(CHECK_PASS "yes")
    else()
      message(CHECK_FAIL "no: ${why}")
    endif()
  endif()
  if(NOT ${found} AND CLOCK12_REQUIRE_HARDENING AND kind STREQUAL "HARDENING")
    message(FATAL_ERROR "clock12: the toolchain refuses the hardening flag ${flag}")
  elseif(${found})
    # Linked with as probed: MinGW links the stack protector's runtime (libssp) only so.
    target_link_options(clock12_options INTERFACE ${flag})
  endif()
  if(${found} AND NOT flag MATCHES "^LINKER:")
    target_compile_options(clock12_options INTERFACE ${flag})
  endif()
endfunction()

set_target_properties(clock12_options PROPERTIES INTERFACE_POSITION_INDEPENDENT_CODE ON)
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

clock12_probe(HARDENING -fstack-protector-strong)
clock12_probe(HARDENING -fstack-clash-protection)
# -fcf-protection hardens x86 alone, the -z flags ELF alone: elsewhere they are not required.
string(REGEX REPLACE "^(x86_64|AMD64|i.86)$" HARDENING x86 "${CMAKE_SYSTEM_PROCESSOR}")
string(REPLACE ELF HARDENING elf "${CMAKE_EXECUTABLE_FORMAT}")
clock12_probe("${x86}" -fcf-protection)
clock12_probe("${elf}" LINKER:-z,relro,-z,now)
clock12_probe("${elf}" LINKER:-z,noexecstack)
foreach(flag -ffunction-sections -fdata-sections LINKER:--gc-sections
    LINKER:-z,pack-relative-relocs)
  clock12_probe(SIZE ${flag})
endforeach()
# Fortification needs optimised code, so not in Debug; a packager's None brings its
# own. A packager's CMAKE_CXX_FLAGS (CXXFLAGS) naming _FORTIFY_SOURCE, a level or -U,
# stand; else level 3, -U first, as some compilers set one. Not probed: a C library
# without level 3 takes the highest it has.
if(NOT CMAKE_CXX_FLAGS MATCHES "_FORTIFY_SOURCE")
  target_compile_options(clock12_options INTERFACE
    "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=3>")
endif()
