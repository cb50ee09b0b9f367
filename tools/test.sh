#!/usr/bin/env bash
# Installs what the tests need (only what is missing), builds the static
# binaries and the Debian packages for x86-64, aarch64 and armhf (checked by the
# plain suite), and runs every test: the plain build (the fuzz corpora
# replayed too), the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded suites under ThreadSanitizer (that
# build compiles only the files holding them), and the aarch64 and armhf unit
# tests and binaries under user-mode emulation (tools/test_arm.sh).
#
# ctest runs the tests side by side (-j, twice the CPUs: most of them wait on
# a child process or a clock); tests/ctest_schedule.cmake keeps those that
# measure speed alone. The plain and the AddressSanitizer suites each run
# while the next build compiles beside them: the suite holds on a busy box
# (each test's children run in a CPU cgroup of their own), and its long
# real-binary runs (minutes of HCL qualification) cost no wall time that way.
# The ARM phase (the aarch64 cross build and its tests under the emulator,
# then the same for armhf) starts as soon as the ThreadSanitizer build is
# done, beside the rest of the AddressSanitizer suite and then the
# ThreadSanitizer suite. The boots of Debian's arm64 and armhf kernels with
# the ARM binaries (tools/test_boot.sh) start once the packages are built and
# run beside everything else.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for pkg in cmake g++ make libgtest-dev nlohmann-json3-dev tmux procps binutils help2man man-db dpkg-dev lintian \
  g++-aarch64-linux-gnu libc6-dev-arm64-cross g++-arm-linux-gnueabihf libc6-dev-armhf-cross \
  qemu-user-static qemu-system-arm cpio googletest jq python3 chromium; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
# The scheduled scan's checks: promtool (prometheus), a real node-exporter
# serving a run's metrics, and systemd-analyze for the units. Their services
# are not needed running; recommends are left out.
tools=()
for pkg in prometheus prometheus-node-exporter systemd; do
  dpkg -s "$pkg" >/dev/null 2>&1 || tools+=("$pkg")
done
if ((${#missing[@]} + ${#tools[@]})); then
  apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  fi
  if ((${#tools[@]})); then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${tools[@]}"
  fi
fi

jobs=$(nproc)
test_jobs=$((jobs * 2))
step() { printf '\n=== [%dm%02ds] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

# A suite run in the background: its output goes to a log printed when it
# ends; a suite still running when this script stops is stopped with it.
suite_pid=
suite_log=
arm_pid=
boot_pid=
trap '[[ -n $suite_pid ]] && kill -- "$suite_pid" 2>/dev/null; [[ -n $arm_pid ]] && kill -- "$arm_pid" 2>/dev/null;
  [[ -n $boot_pid ]] && kill -- "$boot_pid" 2>/dev/null; true' EXIT
start_suite() {
  suite_log=$1
  shift
  "$@" >"$suite_log" 2>&1 &
  suite_pid=$!
}
finish_suite() {
  local status=0
  wait "$suite_pid" || status=$?
  suite_pid=
  cat "$suite_log"
  if ((status != 0)); then
    step "FAILED: $1"
    exit "$status"
  fi
  step "passed: $1"
}

step "package: static binaries and Debian packages into dist/ (checked by the plain suite)"
bash tools/package.sh

step "the ARM binaries boot Debian's arm64 and armhf kernels in the background (tools/test_boot.sh)"
mkdir -p build-boot
(
  status=0
  bash tools/test_boot.sh arm64 || status=1
  bash tools/test_boot.sh armhf || status=1
  exit "$status"
) >build-boot/suite.log 2>&1 &
boot_pid=$!

step "build the plain suite (RelWithDebInfo)"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test -j"$jobs"

step "test (RelWithDebInfo), while the AddressSanitizer + UndefinedBehaviorSanitizer build compiles"
start_suite build-test/suite.log ctest --test-dir build-test --output-on-failure --timeout 900 -j"$test_jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVIK_SANITIZE=address \
  -DDRAVIK_BUILD_PERF=OFF >/dev/null
cmake --build build-asan -j"$jobs"
finish_suite "the plain suite"

step "test under AddressSanitizer + UndefinedBehaviorSanitizer, while the ThreadSanitizer build compiles, then the ARM phase starts"
start_suite build-asan/suite.log env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 900 -j"$test_jobs"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVIK_SANITIZE=thread \
  -DDRAVIK_BUILD_PERF=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
mkdir -p build-arm
# One after the other: the two cross builds would share the CPUs anyway.
{ bash tools/test_arm.sh aarch64 && bash tools/test_arm.sh armhf; } >build-arm/suite.log 2>&1 &
arm_pid=$!
finish_suite "the suite under AddressSanitizer + UndefinedBehaviorSanitizer"

step "test the threaded suites under ThreadSanitizer, while the ARM tests build and run under the emulator"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure --timeout 900 -j"$test_jobs" -R Threads
step "passed: the threaded suites under ThreadSanitizer"
suite_pid=$arm_pid
suite_log=build-arm/suite.log
arm_pid=
finish_suite "the aarch64 and armhf builds and their tests under the emulator"
suite_pid=$boot_pid
suite_log=build-boot/suite.log
boot_pid=
finish_suite "the ARM binaries on Debian's ARM kernels"

step "all tests passed"
