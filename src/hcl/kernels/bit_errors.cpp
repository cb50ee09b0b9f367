// Recording a bit error into the job's log: the kernels' slow path, on the
// worker threads. The controller reports the records (pool/map.cpp).
#include <cstring>
#include <mutex>

#include "cpu/cache.h"
#include "hcl/kernels/kernels.h"
#include "hcl/kernels/lines.h"

namespace dravik {

void record_bit_error(HclJob& job, const char* kernel, uint64_t* address, uint64_t expected,
                      uint64_t actual) {
  job.error_total.fetch_add(1, std::memory_order_relaxed);
  // The verify left the line in the cache; the re-read must come from
  // memory, so the line goes first (when the kernel lets user space flush:
  // an unprobed flush would trap on a box that forbids it). The re-read only
  // classifies: the error is counted and recorded whatever it shows.
  if (job.flush_usable != 0) cpu::flush_line(reinterpret_cast<uintptr_t>(address));
  cpu::full_fence();
  const uint64_t reread = *static_cast<volatile const uint64_t*>(address);
  std::lock_guard<std::mutex> hold(job.error_log.lock);
  HclErrorLog& log = job.error_log;
  if (log.count >= kHclErrorLogCapacity) return;
  HclErrorRecord& rec = log.records[static_cast<size_t>(log.count)];
  strncpy(rec.phase, kernel, sizeof rec.phase - 1);
  rec.phase[sizeof rec.phase - 1] = '\0';
  rec.vaddr = reinterpret_cast<uintptr_t>(address);
  rec.expected = expected;
  rec.actual = actual;
  rec.reread = reread;
  ++log.count;
}

namespace hcl_lines {

void record_line(HclJob& job, const char* kernel, uint64_t* p, const Line& loaded,
                 const Line& expected) {
  uint64_t a[8];
  uint64_t e[8];
  cpu::words_of(loaded, a);
  cpu::words_of(expected, e);
  // The seam runs before anything reads the line again: what is recorded
  // must come from the loaded values alone.
  if (job.mismatch_hook != nullptr) {
    for (int k = 0; k < 8; ++k) {
      if (a[k] != e[k]) job.mismatch_hook(p + k, e[k], job.mismatch_ctx);
    }
  }
  for (int k = 0; k < 8; ++k) {
    if (a[k] != e[k]) record_bit_error(job, kernel, p + k, e[k], a[k]);
  }
}

void record_word(HclJob& job, const char* kernel, uint64_t* p, uint64_t loaded,
                 uint64_t expected) {
  if (job.mismatch_hook != nullptr) job.mismatch_hook(p, expected, job.mismatch_ctx);
  record_bit_error(job, kernel, p, expected, loaded);
}

}  // namespace hcl_lines

}  // namespace dravik
