// The progress map: cells by bytes and by time, the cell of an error, the
// event rate, and the reports of the error log.
#include <vector>

#include <gtest/gtest.h>

#include "hcl/pool/runner.h"
#include "hcl/recording_output.h"
#include "hcl/kernels/kernels.h"

namespace dravik {
namespace {

using testing::RecordingHclOutput;

constexpr uint64_t kArenaWords = 4096;

struct MapFixture {
  std::vector<std::vector<uint64_t>> mem;
  std::unique_ptr<HclJob> job = std::make_unique<HclJob>();
  RecordingHclOutput out{true};
  HclRunner runner{*job, out};
  explicit MapFixture(int workers) {
    mem.resize(static_cast<size_t>(workers), std::vector<uint64_t>(kArenaWords));
    for (int k = 0; k < workers; ++k) {
      job->arenas[static_cast<size_t>(k)].base = mem[static_cast<size_t>(k)].data();
      job->arenas[static_cast<size_t>(k)].words = kArenaWords;
    }
  }
  uint64_t at(int worker, uint64_t word) const {
    return reinterpret_cast<uintptr_t>(mem[static_cast<size_t>(worker)].data() + word);
  }
};

TEST(HclMap, CellsOfBytesTimeAndErrors) {
  MapFixture f(3);
  const uint64_t arena = kArenaWords * 8;
  HclProgressMap& map = f.runner.map;

  // Three map threads: 208 cells each; 25 % into worker 1's arena is 208 + 52.
  map_begin_bytes(f.runner, "P2", "verify", 4 * arena, 3);
  EXPECT_EQ(map_error_cell(map, *f.job, f.at(1, kArenaWords / 4)), 260);
  EXPECT_EQ(map_error_cell(map, *f.job, f.at(0, 0)), 0);
  EXPECT_EQ(map_error_cell(map, *f.job, f.at(2, kArenaWords - 1)), 623);
  uint64_t outside = 0;
  EXPECT_EQ(map_error_cell(map, *f.job, reinterpret_cast<uintptr_t>(&outside)), -1);

  // Two arenas done of four before the third job moved a byte: half the map.
  map.base_done = 2 * arena;
  EXPECT_EQ(map_done_cells(map, *f.job, false, map.start), 312);
  // Worker 0 overshooting its target counts as complete, not more.
  f.job->stats[0].bytes.store(10 * arena);
  EXPECT_EQ(map_done_cells(map, *f.job, false, map.start), (1.0 + 0.5 + 0.5) / 3 * 624);
  EXPECT_EQ(map_done_cells(map, *f.job, true, map.start), 624);

  map_begin_timed(f.runner, "P3", 3, 4.0);
  EXPECT_EQ(map_done_cells(map, *f.job, false, map.start + 1.0), 156);
  EXPECT_EQ(map_done_cells(map, *f.job, false, map.start + 9.0), 624);
  map_begin_timed(f.runner, "P6", 3, 0);  // no duration: one second
  EXPECT_EQ(map.seconds, 1.0);
  map_begin_bytes(f.runner, "P7", "write", 0, 3);  // no target: nothing done
  EXPECT_EQ(map_done_cells(map, *f.job, false, map.start + 5), 0);
}

TEST(HclMap, FramesComeAtMostFourTimesASecondAndTheLastShowsEveryCell) {
  MapFixture f(2);
  map_begin_bytes(f.runner, "P1", "verify", 1000, 2);
  const double t = f.runner.map.start;
  for (const double dt : {0.0, 0.1, 0.2, 0.26, 0.3, 0.45, 0.52, 0.76, 0.78}) map_event(f.runner, false, t + dt);
  ASSERT_EQ(f.out.frames.size(), 4u);  // at 0, 0.26, 0.52, 0.78 (0.76 is too soon)
  map_end(f.runner);
  ASSERT_EQ(f.out.frames.size(), 5u);
  EXPECT_EQ(f.out.frames.back().frame.done, 624);
  EXPECT_EQ(f.out.frames.back().phase, "P1");
  EXPECT_EQ(f.runner.map.phase, nullptr);
  map_end(f.runner);  // no map: nothing more
  map_event(f.runner, true, t + 9);
  EXPECT_EQ(f.out.frames.size(), 5u);

  // The console output wants no frames at all.
  RecordingHclOutput console(false);
  HclRunner r(*f.job, console);
  map_begin_timed(r, "P3", 2, 1);
  map_event(r, false, t);
  map_end(r);
  EXPECT_TRUE(console.frames.empty());
}

TEST(HclMap, TheThirtyThirdErrorCountsButIsNeitherReportedNorMapped) {
  MapFixture f(1);
  std::vector<uint64_t>& w = f.mem[0];
  for (uint64_t k = 0; k < 40; ++k) {
    record_bit_error(*f.job, "read", &w[k * 100], 0, k == 0 ? 0x7 : 0x1);
  }
  EXPECT_EQ(f.job->error_total.load(), 40);
  report_bit_errors(f.runner);
  ASSERT_EQ(f.out.errors.size(), 32u);
  EXPECT_EQ(f.out.error_bits[0], 3);
  EXPECT_EQ(f.out.error_bits[1], 1);
  EXPECT_STREQ(f.out.errors[0].phase, "read");
  report_bit_errors(f.runner);  // nothing new
  EXPECT_EQ(f.out.errors.size(), 32u);

  map_begin_bytes(f.runner, "P4", "verify", 1, 1);
  map_end(f.runner);
  ASSERT_EQ(f.out.frames.size(), 1u);
  const std::vector<int>& cells = f.out.frames[0].frame.err_cells;
  ASSERT_EQ(cells.size(), 32u);
  EXPECT_EQ(cells[0], 0);
  EXPECT_EQ(cells[31], static_cast<int>(31.0 * 100 / kArenaWords * 624));
}

TEST(HclMap, ALongKernelNameIsCutToElevenCharacters) {
  MapFixture f(1);
  record_bit_error(*f.job, "a-very-long-kernel", f.mem[0].data(), 1, 2);
  EXPECT_STREQ(f.job->error_log.records[0].phase, "a-very-long");
  EXPECT_EQ(f.job->error_log.records[0].reread, 0u);  // the word itself holds 0
}

}  // namespace
}  // namespace dravik
