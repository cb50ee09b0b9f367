#include "bench/bench.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bench/bench_measure.h"
#include "core/run/flags.h"
#include "engine/context.h"
#include "engine/flush.h"
#include "core/text.h"
#include "memory/regions/arena.h"
#include "memory/probes/probes.h"
#include "core/run/event_sink.h"

namespace dravik {

std::atomic<uint64_t> bench_sink{0};

namespace {

constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kGiB = 1024 * kMiB;
constexpr uint64_t kFirstSize = 4096;

// Repetitions aim at 128 MiB of traffic per measurement, at most 4096.
uint64_t repetitions(uint64_t size) {
  if (size > 128 * kMiB) return 1;
  return std::min<uint64_t>(128 * kMiB / size, 4096);
}

double gb_per_s(uint64_t bytes, uint64_t reps, double seconds) {
  return static_cast<double>(bytes) * static_cast<double>(reps) / seconds / 1e9;
}

// The four measurements of one ladder step over the first size bytes.
void measure_size(EngineContext& run, uint64_t* words, uint64_t buffer_bytes, uint64_t size) {
  const uint64_t n = size / 8;
  const uint64_t reps = repetitions(size);

  double t = time_write(words, n, reps);
  if (t > 0) bench_point(run, size, "write", gb_per_s(size, reps, t));

  t = time_read(words, n, reps);
  if (t > 0) bench_point(run, size, "read", gb_per_s(size, reps, t));

  // Bytes read plus bytes written: half the span each way.
  t = time_copy(words, size, reps);
  if (t > 0) bench_point(run, size, "copy", gb_per_s((size / 16) * 8 * 2, reps, t));

  fill_chase(words, n);
  if (run.clflush_usable) {
    flush_lines(words, reinterpret_cast<const char*>(words) + buffer_bytes, run.clflushopt != 0);
  }
  full_fence();
  const uint64_t steps = std::min<uint64_t>(4 * n, 5000000);
  t = time_chase(words, chase_start(n), steps);
  if (t > 0) bench_point(run, size, "latency", t / static_cast<double>(steps) * 1e9);
}

}  // namespace

uint64_t bench_buffer_size(uint64_t available, uint64_t reserve, uint64_t mem_cap) {
  if (reserve >= available) return 0;
  uint64_t size = available - reserve;
  if (mem_cap != 0) size = std::min(size, mem_cap);
  if (size > kGiB) return kGiB;
  if (size < kMiB) return 0;
  return size;
}

void bench_point(EngineContext& run, uint64_t size, const char* op, double value) {
  BenchPoint point;
  point.size = size;
  snprintf(point.op, sizeof point.op, "%s", op);
  point.value = value;
  emit_event(run.sink, EventKind::bench_point, &point);
}

void run_bench(EngineContext& run) {
  const uint64_t available = mem_available_bytes(run.paths.meminfo);
  const uint64_t size_cap = bench_buffer_size(available, reserve_bytes(run.cfg), run.cfg.mem_cap);
  if (size_cap == 0) {
    post_status(run.sink, run.st, "not enough memory for bench");
    return;
  }
  ArenaRegion buffer = arena_alloc(size_cap);
  if (buffer.base == nullptr) {
    post_status(run.sink, run.st, "bench alloc failed");
    return;
  }
  run.st.last_locked.store(buffer.locked, std::memory_order_relaxed);

  const BenchStart start{size_cap, buffer.locked};
  emit_event(run.sink, EventKind::bench_start, &start);

  auto* words = static_cast<uint64_t*>(buffer.base);
  for (uint64_t size = kFirstSize; size <= size_cap; size *= 2) {
    if (stopping()) break;
    measure_size(run, words, size_cap, size);
    run.st.algo_pct.store(100, std::memory_order_relaxed);
    sink_tick(run.sink);
  }

  // Released on every way out of the ladder, a stop included.
  arena_free(buffer);
  emit_event(run.sink, EventKind::bench_summary);
}

}  // namespace dravik
