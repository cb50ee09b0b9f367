// The stream pattern every streaming kernel writes and verifies: the seed of
// each stream and the non-temporal fill of a span.
#include "core/prng/prng.h"
#include "cpu/cache.h"
#include "cpu/vector.h"
#include "hcl/kernels/kernels.h"

namespace dravik {

uint64_t stream_seed(uint64_t job_seed, uint64_t k) {
  uint64_t state = k ^ 0xD6E8FEB86659FD93ULL;
  return job_seed ^ splitmix_next(&state);
}

void stream_fill(uint64_t* words, uint64_t count, uint64_t j0, uint64_t seed) {
  uint64_t i = 0;
  // An unaligned start: 64-bit non-temporal stores up to the first 16-byte
  // boundary (the 128-bit ones need it).
  if ((reinterpret_cast<uintptr_t>(words) & 15) != 0 && count >= 4) {
    cpu::stream_word(words, stream_word(seed, j0));
    i = 1;
  }
  const cpu::Pair s = cpu::splat(seed);
  const cpu::Pair step = cpu::splat(4 * kHclPhi);
  const uint64_t j = j0 + i;
  cpu::Pair m0 = cpu::pair_of(j * kHclPhi, (j + 1) * kHclPhi);
  cpu::Pair m1 = cpu::pair_of((j + 2) * kHclPhi, (j + 3) * kHclPhi);
  const uint64_t groups_end = i + ((count - i) & ~uint64_t{3});
  for (; i < groups_end; i += 4) {
    cpu::stream_pairs(words + i, s ^ m0, s ^ m1);
    m0 += step;
    m1 += step;
  }
  cpu::store_fence();
  for (; i < count; ++i) words[i] = stream_word(seed, j0 + i);
}

}  // namespace dravik
