# Cross build for 32-bit ARM Linux (ARMv7, hard float) with Debian's cross compiler
# (g++-arm-linux-gnueabihf, libc in /usr/arm-linux-gnueabihf). Programs built here
# run on this machine under user-mode emulation (qemu-user-static): ctest and
# gtest's test discovery start every test binary through the emulator.
#   cmake -S . -B build-armhf --toolchain cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(DRAVIK_CROSS_TRIPLE arm-linux-gnueabihf)
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
find_program(DRAVIK_QEMU_ARM qemu-arm-static)
if(DRAVIK_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DRAVIK_QEMU_ARM} -L /usr/${DRAVIK_CROSS_TRIPLE})
endif()

# Debian's armhf baseline (ARMv7-A, VFPv3-D16, Thumb-2, no NEON) is the
# compiler's default. Time and file offsets are 64-bit, as on the 64-bit
# processors: a clock past 2038 and files or page-map offsets past 2 GiB.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
