// The mismatch path of the verifying kernels: what a verifying read loaded is
// handed to record_fault as the actual value.
#include "engine/context.h"
#include "engine/kernels/kernels.h"
#include "engine/record_fault.h"

namespace dravik::kernel {

void report_word(EngineContext& run, const TestBlock& b, uint64_t i, uint64_t expected, uint64_t actual,
                 const char* name) {
  if (run.on_mismatch) run.on_mismatch(b, i);
  record_fault(run, b, i, expected, actual, name);
}

void report_line(EngineContext& run, const TestBlock& b, uint64_t i, Pair d0, Pair d1, Pair d2,
                 Pair d3, Pair e0, Pair e1, Pair e2, Pair e3, bool descending, const char* name) {
  alignas(16) uint64_t a[8];
  alignas(16) uint64_t e[8];
  const Line expected{e0, e1, e2, e3};
  store_line(a, cpu::xor_lines(Line{d0, d1, d2, d3}, expected));
  store_line(e, expected);
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

void report_halves_line(EngineContext& run, const TestBlock& b, uint64_t h, uint64_t i, Pair d0,
                        Pair d1, Pair d2, Pair d3, Pair l0, Pair l1, Pair l2, Pair l3,
                        ExpectedAt& expect, const char* name) {
  alignas(16) uint64_t lower[8];
  alignas(16) uint64_t upper[8];
  const Line low{l0, l1, l2, l3};
  store_line(lower, low);
  store_line(upper, cpu::xor_lines(Line{d0, d1, d2, d3}, low));
  for (uint64_t j = 0; j < 8; ++j) {
    if (lower[j] != upper[j]) report_halves(run, b, h, i + j, lower[j], upper[j], expect, name);
  }
}

}  // namespace dravik::kernel
