#!/usr/bin/env bash
# Installs what the tests need (only what is missing), builds the static
# binary and the Debian package (checked by the plain suite), and runs every
# test: the plain build (the fuzz corpora replayed too), the whole suite again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and the threaded
# suites under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for pkg in cmake g++ make libgtest-dev nlohmann-json3-dev tmux procps binutils help2man man-db dpkg-dev lintian; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

jobs=$(nproc)
step() { printf '\n=== %s\n' "$*"; }

step "package: static binary and Debian package into dist/ (checked by the plain suite)"
bash tools/package.sh

step "build and test (RelWithDebInfo)"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure --timeout 900

step "build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVIK_SANITIZE=address \
  -DDRAVIK_BUILD_PERF=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 900

step "build and test the threaded suites under ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVIK_SANITIZE=thread \
  -DDRAVIK_BUILD_PERF=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure --timeout 900 -R Threads

step "all tests passed"
