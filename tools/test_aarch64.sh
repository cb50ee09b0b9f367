#!/usr/bin/env bash
# The 64-bit ARM tests (a phase of tools/test.sh, and a command of its own):
# cross-builds the unit tests for aarch64 into ./build-aarch64 (with Debian's
# g++-aarch64-linux-gnu, and GoogleTest from Debian's googletest source) and
# runs them under user-mode emulation (qemu-user-static), together with the
# runs of dist/dravik-aarch64 that tests/packaging/emulated_binary_test.sh
# makes (skipped when tools/package.sh has not built it). Installs what it
# needs when missing.
#
# Which test folders and files are built is DRAVIK_TESTS_CROSS_SUBSET in
# CMakeLists.txt; the tests the emulator cannot host are listed in
# tests/ctest_emulated.cmake. No sanitizer build runs for aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for pkg in cmake make g++-aarch64-linux-gnu libc6-dev-arm64-cross qemu-user-static googletest \
  nlohmann-json3-dev jq binutils; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)
started=$SECONDS
build=build-aarch64
cmake -S . -B "$build" --toolchain cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDRAVIK_BUILD_PERF=OFF >/dev/null
cmake --build "$build" -j"$jobs"
echo "aarch64: built in $((SECONDS - started))s"
# Twice the CPUs, as the x86-64 suites: most tests wait on a clock or a child.
ctest --test-dir "$build" --output-on-failure --timeout 900 -j"$((jobs * 2))"
echo "aarch64: built and tested in $((SECONDS - started))s"
