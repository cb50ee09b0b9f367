#!/usr/bin/env bash
# The ARM tests (a phase of tools/test.sh, and a command of its own):
#   bash tools/test_arm.sh aarch64|armhf
# cross-builds the unit tests for 64-bit ARM (aarch64, with Debian's
# g++-aarch64-linux-gnu) or 32-bit ARMv7 (armhf, g++-arm-linux-gnueabihf) into
# ./build-aarch64 or ./build-armhf (GoogleTest from Debian's googletest
# source) and runs them under user-mode emulation (qemu-user-static),
# together with the runs of dist/dravik-aarch64 or dist/dravik-armhf that
# tests/packaging/emulated_binary_test.sh makes (skipped when
# tools/package.sh has not built it). Installs what it needs when missing.
#
# Which test folders and files are built is DRAVIK_TESTS_CROSS_SUBSET in
# CMakeLists.txt; the tests the emulator cannot host are listed in
# tests/ctest_emulated.cmake. No sanitizer build runs for ARM.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:?usage: test_arm.sh aarch64|armhf}
case $arch in
  aarch64) packages=(g++-aarch64-linux-gnu libc6-dev-arm64-cross) toolchain=cmake/aarch64-linux-gnu.cmake ;;
  armhf) packages=(g++-arm-linux-gnueabihf libc6-dev-armhf-cross) toolchain=cmake/arm-linux-gnueabihf.cmake ;;
  *)
    echo "usage: test_arm.sh aarch64|armhf" >&2
    exit 2
    ;;
esac

missing=()
for pkg in cmake make "${packages[@]}" qemu-user-static googletest nlohmann-json3-dev jq binutils; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)
started=$SECONDS
build=build-$arch
cmake -S . -B "$build" --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDRAVIK_BUILD_PERF=OFF >/dev/null
cmake --build "$build" -j"$jobs"
echo "$arch: built in $((SECONDS - started))s"
# Twice the CPUs, as the x86-64 suites: most tests wait on a clock or a child.
ctest --test-dir "$build" --output-on-failure --timeout 900 -j"$((jobs * 2))"
echo "$arch: built and tested in $((SECONDS - started))s"
