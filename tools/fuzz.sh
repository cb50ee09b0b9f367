#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang's libFuzzer under AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each one for the given number of
# seconds (60 by default), starting from its seed corpus. New inputs and any
# crash go to build-fuzz/; the seed corpora in the tree are not changed.
#   tools/fuzz.sh [seconds] [target-name...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true

missing=()
for pkg in clang libclang-rt-14-dev cmake make; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

out=build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$out" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DDRAVIK_LIBFUZZER=ON -DDRAVIK_BUILD_TESTS=OFF -DDRAVIK_BUILD_PERF=OFF >/dev/null

if (($#)); then
  names=("$@")
else
  names=()
  for src in fuzz/*_fuzz.cpp; do
    base=$(basename "$src" .cpp)
    names+=("${base%_fuzz}")
  done
fi
if ! cmake --build "$out" -j"$(nproc)" --target "${names[@]/%/_fuzz}" >"$out/build.log" 2>&1; then
  cat "$out/build.log"
  exit 1
fi

failed=()
for name in "${names[@]}"; do
  work="$out/corpus/$name"
  artifacts="$out/artifacts/$name/"
  mkdir -p "$work" "$artifacts"
  printf '\n=== %s: %s s\n' "$name" "$seconds"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/${name}_fuzz" "$work" "fuzz/corpus/$name" -max_total_time="$seconds" \
    -artifact_prefix="$artifacts" -print_final_stats=1 2>"$out/$name.log"; then
    failed+=("$name")
  fi
  grep -E 'DONE|stat::number_of_executed_units' "$out/$name.log" || true
  grep -E 'ERROR|SUMMARY|Test unit written' "$out/$name.log" || true
done

if ((${#failed[@]})); then
  printf '\nfailed: %s (logs and inputs in %s)\n' "${failed[*]}" "$out"
  exit 1
fi
printf '\nall fuzz targets ran clean\n'
