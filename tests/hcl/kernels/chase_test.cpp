// The latency chase's cycle: one random tour through every node.
#include "hcl/kernels/chase.h"

#include <gtest/gtest.h>

#include <vector>

namespace dravik {
namespace {

// Follows the links from node 0; returns the nodes visited before the tour
// came back to 0 (or gave up after nodes + 1 steps).
std::vector<uint64_t> tour(const std::vector<uint64_t>& arena, uint64_t nodes) {
  std::vector<uint64_t> seen;
  uint64_t at = 0;
  do {
    seen.push_back(at);
    at = arena[at * 8];
  } while (at != 0 && at < nodes && seen.size() <= nodes);
  return seen;
}

TEST(HclChase, NodesLinkIntoOneCycleThroughEveryNode) {
  for (const uint64_t nodes : {1ull, 2ull, 3ull, 1023ull, 4096ull}) {
    std::vector<uint64_t> arena(nodes * 8, ~0ull);
    ASSERT_TRUE(build_chase_cycle(arena.data(), nodes, 0xC4A5E));
    const auto seen = tour(arena, nodes);
    ASSERT_EQ(seen.size(), nodes) << nodes;
    std::vector<bool> hit(nodes, false);
    for (const uint64_t n : seen) hit[n] = true;
    for (uint64_t n = 0; n < nodes; ++n) EXPECT_TRUE(hit[n]) << n << " of " << nodes;
    for (uint64_t n = 0; n < nodes; ++n)
      for (int w = 1; w < 8; ++w) EXPECT_EQ(arena[n * 8 + w], ~0ull) << "only first words are written";
  }
}

TEST(HclChase, TheOrderIsRandomAndRepeatsWithItsSeed) {
  const uint64_t nodes = 4096;
  std::vector<uint64_t> a(nodes * 8), b(nodes * 8), c(nodes * 8);
  build_chase_cycle(a.data(), nodes, 1);
  build_chase_cycle(b.data(), nodes, 1);
  build_chase_cycle(c.data(), nodes, 2);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  int sequential = 0;  // links to the next node in memory: what a prefetcher would guess
  for (uint64_t n = 0; n < nodes; ++n) sequential += a[n * 8] == n + 1;
  EXPECT_LT(sequential, 16);
}

TEST(HclChase, NodeCountIsTheArenaInSixtyFourByteNodesCappedAt4Mi) {
  EXPECT_EQ(chase_node_count(0), 0u);
  EXPECT_EQ(chase_node_count(8191), 1023u);
  EXPECT_EQ(chase_node_count(4u << 20), 524288u);           // 32 MiB arena
  EXPECT_EQ(chase_node_count(64ull << 20), 4194304u);       // 512 MiB: capped
  EXPECT_FALSE(build_chase_cycle(nullptr, 0, 1));
}

}  // namespace
}  // namespace dravik
