// A plain pointer chase over one random cycle through every word of a buffer
// (Sattolo's shuffle), the reference the benchmark's latency walk is held
// against. The buffer is obtained like the benchmark's (locked, no huge
// pages) and flushed before the walk, so both pay the same TLB and cache
// misses.
//
// usage: perf_random_chase [size, e.g. 256M, 64K, 1G] [steps]
#include <cstdio>
#include <cstdlib>

#include "engine/flush.h"
#include "core/prng/prng.h"
#include "core/text.h"
#include "memory/regions/arena.h"

using namespace dravik;

namespace {

uint64_t parse_size(const char* text) {
  char* end = nullptr;
  uint64_t value = strtoull(text, &end, 10);
  switch (*end) {
    case 'G': case 'g': value <<= 30; break;
    case 'M': case 'm': value <<= 20; break;
    case 'K': case 'k': value <<= 10; break;
    default: break;
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t size = argc > 1 ? parse_size(argv[1]) : (256ull << 20);
  const uint64_t n = size / 8;
  if (n < 2) {
    fprintf(stderr, "random_chase: size too small\n");
    return 2;
  }
  const uint64_t steps = argc > 2 ? strtoull(argv[2], nullptr, 10)
                                  : (4 * n < 5000000 ? 4 * n : 5000000);
  ArenaRegion region = arena_alloc(size);
  if (region.base == nullptr) {
    fprintf(stderr, "random_chase: cannot map %s\n", argv[1]);
    return 1;
  }
  auto* words = static_cast<uint64_t*>(region.base);

  // Sattolo: a uniformly random permutation made of a single cycle.
  for (uint64_t i = 0; i < n; ++i) words[i] = i;
  RandState rs;
  rand_seed(&rs, 0x5EED);
  for (uint64_t i = n - 1; i > 0; --i) {
    const uint64_t j = rand_next(&rs) % i;
    const uint64_t t = words[i];
    words[i] = words[j];
    words[j] = t;
  }
  if (probe_clflush()) flush_lines(words, words + n, cpu_has_clflushopt());
  full_fence();

  uint64_t index = 0;
  const double t0 = now_seconds();
  for (uint64_t s = 0; s < steps; ++s) index = words[index];
  const double elapsed = now_seconds() - t0;

  char size_text[32];
  format_size(size, size_text, sizeof size_text);
  printf("random chase %s, %lu steps: %.2f ns/load (end %lu)\n", size_text,
         static_cast<unsigned long>(steps), elapsed / static_cast<double>(steps) * 1e9,
         static_cast<unsigned long>(index));
  arena_free(region);
  return 0;
}
