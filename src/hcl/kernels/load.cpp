// The realistic loads: the latency chase, the OLTP mix on the shared hot
// set, the TLB walk and the fletcher4 checksum.
#include <algorithm>
#include <atomic>
#include <vector>

#include "core/prng/prng.h"
#include "core/text.h"
#include "hcl/kernels/lines.h"
#include "hcl/kernels/kernels.h"

namespace dravik {

using namespace hcl_lines;

namespace {

constexpr int kChaseSteps = 4096;
constexpr uint64_t kOltpOnce = uint64_t{1} << 20;  // operations of an until-done OLTP job
constexpr uint64_t kRecordWords = 16384;           // a 128 KiB fletcher record

// kChaseSteps dependent loads from idx. An index beyond the nodes (a
// corrupted link) restarts at node 0 rather than reading outside them.
inline uint64_t chase(const uint64_t* nodes, uint64_t count, uint64_t idx) {
  for (int k = 0; k < kChaseSteps; ++k) {
    idx = nodes[idx * 8];
    idx = idx < count ? idx : 0;
  }
  return idx;
}

// A bad page word of the TLB walk, counted once per job: the walk visits
// each page thousands of times, and the error record and the map already
// name the word. `counted` is a bitmap of the pages counted so far, made at
// the first error.
[[gnu::cold, gnu::noinline]] void tlb_error(HclJob& job, std::vector<uint64_t>& counted,
                                           uint64_t pages, uint64_t* word, uint64_t page,
                                           uint64_t loaded, uint64_t expected) {
  if (counted.empty()) counted.assign(pages / 64 + 1, 0);
  uint64_t& bits = counted[page / 64];
  const uint64_t bit = uint64_t{1} << (page % 64);
  if ((bits & bit) != 0) return;
  bits |= bit;
  record_word(job, "tlb", word, loaded, expected);
}

}  // namespace

void chase_kernel(HclJob& job) {
  const uint64_t* nodes = job.chase_nodes;
  const uint64_t count = job.chase_count;
  if (nodes == nullptr || count < 1024) return;
  uint64_t idx = chase(nodes, count, 0);
  while (!job_stopped(job) && job.lat_samples < kHclLatencySamples) {
    const double t0 = now_seconds();
    idx = chase(nodes, count, idx);
    const double t1 = now_seconds();
    job.sink.store(idx, std::memory_order_relaxed);
    job.samples[static_cast<size_t>(job.lat_samples)] = (t1 - t0) / kChaseSteps * 1e9;
    ++job.lat_samples;
    if (job.until_done != 0 && job.lat_samples >= kHclLatencySamples) break;
  }
}

void hcl_oltp(HclJob& job, int index) {
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  uint64_t* hot = job.hot_set;
  if (hot == nullptr || job.hot_slots <= 0) return;
  const uint64_t mask = static_cast<uint64_t>(job.hot_slots) - 1;
  RandState rs;
  rand_seed(&rs, stream_seed(job.seed, static_cast<uint64_t>(index) + kOltpStreamOffset));
  uint64_t sum = 0, reads = 0, incs = 0;
  if (!job_stopped(job)) {
    for (;;) {
      for (int k = 0; k < 1024; ++k) {
        const uint64_t r = rand_next(&rs);
        uint64_t& counter = hot[(r & mask) * 8];
        if ((r >> 32) % 10 < 7) {
          sum += std::atomic_ref<uint64_t>(counter).load(std::memory_order_relaxed);
          ++reads;
        } else {
          std::atomic_ref<uint64_t>(counter).fetch_add(1, std::memory_order_relaxed);
          ++incs;
        }
      }
      if (job_stopped(job)) break;
      if (job.until_done != 0 && reads + incs >= kOltpOnce) break;
    }
  }
  job.sink.store(sum, std::memory_order_relaxed);
  st.ops.store(reads + incs, std::memory_order_relaxed);
  st.incs.store(incs, std::memory_order_relaxed);
}

void hcl_tlb_walk(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  const uint64_t stride = job.page_words;
  if (a.base == nullptr || stride == 0 || a.words / stride < 8) return;
  uint64_t* w = a.base;
  const uint64_t pages = a.words / stride;
  const uint64_t s = stream_seed(job.seed, static_cast<uint64_t>(index) + kTlbStreamOffset);
  RandState rs;
  rand_seed(&rs, s);
  for (uint64_t k = 0; k < pages; ++k) w[k * stride] = stream_word(s, k);
  if (job_stopped(job)) return;
  uint64_t ops = 0;
  std::vector<uint64_t> counted;
  for (;;) {
    for (int v = 0; v < 4096; ++v) {
      const uint64_t k = rand_next(&rs) % pages;
      const uint64_t loaded = w[k * stride];
      const uint64_t expected = stream_word(s, k);
      if (loaded != expected) [[unlikely]] {
        tlb_error(job, counted, pages, w + k * stride, k, loaded, expected);
      }
    }
    ops += 4096;
    st.ops.store(ops, std::memory_order_relaxed);
    if (job_stopped(job) || job.until_done != 0) break;
  }
}

void hcl_fletcher4(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  if (a.base == nullptr || a.words <= kRecordWords - 1) return;
  uint64_t* w = a.base;
  const uint64_t records = a.words / kRecordWords;
  const uint64_t s = stream_seed(job.seed, static_cast<uint64_t>(index) + kFletcherStreamOffset);
  for (uint64_t rec = 0; rec < records; ++rec) {
    fill_stream_pattern(w + rec * kRecordWords, kRecordWords, rec * kRecordWords, s);
  }
  if (job_stopped(job)) return;
  uint64_t bytes = 0;
  for (;;) {
    for (uint64_t rec = 0; rec < records; ++rec) {
      if (job_stopped(job)) goto done;
      const uint64_t j0 = rec * kRecordWords;
      uint64_t* p = w + j0;
      StreamWords expect(s, j0);
      uint64_t s1 = 0, s2 = 0, s3 = 0, s4 = 0;
      for (uint64_t i = 0; i < kRecordWords; i += 8) {
        const Line l = load_line(p + i);
        const Line e = expect.next8();
        if (line_differs(l, e)) [[unlikely]] record_line(job, "fletcher", p + i, l, e);
        for (const Pair v : {l.v0, l.v1, l.v2, l.v3}) {
          s1 += cpu::low_word(v);
          s2 += s1;
          s3 += s2;
          s4 += s3;
          s1 += cpu::high_word(v);
          s2 += s1;
          s3 += s2;
          s4 += s3;
        }
      }
      // The line checks compare every word the sums are taken over, so a
      // record whose checksum would differ has had each differing word
      // recorded from its loaded value; the sums stay observable here.
      job.sink.store(s1 ^ s2 ^ s3 ^ s4, std::memory_order_relaxed);
      bytes += kRecordWords * 8;
      st.bytes.store(bytes, std::memory_order_relaxed);
    }
    if (job.until_done != 0) break;
  }
done:
  st.bytes.store(bytes, std::memory_order_relaxed);
}

}  // namespace dravik
