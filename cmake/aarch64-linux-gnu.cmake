# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu, libc in /usr/aarch64-linux-gnu). Programs built here
# run on this machine under user-mode emulation (qemu-user-static): ctest and
# gtest's test discovery start every test binary through the emulator.
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(DRAVIK_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${DRAVIK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${DRAVIK_CROSS_TRIPLE}-g++)

# Libraries and CMake packages come from the target's root only; programs
# (help2man, gzip) and header-only libraries in /usr/include (nlohmann-json,
# which the cross compiler searches after its own) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${DRAVIK_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: a dynamically linked test binary finds the target's loader and shared
# libraries under the cross root. A build of the shipped binary alone runs
# nothing and needs no emulator.
find_program(DRAVIK_QEMU_AARCH64 qemu-aarch64-static)
if(DRAVIK_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DRAVIK_QEMU_AARCH64} -L /usr/${DRAVIK_CROSS_TRIPLE})
endif()
