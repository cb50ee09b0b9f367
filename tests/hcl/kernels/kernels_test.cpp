// Worker kernels on the calling thread: a planted fault is recorded by every
// verifying kernel from the value its read loaded, a clean arena records
// nothing, and each kernel keeps to its words and counters.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/run/flags.h"
#include "hcl/kernels/job.h"
#include "hcl/kernels/kernels.h"
#include "hcl/pool/worker.h"

namespace dravik {
namespace {

constexpr uint64_t kPage = 4096;
constexpr uint64_t kPageWords = kPage / 8;

// Test memory of `pages` virtual pages over a memory file. alias_of[i] names
// the file page that virtual page i shows; two virtual pages showing the
// same file page make an address-decoding fault: a write to one lands in
// the other.
class AliasedArena {
 public:
  AliasedArena(uint64_t pages, const std::vector<uint64_t>& alias_of) : pages_(pages) {
    fd_ = memfd_create("hcl-arena", 0);
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(ftruncate(fd_, static_cast<off_t>(pages * kPage)), 0);
    void* p = mmap(nullptr, pages * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(p, MAP_FAILED);
    base_ = static_cast<char*>(p);
    for (uint64_t i = 0; i < pages; ++i) {
      const uint64_t file_page = i < alias_of.size() ? alias_of[i] : i;
      void* q = mmap(base_ + i * kPage, kPage, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_,
                     static_cast<off_t>(file_page * kPage));
      EXPECT_EQ(q, base_ + i * kPage);
    }
  }
  ~AliasedArena() {
    munmap(base_, pages_ * kPage);
    close(fd_);
  }
  uint64_t* words() const { return reinterpret_cast<uint64_t*>(base_); }
  uint64_t word_count() const { return pages_ * kPageWords; }

 private:
  uint64_t pages_;
  int fd_ = -1;
  char* base_ = nullptr;
};

// Identity map: every virtual page has its own file page.
std::vector<uint64_t> identity(uint64_t pages) {
  std::vector<uint64_t> map(pages);
  for (uint64_t i = 0; i < pages; ++i) map[i] = i;
  return map;
}

std::vector<uint64_t> with_alias(uint64_t pages, uint64_t page, uint64_t shows) {
  std::vector<uint64_t> map = identity(pages);
  map[page] = shows;
  return map;
}

std::unique_ptr<HclJob> job_over(uint64_t* words, uint64_t count, HclOp op,
                                 uint64_t seed = 0x1234) {
  auto job = std::make_unique<HclJob>();
  job->worker_count = 1;
  job->active = 1;
  job->op = op;
  job->seed = seed;
  job->until_done = 1;
  job->arenas[0].base = words;
  job->arenas[0].words = count;
  return job;
}

uint64_t addr(const uint64_t* p) { return reinterpret_cast<uintptr_t>(p); }

struct Expected {
  const char* kernel;
  uint64_t* vaddr;
  uint64_t expected;
  uint64_t actual;
};

struct KernelCase {
  const char* what;
  HclOp op;
  uint64_t pages;
  uint64_t alias_page;  // virtual page that shows file page alias_shows
  uint64_t alias_shows;
  std::function<void(HclJob&, uint64_t*)> before;       // run before the op (may plant)
  std::function<Expected(const HclJob&, uint64_t*)> first;  // the first record wanted
};

constexpr uint64_t kPattern = 0x5555555555555555ULL;

std::vector<KernelCase> kernel_cases() {
  return {
      {"read stream, one flipped bit after the write", HclOp::verify_stream, 4, 0, 0,
       [](HclJob& job, uint64_t* w) {
         job.op = HclOp::write_stream;
         hcl_run_kernel(job, 0);
         job.op = HclOp::verify_stream;
         w[100] ^= uint64_t{1} << 7;
       },
       [](const HclJob& job, uint64_t* w) {
         const uint64_t e = stream_word(stream_seed(job.seed, 0), 100);
         return Expected{"read", w + 100, e, e ^ (uint64_t{1} << 7)};
       }},
      {"address test, page 1 decodes onto page 0", HclOp::address_test, 2, 1, 0, nullptr,
       [](const HclJob&, uint64_t* w) {
         return Expected{"addr", w, addr(w), addr(w) + kPage};
       }},
      {"pattern round, page 1 decodes onto page 0", HclOp::pattern_round, 2, 1, 0,
       [](HclJob& job, uint64_t*) { job.pattern = kPattern; },
       [](const HclJob&, uint64_t* w) {
         // Page 0's complement shows through page 1 when page 1 is checked.
         return Expected{"pattern", w + kPageWords, kPattern, ~kPattern};
       }},
      {"churn, page 1 decodes onto page 0", HclOp::churn, 4, 1, 0, nullptr,
       [](const HclJob& job, uint64_t* w) {
         const uint64_t s = stream_seed(job.seed, 0 * kChurnStreamsPerWorker + 0);
         return Expected{"churn", w, stream_word(s, 0), stream_word(s, kPageWords)};
       }},
      {"TLB walk, page 1 decodes onto page 0", HclOp::tlb_walk, 8, 1, 0, nullptr,
       [](const HclJob& job, uint64_t* w) {
         const uint64_t s = stream_seed(job.seed, 0 + kTlbStreamOffset);
         return Expected{"tlb", w, stream_word(s, 0), stream_word(s, 1)};
       }},
      {"fletcher4, record 1's first page decodes onto page 0", HclOp::fletcher4, 64, 32, 0, nullptr,
       [](const HclJob& job, uint64_t* w) {
         const uint64_t s = stream_seed(job.seed, kFletcherStreamOffset);
         return Expected{"fletcher", w, stream_word(s, 0), stream_word(s, 16384)};
       }},
  };
}

TEST(HclKernels, EveryVerifyingKernelRecordsAFaultFromTheValueItsReadLoaded) {
  for (const KernelCase& c : kernel_cases()) {
    SCOPED_TRACE(c.what);
    AliasedArena arena(c.pages, with_alias(c.pages, c.alias_page, c.alias_shows));
    uint64_t* w = arena.words();
    auto job = job_over(w, arena.word_count(), c.op);
    if (c.before) c.before(*job, w);
    hcl_run_kernel(*job, 0);
    ASSERT_GT(job->error_total.load(), 0);
    ASSERT_GT(job->error_log.count, 0);
    const HclErrorRecord& rec = job->error_log.records[0];
    const Expected want = c.first(*job, w);
    EXPECT_STREQ(rec.phase, want.kernel);
    EXPECT_EQ(rec.vaddr, addr(want.vaddr));
    EXPECT_EQ(rec.expected, want.expected);
    EXPECT_EQ(rec.actual, want.actual);
  }
}

TEST(HclKernels, ACleanArenaRecordsNothingInAnyKernel) {
  for (const KernelCase& c : kernel_cases()) {
    SCOPED_TRACE(c.what);
    AliasedArena arena(c.pages, identity(c.pages));
    uint64_t* w = arena.words();
    auto job = job_over(w, arena.word_count(), c.op);
    if (c.op == HclOp::verify_stream) {
      job->op = HclOp::write_stream;
      hcl_run_kernel(*job, 0);
      job->op = HclOp::verify_stream;
    }
    job->pattern = kPattern;
    hcl_run_kernel(*job, 0);
    EXPECT_EQ(job->error_total.load(), 0);
    EXPECT_EQ(job->error_log.count, 0);
    EXPECT_GT(job->stats[0].bytes.load() + job->stats[0].ops.load(), 0u);
  }
}

// The glitch: the seam restores the word before anything reads it again, so
// only the verifying read ever saw the wrong value.
void restore_word(uint64_t* word, uint64_t expected, void* ctx) {
  *word = expected;
  ++*static_cast<int*>(ctx);
}

TEST(HclKernels, AGlitchOnlyTheVerifyingReadSawIsStillCounted) {
  // Word 13 sits inside a line (vector path), word 4099 in the tail of a
  // 4100-word arena (word path).
  for (const uint64_t index : {uint64_t{13}, uint64_t{4099}}) {
    SCOPED_TRACE(index);
    std::vector<uint64_t> mem(4100 + 2);
    uint64_t* w = mem.data() + ((16 - (addr(mem.data()) & 15)) & 15) / 8;
    auto job = job_over(w, 4100, HclOp::write_stream);
    hcl_run_kernel(*job, 0);
    const uint64_t good = w[index];
    w[index] = ~good;
    int restored = 0;
    job->mismatch_hook = restore_word;
    job->mismatch_ctx = &restored;
    job->op = HclOp::verify_stream;
    hcl_run_kernel(*job, 0);
    EXPECT_EQ(restored, 1);
    ASSERT_EQ(job->error_total.load(), 1);
    ASSERT_EQ(job->error_log.count, 1);
    const HclErrorRecord& rec = job->error_log.records[0];
    EXPECT_EQ(rec.vaddr, addr(w + index));
    EXPECT_EQ(rec.expected, good);
    EXPECT_EQ(rec.actual, ~good);
    EXPECT_EQ(rec.reread, good);  // the re-read saw the restored word
  }
}

// The TLB walk visits each of 8 pages about 512 times a job: a bad word
// counts once per job, however often the walk comes back to it.
TEST(HclKernels, TlbWalkCountsEachBadWordOncePerJob) {
  AliasedArena arena(8, with_alias(8, 1, 0));
  auto job = job_over(arena.words(), arena.word_count(), HclOp::tlb_walk);
  for (int64_t jobs = 1; jobs <= 2; ++jobs) {
    hcl_run_kernel(*job, 0);
    EXPECT_EQ(job->stats[0].ops.load(), 4096u);
    EXPECT_EQ(job->error_total.load(), jobs);
    EXPECT_EQ(job->error_log.count, jobs);
  }
}

TEST(HclKernels, ErrorTotalCountsPastTheThirtyTwoRecords) {
  std::vector<uint64_t> mem(1024);
  uint64_t* w = mem.data();
  auto job = job_over(w, mem.size(), HclOp::write_stream);
  hcl_run_kernel(*job, 0);
  for (int k = 0; k < 40; ++k) w[k * 3] ^= 1;
  job->op = HclOp::verify_stream;
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->error_total.load(), 40);
  EXPECT_EQ(job->error_log.count, 32);
  EXPECT_EQ(job->error_log.records[31].vaddr, addr(w + 31 * 3));
}

TEST(HclKernels, ShortWriteStreamsWriteExactlyTheirWords) {
  // 3 words: all ordinary stores; 6: one group of four plus two. A guard
  // word after the arena stays untouched, and the read stream agrees.
  for (const uint64_t n : {uint64_t{3}, uint64_t{6}}) {
    SCOPED_TRACE(n);
    alignas(16) uint64_t mem[8];
    for (uint64_t& v : mem) v = 0xAAAAAAAAAAAAAAAAULL;
    auto job = job_over(mem, n, HclOp::write_stream, 77);
    hcl_run_kernel(*job, 0);
    const uint64_t s = stream_seed(77, 0);
    for (uint64_t j = 0; j < n; ++j) EXPECT_EQ(mem[j], stream_word(s, j)) << j;
    EXPECT_EQ(mem[n], 0xAAAAAAAAAAAAAAAAULL);
    EXPECT_EQ(job->arenas[0].written, n);
    EXPECT_EQ(job->stats[0].bytes.load(), n * 8);
    job->op = HclOp::verify_stream;
    hcl_run_kernel(*job, 0);
    EXPECT_EQ(job->stats[0].bytes.load(), n * 8);
    EXPECT_EQ(job->error_total.load(), 0);
  }
}

TEST(HclKernels, AReadStreamAfterAnAddressTestVerifiesNothing) {
  std::vector<uint64_t> mem(4096);
  auto job = job_over(mem.data(), mem.size(), HclOp::write_stream);
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->arenas[0].written, mem.size());
  job->op = HclOp::address_test;
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->arenas[0].written, 0u);
  EXPECT_EQ(job->stats[0].bytes.load(), mem.size() * 8);
  job->stats[0].bytes.store(0);  // as the worker does before every job
  job->op = HclOp::verify_stream;
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->stats[0].bytes.load(), 0u);
  EXPECT_EQ(job->error_total.load(), 0);
}

TEST(HclKernels, AWorkerWithoutAnArenaDoesNothing) {
  for (int code = static_cast<int>(HclOp::write_stream);
       code <= static_cast<int>(HclOp::fletcher4); ++code) {
    auto job = job_over(nullptr, 0, static_cast<HclOp>(code));
    hcl_run_kernel(*job, 0);
    EXPECT_EQ(job->stats[0].bytes.load(), 0u) << code;
    EXPECT_EQ(job->stats[0].ops.load(), 0u) << code;
  }
}

TEST(HclKernels, FletcherChecksTwelveRecordsOf200000WordsAndLeavesTheRestAlone) {
  std::vector<uint64_t> mem(200000, 0xFEEDFACECAFEBEEFULL);
  auto job = job_over(mem.data(), mem.size(), HclOp::fletcher4);
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->stats[0].bytes.load(), 12u * 131072);
  EXPECT_EQ(job->error_total.load(), 0);
  for (uint64_t j = 196608; j < 200000; ++j) ASSERT_EQ(mem[j], 0xFEEDFACECAFEBEEFULL) << j;
  EXPECT_EQ(200000u - 196608u, 3392u);
}

// The sums run over the words in address order, two per vector: a pair taken
// high word first, or a pair left out, changes them although every line
// verifies clean.
TEST(HclKernels, FletcherSumsEveryWordOfARecordInOrder) {
  std::vector<uint64_t> mem(16384);
  auto job = job_over(mem.data(), mem.size(), HclOp::fletcher4);
  hcl_run_kernel(*job, 0);
  const uint64_t s = stream_seed(job->seed, kFletcherStreamOffset);
  uint64_t s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  for (uint64_t j = 0; j < mem.size(); ++j) {
    s1 += stream_word(s, j);
    s2 += s1;
    s3 += s2;
    s4 += s3;
  }
  EXPECT_EQ(job->error_total.load(), 0);
  EXPECT_EQ(job->sink.load(), s1 ^ s2 ^ s3 ^ s4);
}

TEST(HclKernels, TheChaseNeedsAThousandAndTwentyFourNodesAndStopsAtTheSampleCap) {
  // A single cycle through n nodes: node i links to i + 1.
  auto cycle = [](uint64_t n) {
    std::vector<uint64_t> nodes(n * 8);
    for (uint64_t i = 0; i < n; ++i) nodes[i * 8] = (i + 1) % n;
    return nodes;
  };
  std::vector<uint64_t> small = cycle(1023);
  auto job = job_over(nullptr, 0, HclOp::chase_idle);
  job->chase_nodes = small.data();
  job->chase_count = 1023;
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->lat_samples, 0);

  std::vector<uint64_t> nodes = cycle(1024);
  job->chase_nodes = nodes.data();
  job->chase_count = 1024;
  job->lat_samples = kHclLatencySamples - 5;  // the last few samples of a long job
  hcl_run_kernel(*job, 0);
  EXPECT_EQ(job->lat_samples, kHclLatencySamples);
  EXPECT_GT(job->samples[kHclLatencySamples - 1], 0.0);
  EXPECT_LT(job->sink.load(), 1024u);
}

TEST(HclKernels, TheCopyMovesTheFirstHalfOntoTheSecond) {
  std::vector<uint64_t> mem(20);  // half = (20 / 8) * 4 = 8 words
  for (uint64_t j = 0; j < mem.size(); ++j) mem[j] = j;
  auto job = job_over(mem.data(), mem.size(), HclOp::copy_halves);
  job->arenas[0].written = 20;
  hcl_run_kernel(*job, 0);
  for (uint64_t j = 0; j < 8; ++j) EXPECT_EQ(mem[8 + j], j);
  EXPECT_EQ(mem[16], 16u);
  EXPECT_EQ(job->stats[0].bytes.load(), 16u * 8);
  EXPECT_EQ(job->arenas[0].written, 0u);
}

TEST(HclKernels, StreamSeedAndStreamFillFollowTheirDefinitions) {
  // stream_seed(k) = seed ^ mix((k ^ C) + phi); the pattern word j is s ^ j*phi.
  uint64_t state = 5 ^ 0xD6E8FEB86659FD93ULL;
  state += 0x9E3779B97F4A7C15ULL;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  EXPECT_EQ(stream_seed(0xABC, 5), 0xABCULL ^ z);
  alignas(16) uint64_t mem[11] = {};
  fill_stream_pattern(mem + 1, 10, 1000, 42);  // an unaligned start
  for (uint64_t j = 0; j < 10; ++j) EXPECT_EQ(mem[1 + j], 42 ^ ((1000 + j) * kHclPhi)) << j;
  EXPECT_EQ(mem[0], 0u);
}

}  // namespace
}  // namespace dravik
