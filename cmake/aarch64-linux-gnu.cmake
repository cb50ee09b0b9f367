# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu, libc in /usr/aarch64-linux-gnu). Programs built here
# run on this machine under user-mode emulation (qemu-user-static): ctest and
# gtest's test discovery start every test binary through the emulator.
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(DRAVIK_CROSS_TRIPLE aarch64-linux-gnu)
set(DRAVIK_QEMU_USER qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
