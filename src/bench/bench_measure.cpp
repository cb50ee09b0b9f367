#include "bench/bench_measure.h"

#include <atomic>
#include <cstring>

#include "bench/bench.h"
#include "core/text.h"

namespace dravik {

namespace {

// Between repetitions: the compiler must assume the buffer was read and
// changed, so no repetition can be merged into another or dropped as a dead
// store. Emits no instruction.
inline void reps_barrier() { std::atomic_signal_fence(std::memory_order_seq_cst); }

}  // namespace

double time_write(uint64_t* words, uint64_t n, uint64_t reps) {
  const double t0 = now_seconds();
  for (uint64_t r = 0; r < reps; ++r) {
    for (uint64_t k = 0; k < n; ++k) words[k] = k;
    reps_barrier();
  }
  return now_seconds() - t0;
}

double time_read(const uint64_t* words, uint64_t n, uint64_t reps) {
  uint64_t sum = 0;
  const double t0 = now_seconds();
  for (uint64_t r = 0; r < reps; ++r) {
    for (uint64_t k = 0; k < n; ++k) sum += words[k];
    reps_barrier();
  }
  const double elapsed = now_seconds() - t0;
  bench_sink.store(sum, std::memory_order_relaxed);
  return elapsed;
}

double time_copy(uint64_t* words, uint64_t bytes, uint64_t reps) {
  char* first = reinterpret_cast<char*>(words);
  const uint64_t half = bytes / 2;
  const double t0 = now_seconds();
  for (uint64_t r = 0; r < reps; ++r) {
    memcpy(first + half, first, half);
    reps_barrier();
  }
  return now_seconds() - t0;
}

void fill_chase(uint64_t* words, uint64_t n) {
  for (uint64_t k = 0; k < n; ++k) words[k] = (k * 1000003) % n;
}

// With n a power of two, k -> k * 1000003 mod n permutes the word indices and
// the walk from word s visits s * 1000003^i. Word 0 (and n/2) maps to itself,
// and any even word lies on a short orbit. Odd words lie on the longest
// orbits: 1000003 is 3 mod 8, so its powers mod n are exactly the words that
// are 1 or 3 mod 8, an orbit of n/4 words that holds two words of every
// 64-byte line. Starting at word 1 therefore walks a chain as long as any the
// fill offers and touches the whole span, so the chain outgrows each cache
// level together with the span.
uint64_t chase_start(uint64_t n) { return n > 1 ? 1 : 0; }

double time_chase(const uint64_t* words, uint64_t start, uint64_t steps) {
  uint64_t index = start;
  const double t0 = now_seconds();
  for (uint64_t s = 0; s < steps; ++s) index = words[index];
  const double elapsed = now_seconds() - t0;
  bench_sink.store(index, std::memory_order_relaxed);
  return elapsed;
}

}  // namespace dravik
