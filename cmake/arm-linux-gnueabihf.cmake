# Cross build for 32-bit ARM Linux (ARMv7, hard float) with Debian's cross compiler
# (g++-arm-linux-gnueabihf, libc in /usr/arm-linux-gnueabihf). Programs built here
# run on this machine under user-mode emulation (qemu-user-static): ctest and
# gtest's test discovery start every test binary through the emulator.
#   cmake -S . -B build-armhf --toolchain cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(DRAVIK_CROSS_TRIPLE arm-linux-gnueabihf)
set(DRAVIK_QEMU_USER qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# Debian's armhf baseline (ARMv7-A, VFPv3-D16, Thumb-2, no NEON) is the
# compiler's default. Time and file offsets are 64-bit, as on the 64-bit
# processors: a clock past 2038 and files or page-map offsets past 2 GiB.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
