// A load that keeps one processor busy until it is killed, for benchmarks
// that measure dravik beside the work of others: with no argument (or 0) it
// spins on a counter; with N it writes and reads back a buffer of N MiB over
// and over, so it also takes a share of the memory's bandwidth. Its priority
// is the caller's: start it under `nice -n 19` for background work.
//
// Usage: perf_busy_load [MiB]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 0;
  volatile uint64_t counter = 0;
  if (mib == 0) {
    for (;;) counter = counter + 1;
  }
  const uint64_t words = (mib << 20) / 8;
  std::unique_ptr<uint64_t[]> buffer(new (std::nothrow) uint64_t[words]);
  if (!buffer) {
    fprintf(stderr, "busy_load: cannot allocate %lu MiB\n", static_cast<unsigned long>(mib));
    return 1;
  }
  for (uint64_t round = 0;; ++round) {
    for (uint64_t i = 0; i < words; ++i) buffer[i] = i ^ round;
    uint64_t sum = 0;
    for (uint64_t i = 0; i < words; ++i) sum += buffer[i];
    counter = counter + sum;
  }
}
