// How fast the write/verify boundary can push a block out of the caches:
// CLFLUSH against CLFLUSHOPT over a 1 GiB locked buffer, with every line
// dirtied again before each timed flush. At 1 GiB most lines have already
// left the caches when the flush starts (as for a real test region); the
// 1 MiB span shows the cost when every flushed line is dirty and resident.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/flush.h"
#include "core/text.h"
#include "memory/regions/arena.h"

using namespace dravik;

namespace {

constexpr uint64_t kSize = 1ull << 30;
constexpr int kRepetitions = 4;

// Best of the repetitions, in GB/s of span flushed.
double flush_rate(uint64_t* words, uint64_t bytes, bool use_clflushopt) {
  const uint64_t n = bytes / 8;
  const int reps = bytes >= kSize ? kRepetitions : 64;
  double best = 0.0;
  for (int rep = 0; rep < reps; ++rep) {
    for (uint64_t i = 0; i < n; i += 8) words[i] = i + static_cast<uint64_t>(rep);  // dirty every line
    full_fence();
    const double t0 = now_seconds();
    flush_lines(words, words + n, use_clflushopt);
    full_fence();
    const double dt = now_seconds() - t0;
    if (dt > 0 && bytes / dt / 1e9 > best) best = bytes / dt / 1e9;
  }
  return best;
}

}  // namespace

int main() {
  ArenaRegion region = arena_alloc(kSize);
  if (region.base == nullptr) {
    fprintf(stderr, "flush_rate: cannot map 1 GiB\n");
    return 1;
  }
  auto* words = static_cast<uint64_t*>(region.base);
  memset(words, 0x5A, kSize);
  if (!probe_clflush()) {
    fprintf(stderr, "flush_rate: CLFLUSH is not usable here\n");
    arena_free(region);
    return 1;
  }
  printf("buffer 1 GiB, locked: %s\n", region.locked ? "yes" : "no");
  const bool have_opt = cpu_has_clflushopt();
  if (!have_opt) printf("CLFLUSHOPT is not offered by this processor\n");
  printf("%-10s %14s %14s %8s\n", "span", "CLFLUSH GB/s", "CLFLUSHOPT", "ratio");
  for (uint64_t bytes : {kSize, uint64_t{1} << 20}) {
    const double clflush = flush_rate(words, bytes, false);
    const double opt = have_opt ? flush_rate(words, bytes, true) : 0.0;
    char size_text[32];
    format_size(bytes, size_text, sizeof size_text);
    printf("%-10s %14.2f %14.2f %8.2f\n", size_text, clflush, opt, clflush > 0 ? opt / clflush : 0.0);
  }
  arena_free(region);
  return 0;
}
