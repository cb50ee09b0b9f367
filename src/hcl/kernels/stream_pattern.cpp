// The stream pattern every streaming kernel writes and verifies: the seed of
// each stream and the non-temporal fill of a span.
#include "core/prng/prng.h"
#include "hcl/kernels/kernels.h"
#include "hcl/kernels/lines.h"

namespace dravik {

uint64_t stream_seed(uint64_t job_seed, uint64_t k) {
  uint64_t state = k ^ 0xD6E8FEB86659FD93ULL;
  return job_seed ^ splitmix_next(&state);
}

void fill_stream_pattern(uint64_t* words, uint64_t count, uint64_t j0, uint64_t seed) {
  hcl_lines::fill_span(words, count, hcl_lines::StreamWords(seed, j0));
}

}  // namespace dravik
