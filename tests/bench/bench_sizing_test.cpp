// The benchmark buffer size and the shape of the latency walk.
#include <gtest/gtest.h>

#include <vector>

#include "bench/bench.h"
#include "bench/bench_measure.h"

namespace dravik {
namespace {

constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kGiB = 1024 * kMiB;
constexpr uint64_t kDefaultReserve = 256 * kMiB;

TEST(BenchSizing, BufferFromAvailableReserveAndCap) {
  const struct {
    const char* what;
    uint64_t available, reserve, cap, expected;
  } cases[] = {
      {"300 MiB available, default reserve", 300 * kMiB, kDefaultReserve, 0, 44 * kMiB},
      {"200 MiB available: not enough", 200 * kMiB, kDefaultReserve, 0, 0},
      {"available equals reserve: not enough", kDefaultReserve, kDefaultReserve, 0, 0},
      {"nothing available (unreadable meminfo)", 0, 0, 0, 0},
      {"--mem 2M with plenty", 16 * kGiB, kDefaultReserve, 2 * kMiB, 2 * kMiB},
      {"--reserve 0 and 8 GiB", 8 * kGiB, 0, 0, kGiB},
      {"cap above the 1 GiB ceiling", 8 * kGiB, 0, 4 * kGiB, kGiB},
      {"cap above what is left", 300 * kMiB, kDefaultReserve, 100 * kMiB, 44 * kMiB},
      {"less than 1 MiB left", kDefaultReserve + kMiB - 1, kDefaultReserve, 0, 0},
      {"exactly 1 MiB left", kDefaultReserve + kMiB, kDefaultReserve, 0, kMiB},
      {"--mem below 1 MiB", 8 * kGiB, kDefaultReserve, 512 * 1024, 0},
      {"huge available", UINT64_MAX, kDefaultReserve, 0, kGiB},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bench_buffer_size(c.available, c.reserve, c.cap), c.expected) << c.what;
  }
}

// Follows the filled chain from the walk's start until it returns there.
struct Orbit {
  uint64_t words = 0;
  uint64_t lines = 0;
};
Orbit orbit_from(const std::vector<uint64_t>& chain, uint64_t start) {
  std::vector<char> line_seen(chain.size() / 8 + 1, 0);
  Orbit orbit;
  uint64_t index = start;
  do {
    ++orbit.words;
    orbit.lines += line_seen[index / 8] == 0;
    line_seen[index / 8] = 1;
    index = chain[index];
  } while (index != start && orbit.words <= chain.size());
  return orbit;
}

// The latency figure only means something if the chain it follows spans the
// whole buffer: a walk stuck in a short orbit stays in L1 at every size.
TEST(BenchWalk, ChainFromTheStartCoversEveryLineOfTheSpan) {
  for (uint64_t n = 512; n <= (uint64_t{1} << 21); n *= 2) {  // 4 KiB to 16 MiB
    std::vector<uint64_t> chain(n);
    fill_chase(chain.data(), n);
    const Orbit walk = orbit_from(chain, chase_start(n));
    EXPECT_GE(walk.words, n / 4) << n;
    EXPECT_EQ(walk.lines, n / 8) << "every 64-byte line is on the walk, n=" << n;
    // The obvious starts would measure nothing.
    EXPECT_EQ(orbit_from(chain, 0).words, 1u);
    EXPECT_EQ(orbit_from(chain, n / 2).words, 1u);
  }
}

TEST(BenchWalk, StepsOfTheWalkAreLoadsThroughTheFill) {
  constexpr uint64_t n = 4096;
  std::vector<uint64_t> chain(n);
  fill_chase(chain.data(), n);
  for (uint64_t k = 0; k < n; ++k) ASSERT_EQ(chain[k], (k * 1000003) % n);
  // One step from the start lands where the fill says; the end index is
  // published for the walk of any length.
  uint64_t expected = chase_start(n);
  for (int s = 0; s < 1000; ++s) expected = chain[expected];
  time_chase(chain.data(), chase_start(n), 1000);
  EXPECT_EQ(bench_sink.load(), expected);
}

}  // namespace
}  // namespace dravik
