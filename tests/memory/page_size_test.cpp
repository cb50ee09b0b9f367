// Every rule that depends on the page size, at the 4, 16 and 64 KiB pages
// Linux kernels use (the last two on ARM): the page map's index and offset,
// the map cells a region paints, the unused module rule and the TLB walk's
// stride. A 4096 left behind in any of them fails at 16 and 64 KiB.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/drivers/map_paint.h"
#include "engine/map/memory_map.h"
#include "hcl/kernels/job.h"
#include "hcl/pool/worker.h"
#include "hcl/inventory/inventory.h"
#include "memory/address/phys_map.h"
#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t MiB = 1ull << 20;
constexpr uint64_t GiB = 1ull << 30;
constexpr uint64_t kPresent = 1ull << 63;

// A sparse page-map file: entry[page] for each listed (page, frame).
std::string page_map_file(const testing::TempDir& dir, uint64_t page_size,
                          const std::vector<std::pair<uint64_t, uint64_t>>& pages) {
  const std::string path = dir.write("pagemap-" + std::to_string(page_size), "");
  const int fd = open(path.c_str(), O_WRONLY);
  for (const auto& [page, frame] : pages) {
    const uint64_t entry = kPresent | frame;
    EXPECT_EQ(pwrite(fd, &entry, 8, static_cast<off_t>(page * 8)), 8);
  }
  close(fd);
  return path;
}

class PageSize : public ::testing::TestWithParam<uint64_t> {};

// Four virtual pages from page 64 on; page 1 of them is not present, the
// others sit 256 MiB apart in 1 GiB of RAM drawn as 64 cells of 16 MiB.
TEST_P(PageSize, PageMapIndexOffsetAndTheCellsARegionPaints) {
  const uint64_t ps = GetParam();
  testing::TempDir dir;
  auto run = testing::make_run();
  const uint64_t first_page = 64;
  auto frame = [ps](uint64_t i) { return (i * 256 * MiB + ps) / ps; };
  phys_setup(run->phys,
             page_map_file(dir, ps, {{first_page, frame(0)}, {first_page + 2, frame(2)},
                                     {first_page + 3, frame(3)}}),
             dir.write("iomem", "00000000-3fffffff : System RAM\n"));
  run->phys.page_size = ps;
  const uint64_t base = first_page * ps;

  EXPECT_EQ(virt_to_phys(run->phys, base), frame(0) * ps);
  EXPECT_EQ(virt_to_phys(run->phys, base + ps - 8), frame(0) * ps + ps - 8);
  EXPECT_EQ(virt_to_phys(run->phys, base + ps), 0u) << "page 1 is not present";
  EXPECT_EQ(virt_to_phys(run->phys, base + 2 * ps + 0x48), frame(2) * ps + 0x48);

  run->st.phys_ok = 1;
  map_setup(run->map, run->phys.ram_ranges, run->st, 64, 1);
  ASSERT_EQ(run->map.bytes_per_cell, 16 * MiB);
  int32_t lo = -1, hi = -1;
  mark_cells(*run, reinterpret_cast<const void*>(base), 4 * ps,
             static_cast<uint8_t>(CellState::active), &lo, &hi);
  std::vector<int32_t> active;
  for (int32_t c = 0; c < run->map.cells; ++c)
    if (run->map.get(c) == static_cast<uint8_t>(CellState::active)) active.push_back(c);
  EXPECT_EQ(active, (std::vector<int32_t>{0, 32, 48}));
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 48);
  phys_close(run->phys);
}

// Two 8 GiB modules on a box whose kernel keeps 64 bytes per page and 48 MiB
// of firmware reservations out of MemTotal.
TEST_P(PageSize, UnusedModuleRuleAllowsForThePageMapOfThatPageSize) {
  const uint64_t ps = GetParam();
  MemoryInventory inv;  // two identical modules
  inv.module_count = inv.installed_count = 2;
  inv.installed_bytes = 16 * GiB;
  inv.smallest_bytes = 8 * GiB;
  auto mem_total = [ps](uint64_t in_use) { return in_use - in_use / ps * 64 - 48 * MiB; };
  EXPECT_EQ(assess_setup(inv, SetupOverride::none, mem_total(16 * GiB), ps).uniform, 1);
  const SetupAssessment gate = assess_setup(inv, SetupOverride::none, mem_total(8 * GiB), ps);
  EXPECT_EQ(gate.uniform, 0) << "one module not in use";
  EXPECT_EQ(gate.reason_count, 1);
}

// The walk writes one word per page and visits only those: every other word
// keeps what was there.
TEST_P(PageSize, TlbWalkTouchesOneWordPerPage) {
  const uint64_t ps = GetParam();
  const uint64_t pages = 16;
  void* p = mmap(nullptr, pages * ps, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  auto* w = static_cast<uint64_t*>(p);
  const uint64_t words = pages * ps / 8;
  const uint64_t kUntouched = 0xA5A5A5A5A5A5A5A5ULL;
  for (uint64_t i = 0; i < words; ++i) w[i] = kUntouched;

  auto job = std::make_unique<HclJob>();
  job->worker_count = job->active = 1;
  job->op = HclOp::tlb_walk;
  job->page_words = ps / 8;
  job->arenas[0].base = w;
  job->arenas[0].words = words;
  hcl_run_kernel(*job, 0);

  std::vector<uint64_t> written;
  for (uint64_t i = 0; i < words; ++i)
    if (w[i] != kUntouched) written.push_back(i);
  std::vector<uint64_t> want;
  for (uint64_t k = 0; k < pages; ++k) want.push_back(k * ps / 8);
  EXPECT_EQ(written, want);
  EXPECT_EQ(job->stats[0].ops.load(), 4096u);
  EXPECT_EQ(job->error_total.load(), 0);
  munmap(p, pages * ps);
}

INSTANTIATE_TEST_SUITE_P(Kernels, PageSize, ::testing::Values(4096, 16384, 65536),
                         [](const ::testing::TestParamInfo<uint64_t>& i) {
                           return std::to_string(i.param / 1024) + "KiB";
                         });

}  // namespace
}  // namespace dravik
