// NUMA node counting over node directories, and the worker count.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "hcl/inventory/inventory.h"
#include "support/test_support.h"

namespace dravik {
namespace {

struct NodeCase {
  const char* name;
  std::vector<int> nodes;  // node directories present
  int expected;
};

TEST(NumaNodes, CountedUntilTheFirstGap) {
  const NodeCase cases[] = {
      {"none", {}, 1},
      {"one", {0}, 1},
      {"two", {0, 1}, 2},
      {"four", {0, 1, 2, 3}, 4},
      {"node0_missing_skipped_once", {1, 2}, 2},
      {"gap_after_node0_ends", {0, 2, 3}, 1},
      {"node0_and_node1_missing", {2, 3}, 1},
      {"sixty_four", [] { std::vector<int> v; for (int n = 0; n < 70; ++n) v.push_back(n); return v; }(), 64},
  };
  for (const NodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    for (int n : c.nodes) dir.write("node" + std::to_string(n) + "/cpulist", "0\n");
    EXPECT_EQ(count_numa_nodes(dir.path()), c.expected);
  }
  testing::TempDir dir;
  EXPECT_EQ(count_numa_nodes(dir.sub("missing")), 1);
}

TEST(WorkerCount, OnePerCpuUnlessGivenClampedTo64) {
  struct Case {
    int threads_given;
    int threads;
    int cpus;
    int expected;
  };
  const Case cases[] = {
      {0, 1, 8, 8}, {0, 1, 1, 1}, {0, 1, 0, 1}, {0, 1, 100, 64}, {1, 3, 8, 3},
      {1, 12, 2, 12}, {1, 0, 8, 1}, {1, -5, 8, 1}, {1, 500, 8, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>{c.threads_given, c.threads, c.cpus}));
    RunConfig cfg;
    cfg.threads_given = c.threads_given;
    cfg.threads = c.threads;
    EXPECT_EQ(hcl_worker_count(cfg, c.cpus), c.expected);
  }
}

TEST(MemoryInventory, TakenFromTheGivenTableAndNodeDirectory) {
  testing::TempDir dir;
  dir.write("node/node0/cpulist", "0\n");
  dir.write("node/node1/cpulist", "1\n");
  RunConfig cfg;
  MemoryInventory inv;
  JedecReference ref;
  take_memory_inventory(cfg, inv, ref, testing::fixture("dmi/lenovo-thinkpad-t430-ddr3.bin"), dir.sub("node"));
  EXPECT_EQ(inv.numa_nodes, 2);
  EXPECT_GE(inv.cpus, 1);
  EXPECT_EQ(inv.module_count, 2);
  EXPECT_NEAR(ref.theoretical_gbs, 25.6, 1e-9);
}

}  // namespace
}  // namespace dravik
