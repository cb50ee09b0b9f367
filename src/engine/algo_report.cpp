// The mismatch path of the verifying kernels: what a verifying read loaded is
// handed to record_fault as the actual value.
#include "engine/context.h"
#include "engine/algo.h"

namespace dravik::kernel {

namespace {

void store_line(uint64_t* to, __m128i v0, __m128i v1, __m128i v2, __m128i v3) {
  __m128i* p = reinterpret_cast<__m128i*>(to);
  _mm_store_si128(p, v0);
  _mm_store_si128(p + 1, v1);
  _mm_store_si128(p + 2, v2);
  _mm_store_si128(p + 3, v3);
}

}  // namespace

void report_word(EngineContext& run, const TestBlock& b, uint64_t i, uint64_t expected, uint64_t actual,
                 const char* name) {
  if (run.on_mismatch) run.on_mismatch(b, i);
  record_fault(run, b, i, expected, actual, name);
}

void report_line(EngineContext& run, const TestBlock& b, uint64_t i, __m128i d0, __m128i d1, __m128i d2,
                 __m128i d3, __m128i e0, __m128i e1, __m128i e2, __m128i e3, bool descending,
                 const char* name) {
  alignas(16) uint64_t a[8];
  alignas(16) uint64_t e[8];
  store_line(a, _mm_xor_si128(d0, e0), _mm_xor_si128(d1, e1), _mm_xor_si128(d2, e2),
             _mm_xor_si128(d3, e3));
  store_line(e, e0, e1, e2, e3);
  for (uint64_t k = 0; k < 8; ++k) {
    const uint64_t j = descending ? 7 - k : k;
    if (a[j] != e[j]) report_word(run, b, i + j, e[j], a[j], name);
  }
}

void report_halves(EngineContext& run, const TestBlock& b, uint64_t h, uint64_t i, uint64_t lower,
                   uint64_t upper, ExpectedAt& expect, const char* name) {
  const uint64_t e = expect.at(i);
  if (lower != e) report_word(run, b, i, e, lower, name);
  if (upper != e) report_word(run, b, h + i, e, upper, name);
}

void report_halves_line(EngineContext& run, const TestBlock& b, uint64_t h, uint64_t i, __m128i d0,
                        __m128i d1, __m128i d2, __m128i d3, __m128i l0, __m128i l1, __m128i l2,
                        __m128i l3, ExpectedAt& expect, const char* name) {
  alignas(16) uint64_t lower[8];
  alignas(16) uint64_t upper[8];
  store_line(lower, l0, l1, l2, l3);
  store_line(upper, _mm_xor_si128(d0, l0), _mm_xor_si128(d1, l1), _mm_xor_si128(d2, l2),
             _mm_xor_si128(d3, l3));
  for (uint64_t j = 0; j < 8; ++j) {
    if (lower[j] != upper[j]) report_halves(run, b, h, i + j, lower[j], upper[j], expect, name);
  }
}

}  // namespace dravik::kernel
