# Cross-builds for Linux on another CPU: Debian's cross compiler for the GNU
# triple CLOCK12_TRIPLE (the preset's name), and qemu-user to run what it builds
# (tests included). Debian: g++-TRIPLE, qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CLOCK12_TRIPLE)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${CLOCK12_TRIPLE})
string(REGEX REPLACE "^i.86$" "i386" qemu ${CMAKE_SYSTEM_PROCESSOR})
set(CMAKE_CXX_COMPILER ${CLOCK12_TRIPLE}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu} -L /usr/${CLOCK12_TRIPLE})
