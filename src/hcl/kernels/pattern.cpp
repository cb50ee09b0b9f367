// The read-modify-write kernels: address test, fixed pattern, copy/invert
// churn. Each checks a line, records its errors from the loaded values, and
// only then rewrites it.
#include "hcl/kernels/lines.h"
#include "hcl/kernels/kernels.h"

namespace dravik {

using namespace hcl_lines;

namespace {

uint64_t addr_of(const uint64_t* p) { return reinterpret_cast<uintptr_t>(p); }

// The three phases shared by the address and pattern tests: write the
// value of every word, verify it and write its complement, verify the
// complement. bytes after each phase: D*8/3, D*16/3, D*8.
template <class Expect>
void write_invert_verify(HclJob& job, int index, const char* kernel, Expect expect_at) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  if (a.base == nullptr || a.words == 0) return;
  a.written = 0;
  uint64_t* w = a.base;
  const uint64_t d = a.words;
  if (!for_chunks(job, d, kStopWords,
                  [&](uint64_t lo, uint64_t hi) { fill_span(w + lo, hi - lo, expect_at(lo)); })) {
    return;
  }
  st.bytes.store(d * 8 / 3, std::memory_order_relaxed);
  if (!for_chunks(job, d, kStopWords, [&](uint64_t lo, uint64_t hi) {
        verify_invert_span(job, kernel, w + lo, hi - lo, expect_at(lo));
      })) {
    return;
  }
  st.bytes.store(d * 16 / 3, std::memory_order_relaxed);
  if (!for_chunks(job, d, kStopWords, [&](uint64_t lo, uint64_t hi) {
        verify_span(job, kernel, w + lo, hi - lo, Inverted<decltype(expect_at(lo))>{expect_at(lo)});
      })) {
    return;
  }
  st.bytes.store(d * 8, std::memory_order_relaxed);
}

}  // namespace

void hcl_address_test(HclJob& job, int index) {
  const uint64_t* base = job.arenas[static_cast<size_t>(index)].base;
  write_invert_verify(job, index, "addr",
                      [base](uint64_t lo) { return AddressWords{addr_of(base + lo)}; });
}

void hcl_pattern_test(HclJob& job, int index) {
  const uint64_t p = job.pattern;
  write_invert_verify(job, index, "pattern", [p](uint64_t) { return ConstWords{p}; });
}

void hcl_churn(HclJob& job, int index) {
  HclArena& a = job.arenas[static_cast<size_t>(index)];
  HclThreadStats& st = job.stats[static_cast<size_t>(index)];
  if (a.base == nullptr || a.words < 8) return;
  a.written = 0;
  uint64_t* w = a.base;
  const uint64_t half = (a.words / 8) * 4;
  auto copy_inverted = [](const Line& loaded, const Line&) { return cpu::invert(loaded); };
  uint64_t bytes = 0;
  for (uint64_t r = 0; !job_stopped(job); ++r) {
    const uint64_t s = stream_seed(job.seed, static_cast<uint64_t>(index) * kChurnStreamsPerWorker + r);
    fill_stream_pattern(w, half, 0, s);
    // The copy carries what was read, so an error of the first half shows
    // again in the second.
    if (!for_chunks(job, half, kStopWords, [&](uint64_t lo, uint64_t hi) {
          verify_rewrite_span(job, "churn", w + lo, hi - lo, w + half + lo, StreamWords(s, lo),
                              copy_inverted, true);
        })) {
      break;
    }
    if (!for_chunks(job, half, kStopWords, [&](uint64_t lo, uint64_t hi) {
          verify_span(job, "churn", w + half + lo, hi - lo,
                      Inverted<StreamWords>{StreamWords(s, lo)});
        })) {
      break;
    }
    bytes += (a.words / 8) * 96;
    st.bytes.store(bytes, std::memory_order_relaxed);
    if (job.until_done != 0) break;
  }
  st.bytes.store(bytes, std::memory_order_relaxed);
}

}  // namespace dravik
