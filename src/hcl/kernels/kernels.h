// What the qualification's workers run on their arenas: the kernels by op,
// the stream pattern they write and verify, and the recording of a bit
// error. The worker thread that dispatches to them is pool/worker.h.
//
// Every verifying kernel recomputes what it expects from (seed, index), so
// nothing but the arena is read. Verifies load a 64-byte line, OR the
// differences of its words together without a branch, and only when that is
// non-zero hand the loaded values to the out-of-line recorder: an error is
// recorded from the very value the verifying read saw, and record_bit_error's
// own read of the word serves only as the re-read.
//
// Kernels by op (all test stop = the job's stop or stop_requested):
//   allocate_arena  map, advise huge pages, fill with stream seed 0, lock
//                   (the pool's own op: pool/worker.cpp).
//   write_stream    stream pattern of stream_seed(index) in 8 MiB chunks;
//                   until-done: one pass; timed: wraps until stop. Sets written.
//   verify_stream   verifies words [0, written) of that pattern ("read").
//   copy_halves     first half onto the second half, non-temporal (the load
//                   of chase_loaded).
//   chase_idle, chase_loaded  worker 0 times dependent loads over
//                   chase_nodes; in chase_loaded the other workers copy meanwhile.
//   oltp            70 % reads, 30 % locked increments on the shared hot set.
//   address_test    own address, then its complement ("addr").
//   pattern_round   job.pattern, then its complement ("pattern").
//   churn           fill half, copy-invert it to the other half, verify both.
//   tlb_walk        one load on a random page (job.page_words) per visit ("tlb").
//   fletcher4       cascaded sums over 128 KiB records ("fletcher").
// Looping kernels (copy, OLTP, churn, TLB, fletcher4) run until stop in a
// timed job; in an until-done job they make one pass (OLTP: 2^20 operations),
// so an until-done job always ends.
#pragma once
#include <cstdint>

#include "hcl/kernels/job.h"

namespace dravik {

inline constexpr uint64_t kHclPhi = 0x9E3779B97F4A7C15ULL;
// Words per stream chunk: the stop test and progress fall between chunks.
inline constexpr uint64_t kHclChunkWords = uint64_t{1} << 20;

// The stream seed of kernel constant k under a job seed (stream_pattern.cpp).
uint64_t stream_seed(uint64_t job_seed, uint64_t k);
// The streams of the load kernels, numbered from the worker's index i: the
// write and read kernels take stream i itself, the fletcher4 records i plus
// kFletcherStreamOffset (so they never repeat what a write of the same job
// seed left there), the OLTP counters' random picks i plus kOltpStreamOffset,
// the TLB walk's pages i plus kTlbStreamOffset, and round r of churn
// i * kChurnStreamsPerWorker + r. The values are part of every recorded run's
// data: changing one changes what a --seed repeats.
inline constexpr uint64_t kFletcherStreamOffset = 313;
inline constexpr uint64_t kOltpStreamOffset = 101;
inline constexpr uint64_t kTlbStreamOffset = 7717;
inline constexpr uint64_t kChurnStreamsPerWorker = 977;

// The stream pattern word j of seed s.
inline uint64_t stream_word(uint64_t s, uint64_t j) { return s ^ (j * kHclPhi); }

// Writes the stream pattern of indexes j0 .. j0+count-1 into words[0, count)
// with non-temporal stores, then a store fence; words need only 8-byte
// alignment.
void fill_stream_pattern(uint64_t* words, uint64_t count, uint64_t j0, uint64_t seed);

// Records one bit error seen by `kernel` at address: actual is the value the
// verifying read loaded. Counts it in error_total; flushes the line and reads
// the word once more from memory as the re-read; stores a record while fewer
// than 32 exist.
void record_bit_error(HclJob& job, const char* kernel, uint64_t* address, uint64_t expected,
                      uint64_t actual);

// The individual kernels (what hcl_run_kernel dispatches to).
void hcl_write_stream(HclJob& job, int index);
void hcl_read_stream(HclJob& job, int index);
void copy_stream(HclJob& job, int index);
void chase_kernel(HclJob& job);
void hcl_oltp(HclJob& job, int index);
void hcl_address_test(HclJob& job, int index);
void hcl_pattern_test(HclJob& job, int index);
void hcl_churn(HclJob& job, int index);
void hcl_tlb_walk(HclJob& job, int index);
void hcl_fletcher4(HclJob& job, int index);

}  // namespace dravik
