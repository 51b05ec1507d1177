# Cross-builds for 64-bit ARM Linux (Debian: g++-aarch64-linux-gnu, qemu-user).
set(clock12_triple aarch64-linux-gnu)
set(clock12_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
