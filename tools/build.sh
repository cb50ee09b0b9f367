#!/usr/bin/env bash
# Builds the dravik binary into ./build (installs the compiler and CMake first
# when they are missing).
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for pkg in cmake g++ make; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DDRAVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target dravik
