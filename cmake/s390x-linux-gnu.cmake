# Cross-builds for big-endian IBM Z (s390x) Linux (Debian: g++-s390x-linux-gnu, qemu-user).
set(clock12_triple s390x-linux-gnu)
set(clock12_qemu qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
