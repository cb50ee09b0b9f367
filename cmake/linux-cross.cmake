# What the ARM cross builds share; the toolchain file of each sets
# DRAVIK_CROSS_TRIPLE, the processor and DRAVIK_QEMU_USER (the emulator's
# name) and includes this.
set(CMAKE_SYSTEM_NAME Linux)
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
find_program(DRAVIK_QEMU ${DRAVIK_QEMU_USER})
if(DRAVIK_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DRAVIK_QEMU} -L /usr/${DRAVIK_CROSS_TRIPLE})
endif()
