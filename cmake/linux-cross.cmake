# Shared by the cmake/<triple>.cmake toolchain files: Debian's cross compiler
# for clock12_triple, and qemu-user to run what it builds (tests included).
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${clock12_triple})
set(CMAKE_CXX_COMPILER ${clock12_triple}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${clock12_qemu} -L /usr/${clock12_triple})
