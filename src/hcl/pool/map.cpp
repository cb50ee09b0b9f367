// What the controller shows of a running phase: the progress map (624 cells
// split evenly between the workers, filled by bytes done or by time, with the
// cells of recorded bit errors, sent as hcl_map frames at most four times a
// second) and the reports of the bit errors the workers recorded.
#include <algorithm>
#include <mutex>

#include "core/text.h"
#include "hcl/output.h"
#include "hcl/pool/runner.h"

namespace dravik {

namespace {
constexpr double kMapInterval = 0.25;
}

void map_begin_bytes(HclRunner& r, const char* phase, const char* state, uint64_t target_bytes,
                     int threads) {
  r.map = HclProgressMap{};
  r.map.phase = phase;
  r.map.state = state;
  r.map.target_bytes = target_bytes;
  r.map.start = now_seconds();
  r.map.threads = threads;
}

void map_begin_timed(HclRunner& r, const char* phase, int threads, double seconds) {
  r.map = HclProgressMap{};
  r.map.phase = phase;
  r.map.state = "verify";
  r.map.seconds = seconds > 0 ? seconds : 1;
  r.map.start = now_seconds();
  r.map.threads = threads;
}

void map_end(HclRunner& r) {
  if (r.map.phase != nullptr && r.map.threads > 0) map_event(r, true, now_seconds());
  r.map = HclProgressMap{};
}

int map_done_cells(const HclProgressMap& map, const HclJob& job, bool forced, double now) {
  if (forced) return kHclMapCells;
  if (map.seconds > 0) {
    const double ratio = (now - map.start) / map.seconds;
    return ratio > 1 ? kHclMapCells : static_cast<int>(ratio * kHclMapCells);
  }
  if (map.target_bytes == 0 || map.threads <= 0) return 0;
  const int threads = std::min(map.threads, kHclMaxWorkers);
  double sum = 0;
  for (int k = 0; k < threads; ++k) {
    const uint64_t d =
        map.base_done + job.stats[static_cast<size_t>(k)].bytes.load(std::memory_order_relaxed);
    sum += d > map.target_bytes ? 1.0 : static_cast<double>(d) / static_cast<double>(map.target_bytes);
  }
  return static_cast<int>(sum / threads * kHclMapCells);
}

int map_error_cell(const HclProgressMap& map, const HclJob& job, uint64_t vaddr) {
  const int threads = std::min(map.threads, kHclMaxWorkers);
  const int block = kHclMapCells / std::max(threads, 1);
  for (int k = 0; k < threads; ++k) {
    const HclArena& a = job.arenas[static_cast<size_t>(k)];
    const uint64_t base = reinterpret_cast<uintptr_t>(a.base);
    const uint64_t bytes = a.words * 8;
    if (a.base == nullptr || bytes == 0 || vaddr < base || vaddr - base >= bytes) continue;
    return block * k +
           static_cast<int>(static_cast<double>(vaddr - base) / static_cast<double>(bytes) * block);
  }
  return -1;
}

void map_event(HclRunner& r, bool forced, double now) {
  HclProgressMap& map = r.map;
  if (map.phase == nullptr || map.threads <= 0 || !r.out.wants_map()) return;
  if (!forced && now - map.last_event < kMapInterval) return;
  map.last_event = now;
  HclMapFrame frame;
  frame.phase = map.phase;
  frame.state = map.state;
  frame.cells = kHclMapCells;
  frame.done = map_done_cells(map, r.job, forced, now);
  {
    const HclErrorLog& log = r.job.error_log;
    std::lock_guard<std::mutex> hold(log.lock);
    for (int32_t i = 0; i < log.count && i < kHclErrorLogCapacity; ++i) {
      const int cell = map_error_cell(map, r.job, log.records[static_cast<size_t>(i)].vaddr);
      if (cell >= 0) frame.err_cells.push_back(cell);
    }
  }
  r.out.map(frame);
}

void report_bit_errors(HclRunner& r) {
  HclErrorLog& log = r.job.error_log;
  std::lock_guard<std::mutex> hold(log.lock);
  for (int32_t i = log.reported; i < log.count; ++i) {
    const HclErrorRecord& rec = log.records[static_cast<size_t>(i)];
    r.out.bit_error(rec, __builtin_popcountll(rec.expected ^ rec.actual));
  }
  log.reported = log.count;
}

}  // namespace dravik
