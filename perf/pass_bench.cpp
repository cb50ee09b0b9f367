// Whole-pass benchmark: a quick-profile PRODUCTION pass over 1 GiB against
// the sum of its tests measured alone plus the kernel's cost of backing the
// memory, so the scheduler's own cost (sizing, marking, bookkeeping) shows as
// the remainder; then OFFLINE with one worker against two on the same budget.
//
// Run by hand as root: perf_pass_bench [MiB]   (default 1024)
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/run/flags.h"
#include "app/run/run.h"
#include "bench_run.h"
#include "engine/catalogue/catalogue.h"
#include "engine/flush.h"
#include "engine/drivers/offline.h"
#include "engine/drivers/production.h"
#include "core/text.h"
#include "memory/regions/arena.h"
#include "memory/address/phys_map.h"
#include "memory/probes/probes.h"

using namespace dravik;

namespace {

std::unique_ptr<Run> bench_run(uint64_t bytes, RunMode mode, int32_t threads) {
  return make_bench_run(bytes, mode, PatternTier::quick, threads);
}

double time_backing(uint64_t bytes, int repeats) {
  double best = 1e30;
  for (int i = 0; i < repeats; ++i) {
    const double t0 = now_seconds();
    ArenaRegion r = arena_alloc(bytes);
    const double t1 = now_seconds();
    if (r.base == nullptr) return -1;
    arena_free(r);
    const double t2 = now_seconds();
    if (t2 - t0 < best) best = t2 - t0;
    (void)t1;
  }
  return best;
}

double time_tests_alone(uint64_t bytes) {
  auto run = bench_run(bytes, RunMode::PRODUCTION, 1);
  ArenaRegion r = arena_alloc(bytes);
  if (r.base == nullptr) return -1;
  const TestBlock block{static_cast<uint64_t*>(r.base), bytes / 8, 1};
  const CatalogueEntry* seq[32];
  const int n = tier_sequence(run->cfg, seq, 32);
  double sum = 0;
  printf("  tests alone over one %lu MiB block:\n", static_cast<unsigned long>(bytes >> 20));
  for (int i = 0; i < n; ++i) {
    const double t0 = now_seconds();
    run_catalogue_test(*run, block, *seq[i], block_test_seed(*run, block));
    const double dt = now_seconds() - t0;
    printf("    %-12s %8.3f s\n", seq[i]->name, dt);
    sum += dt;
  }
  arena_free(r);
  return sum;
}

double time_driver(uint64_t bytes, RunMode mode, int32_t threads) {
  reset_process_flags();
  auto run = bench_run(bytes, mode, threads);
  const double t0 = now_seconds();
  if (mode == RunMode::OFFLINE) {
    run_offline(*run);
  } else {
    run_production(*run);
  }
  const double dt = now_seconds() - t0;
  if (run->st.total_bytes.load() != bytes) {
    printf("  warning: tested %lu of %lu bytes (%s)\n",
           static_cast<unsigned long>(run->st.total_bytes.load()),
           static_cast<unsigned long>(bytes), end_reason_text(run->st.end_reason.load()));
  }
  return dt;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t bytes = mib << 20;
  printf("whole-pass benchmark, quick profile, %lu MiB\n\n", static_cast<unsigned long>(mib));

  const double tests = time_tests_alone(bytes);
  const double backing = time_backing(bytes, 3);
  const double pass = time_driver(bytes, RunMode::PRODUCTION, 1);
  const double overhead = pass - tests - backing;
  printf("\n  sum of tests alone            %8.3f s\n", tests);
  printf("  kernel backing (map + lock)   %8.3f s   (%.2f s per GiB)\n", backing,
         backing / (static_cast<double>(mib) / 1024.0));
  printf("  whole PRODUCTION pass         %8.3f s\n", pass);
  printf("  scheduler's own cost          %8.3f s   = %.2f %% of the pass (target < 5 %%)\n",
         overhead, 100.0 * overhead / pass);

  const double one = time_driver(bytes, RunMode::OFFLINE, 1);
  const double two = time_driver(bytes, RunMode::OFFLINE, 2);
  printf("\n  OFFLINE, 1 worker             %8.3f s\n", one);
  printf("  OFFLINE, 2 workers            %8.3f s   ratio two/one %.2f\n", two, two / one);
  return 0;
}
