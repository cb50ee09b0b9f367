#!/usr/bin/env bash
# Processor instructions live in src/cpu only: no other source, benchmark,
# fuzz target or test includes an intrinsics header, writes inline assembly
# or names a processor's vector types or built-ins. Prints each offence.
set -euo pipefail
root=${1:?usage: layer_boundary_test.sh SOURCE_DIR}
cd "$root"
pattern='#[[:space:]]*include[[:space:]]*<(x86intrin|immintrin|emmintrin|xmmintrin|pmmintrin|tmmintrin|smmintrin|nmmintrin|wmmintrin|cpuid|arm_neon|arm_acle)\.h>'
pattern+='|\basm[[:space:]]*(volatile[[:space:]]*)?\(|__asm__|\b_mm(256|512)?_[a-z]|\b__m(128|256|512)i?\b|__builtin_ia32_|__builtin_cpu_supports|\bu?int(8|16|32|64)x[0-9]+_t\b'
if grep -rnE --include='*.h' --include='*.cpp' "$pattern" src perf fuzz tests | grep -v '^src/cpu/'; then
  echo "processor instructions outside src/cpu (above)" >&2
  exit 1
fi
echo "processor instructions only in src/cpu"
