// The mismatch path of the verifying kernels: what a verifying read loaded is
// handed to record_fault as the actual value.
#include "core/run.h"
#include "engine/algo.h"

namespace dravik::kernel {

namespace {

void store_line(uint64_t* to, const Line& l) {
  __m128i* p = reinterpret_cast<__m128i*>(to);
  _mm_store_si128(p, l.v0);
  _mm_store_si128(p + 1, l.v1);
  _mm_store_si128(p + 2, l.v2);
  _mm_store_si128(p + 3, l.v3);
}

}  // namespace

void report_word(Run& run, const TestBlock& b, uint64_t i, uint64_t expected, uint64_t actual,
                 const char* name) {
  if (run.on_mismatch) run.on_mismatch(b, i);
  record_fault(run, b, i, expected, actual, name);
}

void report_line(Run& run, const TestBlock& b, uint64_t i, const Line& got, const Line& expected,
                 bool descending, const char* name) {
  alignas(16) uint64_t a[8];
  alignas(16) uint64_t e[8];
  store_line(a, got);
  store_line(e, expected);
  for (uint64_t k = 0; k < 8; ++k) {
    const uint64_t j = descending ? 7 - k : k;
    if (a[j] != e[j]) report_word(run, b, i + j, e[j], a[j], name);
  }
}

}  // namespace dravik::kernel
