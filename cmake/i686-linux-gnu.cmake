# Cross-builds for 32-bit x86 Linux (Debian: g++-i686-linux-gnu, qemu-user).
set(clock12_triple i686-linux-gnu)
set(clock12_qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
