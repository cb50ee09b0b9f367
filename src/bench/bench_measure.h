// The measured loops of the benchmark. Each takes the time with now_seconds
// directly around its loop and returns the elapsed seconds; nothing else runs
// inside the timed region. Results the loops compute go to bench_sink.
#pragma once
#include <cstdint>

namespace dravik {

// reps passes storing k into word k for k = 0..n-1.
double time_write(uint64_t* words, uint64_t n, uint64_t reps);

// reps passes summing the n words; the sum goes to bench_sink.
double time_read(const uint64_t* words, uint64_t n, uint64_t reps);

// reps copies of the first half of the bytes onto the second half.
double time_copy(uint64_t* words, uint64_t bytes, uint64_t reps);

// Fills word k with (k * 1000003) mod n (n a power of two).
void fill_chase(uint64_t* words, uint64_t n);

// The word where the dependent walk over a fill_chase span starts.
uint64_t chase_start(uint64_t n);

// A dependent walk of steps loads from start; the final index goes to
// bench_sink.
double time_chase(const uint64_t* words, uint64_t start, uint64_t steps);

}  // namespace dravik
