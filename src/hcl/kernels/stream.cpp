// The streaming kernels: write stream, read-and-verify stream, copy.
#include <algorithm>

#include "hcl/kernels/lines.h"
#include "hcl/kernels/kernels.h"

namespace dravik {

using namespace hcl_lines;

void hcl_write_stream(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  if (a.base == nullptr || a.words == 0) return;
  const uint64_t w = a.words;
  const uint64_t s = stream_seed(job.seed, static_cast<uint64_t>(index));
  uint64_t r = 0;  // position
  uint64_t q = 0;  // words written
  for (;;) {
    if (job_stopped(job)) break;
    const uint64_t count = std::min(w - r, kHclChunkWords);
    fill_stream_pattern(a.base + r, count, r, s);
    q += count;
    st.bytes.store(q * 8, std::memory_order_relaxed);
    r += count;
    if (r == w) r = 0;
    if (job.until_done != 0 && q >= w) break;
  }
  st.bytes.store(q * 8, std::memory_order_relaxed);
  a.written = std::min(q, w);
}

void hcl_read_stream(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  const uint64_t avail = std::min(a.written, a.words);
  if (a.base == nullptr || avail == 0) return;
  const uint64_t s = stream_seed(job.seed, static_cast<uint64_t>(index));
  uint64_t q = 0;  // position
  uint64_t r = 0;  // words verified
  for (;;) {
    if (job_stopped(job)) break;
    const uint64_t count = std::min(avail - q, kHclChunkWords);
    verify_span(job, "read", a.base + q, count, StreamWords(s, q));
    r += count;
    st.bytes.store(r * 8, std::memory_order_relaxed);
    q += count;
    if (q == avail) q = 0;
    if (job.until_done != 0 && r >= avail) break;
  }
}

void copy_stream(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  if (a.base == nullptr || a.words < 4) return;
  const uint64_t half = (a.words / 8) * 4;
  uint64_t moved = 0;
  if (half > 0 && !job_stopped(job)) {
    uint64_t* w = a.base;
    for (;;) {
      const bool full = for_chunks(job, half, kHclChunkWords, [&](uint64_t lo, uint64_t hi) {
        uint64_t i = lo;
        for (; i + 2 <= hi; i += 2) {
          cpu::stream_pair(w + half + i, cpu::load_pair_unaligned(w + i));
        }
        cpu::store_fence();
        moved += 2 * (hi - lo);
        st.bytes.store(moved * 8, std::memory_order_relaxed);
      });
      if (!full || job.until_done != 0) break;
    }
  }
  a.written = 0;
  st.bytes.store(moved * 8, std::memory_order_relaxed);
}

}  // namespace dravik
