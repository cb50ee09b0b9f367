// Speed of the pattern tests on one locked block (1 GiB by default).
//
// Each test of the catalogue runs once (or --repeat times, keeping the best);
// the table shows the bytes it moves (words written plus words read, times
// 8), its time, its rate, and the ratio of its rate to a reference measured
// in the same run: a non-temporal fill of the block with a computed pattern,
// a fence, and a branch-free verifying read. A ratio of 1 means the test
// spends as long per write-and-verify cycle of the block as the bare
// reference does; its generator, and the flushes of the passes that wrote
// through the cache, are what a test adds on top. The last lines time the
// standard and quick tiers against their limits.
//
// Rates are computed from the thread's CPU time, which a busy machine does
// not inflate by descheduling the bench; wall seconds are shown beside it.
//
// Usage: perf_engine_bench [MiB] [--repeat N] [--only NAME] [--tier-only]
//   --tier-only  print just the standard tier's wall seconds (for scripts)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/run/flags.h"
#include "app/run/run.h"
#include "engine/kernels/kernels.h"
#include "engine/catalogue/catalogue.h"
#include "engine/flush.h"
#include "core/text.h"
#include "memory/regions/arena.h"

using namespace dravik;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

struct Timing {
  double wall = 1e30;
  double cpu = 1e30;
  void keep_best(double w, double c) {
    wall = std::min(wall, w);
    cpu = std::min(cpu, c);
  }
};

template <class F>
void time_into(Timing& t, F work) {
  const double w0 = now_seconds(), c0 = thread_cpu_seconds();
  work();
  t.keep_best(now_seconds() - w0, thread_cpu_seconds() - c0);
}

// Bytes a test moves over a block of B bytes (n words): every word written
// or read counts once per pass. Capped tests count only what they cover.
double bytes_moved(const std::string& name, uint64_t n) {
  const double B = 8.0 * static_cast<double>(n);
  const double H = 8.0 * static_cast<double>(n / 2);
  const double walk = std::min(B, 256.0 * kMiB);
  const double bits = std::min(B, 128.0 * kMiB);
  if (name == "checker") return 4 * B;
  if (name == "movinv0" || name == "movinv1") return 6 * B;  // with the closing read
  if (name == "movinv8") return 40 * B;
  if (name == "movinv-rand") return 4 * B;
  if (name == "modulo20") return 20 * (B + B * 19 / 20 + B / 20);
  if (name == "walk") return 128 * 2 * walk;
  if (name == "blockseq") return 16 * 2 * B;
  if (name == "bitflip") return 64 * 4 * bits;
  if (name == "bitspread") return 63 * 2 * bits;
  if (name == "movinv-rot") return 16 * 2 * B;
  if (name == "retention") return 4 * B;
  if (name == "rand-dual" || name == "block-move" || name.rfind("cmp-", 0) == 0 ||
      name == "seqinc") {
    return 4 * H;
  }
  return 2 * B;  // stuck-addr, solid0, solid1: one write, one read
}

// What limits a test that cannot keep up with the reference.
const char* bound_of(const std::string& name) {
  if (name == "movinv-rand" || name == "rand-dual") return "generator (xorshift128+ chain)";
  if (name == "block-move") return "generator + copy";
  if (name == "cmp-div") return "generator + 64-bit divide";
  if (name.rfind("cmp-", 0) == 0 || name == "seqinc") return "generator";
  if (name == "retention") return "the wait (1 s per value, not in cpu time)";
  if (name == "modulo20" || name == "movinv0" || name == "movinv1" || name == "movinv8") {
    return "flushes after cached rewrites";
  }
  return "its write and verify passes";
}

// The reference cycle: non-temporal fill with a computed pattern, fence,
// branch-free verifying read. The flush of the block is timed between the
// two but is not part of the reference.
struct Reference {
  Timing fill, flush, read;
  double rate(double B) const { return 2 * B / (fill.cpu + read.cpu); }
};

void reference_cycle(const Run& run, const TestBlock& b, Reference& ref) {
  uint64_t* w = b.base;
  AddressWords pattern{reinterpret_cast<uintptr_t>(w)};
  time_into(ref.fill, [&] {
    AddressWords c = pattern;
    stream_fill(w, 0, b.words, c);
    full_fence();
  });
  time_into(ref.flush, [&] { flush_span(run, b); });
  uint64_t diff = 0;
  time_into(ref.read, [&] {
    AddressWords c = pattern;
    diff = diff_or(w, 0, b.words, c);
  });
  if (diff != 0) fprintf(stderr, "reference read found a mismatch\n");
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mib = 1024;
  int repeat = 1;
  const char* only = nullptr;
  bool tier_only = false;
  for (int a = 1; a < argc; ++a) {
    if (strcmp(argv[a], "--tier-only") == 0) {
      tier_only = true;
    } else if (strcmp(argv[a], "--only") == 0 && a + 1 < argc) {
      only = argv[++a];
    } else if (strcmp(argv[a], "--repeat") == 0 && a + 1 < argc) {
      repeat = std::max(1, atoi(argv[++a]));
    } else {
      mib = strtoull(argv[a], nullptr, 10);
    }
  }
  if (mib == 0) mib = 1024;

  in_worker = 1;  // no terminal, no events: the bench measures the tests alone
  auto run = std::make_unique<Run>();
  run->cfg.seed = 0x5EED;
  run->cfg.retention_s = 1;
  run->clflush_usable = probe_clflush();
  run->clflushopt = run->clflush_usable && cpu_has_clflushopt() ? 1 : 0;

  ArenaRegion region = arena_alloc(mib * kMiB);
  if (region.base == nullptr) {
    fprintf(stderr, "cannot map %llu MiB\n", static_cast<unsigned long long>(mib));
    return 1;
  }
  const TestBlock block{static_cast<uint64_t*>(region.base), region.size / 8, 1};
  const uint64_t n = block.words;
  const double B = 8.0 * n;

  if (tier_only) {
    const double t0 = now_seconds();
    run_test_sequence(*run, block);
    printf("%.2f\n", now_seconds() - t0);
    arena_free(region);
    return run->faults.total.load() == 0 ? 0 : 1;
  }

  // The machine may be shared: every test gets its own reference, measured
  // just before it, so that slow drifts of the memory bandwidth cancel.
  Reference first;
  for (int k = 0; k < 3; ++k) reference_cycle(*run, block, first);
  printf("block %llu MiB (%s), flush %s\n", static_cast<unsigned long long>(mib),
         region.locked ? "locked" : "NOT locked",
         !run->clflush_usable ? "off" : run->clflushopt ? "clflushopt" : "clflush");
  printf("reference: fill %.2f GB/s, verify %.2f GB/s, cycle %.3f s = %.2f GB/s; "
         "flush of the block %.3f s (%.2f GB/s)\n\n",
         B / first.fill.cpu / 1e9, B / first.read.cpu / 1e9, first.fill.cpu + first.read.cpu,
         first.rate(B) / 1e9, first.flush.cpu, B / first.flush.cpu / 1e9);

  printf("%-12s %9s %8s %8s %7s %7s %6s  %s\n", "test", "moved GB", "wall s", "cpu s", "GB/s",
         "ref", "ratio", "bound by");
  const uint64_t seed = block_test_seed(*run, block);
  for (const CatalogueEntry& test : catalogue()) {
    if (only != nullptr && strcmp(only, test.name) != 0) continue;
    Timing t;
    Reference ref;
    Timing copy;  // block-move's own limit: the bare copy of one half onto the other
    const bool copies = strcmp(test.name, "block-move") == 0;
    for (int r = 0; r < repeat; ++r) {
      reference_cycle(*run, block, ref);
      if (copies) time_into(copy, [&] { std::memcpy(block.base + n / 2, block.base, 8 * (n / 2)); });
      time_into(t, [&] { run_catalogue_test(*run, block, test, seed); });
    }
    const double moved = bytes_moved(test.name, n);
    const double rate = moved / t.cpu;
    printf("%-12s %9.2f %8.3f %8.3f %7.2f %7.2f %6.2f  %s\n", test.name, moved / 1e9, t.wall,
           t.cpu, rate / 1e9, ref.rate(B) / 1e9, rate / ref.rate(B), bound_of(test.name));
    if (copies) {
      // Its fill, copy and verify each over half the block: half a reference
      // fill, the bare copy, half a reference verify, and the flush of the
      // block after the copy, which wrote through the cache.
      const double limit = (ref.fill.cpu + ref.read.cpu) / 2 + copy.cpu + ref.flush.cpu;
      printf("%-12s the bare copy of a half: %.3f s (%.2f GB/s moved); fill + copy + verify + "
             "flushes %.3f s; ratio to that %.2f\n",
             "", copy.cpu, B / copy.cpu / 1e9, limit, limit / t.cpu);
    }
    fflush(stdout);
  }
  if (run->faults.total.load() != 0) {
    printf("\n%lld mismatches recorded: the figures above are not clean\n",
           static_cast<long long>(run->faults.total.load()));
  }
  if (only == nullptr) {
    // Each tier against its limit: the bytes its tests move at the reference
    // rate measured just before it (the standard tier), or 5.5 reference
    // cycles (the quick tier: stuck-addr 1, checker 2, movinv-rand 2.5).
    run->cfg.retention_s = 0;
    for (const PatternTier tier_kind : {PatternTier::standard, PatternTier::quick}) {
      run->cfg.tier = tier_kind;
      Reference ref;
      reference_cycle(*run, block, ref);
      const CatalogueEntry* seq[32];
      const int count = tier_sequence(run->cfg, seq, 32);
      double moved = 0;
      for (int k = 0; k < count; ++k) moved += bytes_moved(seq[k]->name, n);
      const double limit = tier_kind == PatternTier::quick ? 5.5 * (ref.fill.cpu + ref.read.cpu)
                                                    : moved / ref.rate(B);
      Timing tier;
      time_into(tier, [&] { run_test_sequence(*run, block); });
      printf("%s%s tier over %llu MiB: %.2f s wall, %.2f s cpu; limit %.2f s; ratio %.2f (cpu), "
             "%.2f (wall)\n",
             tier_kind == PatternTier::quick ? "" : "\n", tier_kind == PatternTier::quick ? "quick" : "standard",
             static_cast<unsigned long long>(mib), tier.wall, tier.cpu, limit, limit / tier.cpu,
             limit / tier.wall);
    }
  }
  arena_free(region);
  return 0;
}
