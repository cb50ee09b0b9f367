// The write/verify boundary: the flush probe, the line walk, and the seam by
// which a test plants a fault between a write pass and its verify pass.
#include "engine/flush.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/run/run.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// 32-bit ARM user space has no cache clean: the probe says so, and the run
// reports "cache-flush: off".
TEST(ClflushProbe, UsableOnThisProcessor) {
#if defined(__arm__)
  EXPECT_EQ(probe_clflush(), 0);
#else
  EXPECT_EQ(probe_clflush(), 1);
#endif
}

extern "C" void marker_handler(int) {}

TEST(ClflushProbe, RestoresThePreviousSignalActions) {
  struct sigaction mine {};
  mine.sa_handler = marker_handler;
  sigemptyset(&mine.sa_mask);
  struct sigaction saved_ill {}, saved_segv {};
  ASSERT_EQ(sigaction(SIGILL, &mine, &saved_ill), 0);
  ASSERT_EQ(sigaction(SIGSEGV, &mine, &saved_segv), 0);

  probe_clflush();

  struct sigaction after_ill {}, after_segv {};
  sigaction(SIGILL, &saved_ill, &after_ill);
  sigaction(SIGSEGV, &saved_segv, &after_segv);
  EXPECT_EQ(after_ill.sa_handler, marker_handler);
  EXPECT_EQ(after_segv.sa_handler, marker_handler);
}

TEST(ClflushProbe, ClflushoptAgreesWithTheKernelsCpuFlags) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the kernel's clflushopt flag is an x86-64 one";
#endif
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  bool kernel_says = false;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("flags", 0) == 0) {
      kernel_says = (line + " ").find(" clflushopt ") != std::string::npos;
      break;
    }
  }
  EXPECT_EQ(cpu_has_clflushopt(), kernel_says);
}

// Three pages: the middle one is readable, the outer two are guard pages a
// flush must never reach (a flush of an inaccessible line faults).
class GuardedPage : public ::testing::Test {
 protected:
  void SetUp() override {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map = mmap(nullptr, 3 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    base_ = static_cast<char*>(map);
    ASSERT_EQ(mprotect(base_ + page_, page_, PROT_READ | PROT_WRITE), 0);
    mid_ = base_ + page_;
  }
  void TearDown() override { munmap(base_, 3 * page_); }
  size_t page_ = 0;
  char* base_ = nullptr;
  char* mid_ = nullptr;
};

TEST_F(GuardedPage, FlushStaysInsideTheRangeAndKeepsTheData) {
  for (size_t i = 0; i < page_; ++i) mid_[i] = static_cast<char>(i * 7 + 1);
  struct Range {
    size_t from, to;
  };
  // Even and odd line counts, an unaligned start, an end inside a line, one
  // line, and an empty range.
  const std::vector<Range> ranges = {{0, page_},      {64, page_},         {8, page_},
                                     {0, page_ - 60}, {page_ - 64, page_}, {100, 101},
                                     {128, 128}};
  for (int opt = 0; opt < (cpu_has_clflushopt() ? 2 : 1); ++opt) {
    for (const Range& r : ranges) {
      flush_lines(mid_ + r.from, mid_ + r.to, opt == 1);
      full_fence();
    }
  }
  for (size_t i = 0; i < page_; ++i) ASSERT_EQ(mid_[i], static_cast<char>(i * 7 + 1)) << i;
}

struct SeamCase {
  const char* name;
  PatternTier tier;
  int32_t clflush_usable;
  int32_t clflushopt;
};

class FlushSpanSeam : public ::testing::TestWithParam<SeamCase> {
 protected:
  static std::unique_ptr<dravik::Run> run_for(const SeamCase& c) {
    auto run = testing::make_run();
    run->cfg.tier = c.tier;
    run->clflush_usable = c.clflush_usable;
    run->clflushopt = c.clflushopt && cpu_has_clflushopt();
    return run;
  }
};

// Both boundaries: after a pass that wrote through the cache, and after one
// of non-temporal stores.
using Boundary = void (*)(const EngineContext&, const TestBlock&);
constexpr Boundary kBoundaries[] = {flush_span, fence_streamed};

TEST_P(FlushSpanSeam, CallsTheSeamOnceWithTheBlock) {
  for (const Boundary boundary : kBoundaries) {
    auto run = run_for(GetParam());
    std::vector<uint64_t> words(1000, 5);
    const TestBlock block{words.data(), words.size(), 7};
    int calls = 0;
    run->after_flush = [&](const TestBlock& seen) {
      ++calls;
      EXPECT_EQ(seen.base, block.base);
      EXPECT_EQ(seen.words, block.words);
      EXPECT_EQ(seen.pass, 7);
    };
    boundary(*run, block);
    EXPECT_EQ(calls, 1);
    boundary(*run, block);
    EXPECT_EQ(calls, 2);

    const TestBlock empty{nullptr, 0, 7};
    run->after_flush = [&](const TestBlock& seen) {
      ++calls;
      EXPECT_EQ(seen.words, 0u);
    };
    boundary(*run, empty);
    EXPECT_EQ(calls, 3);
  }
}

// A bit flipped by the seam after the write pass must be seen by the verify
// pass: nothing written before the flush may be reused from a register.
TEST_P(FlushSpanSeam, AFaultPlantedAtTheBoundaryIsSeenByTheVerifyPass) {
  for (const Boundary boundary : kBoundaries) {
    auto run = run_for(GetParam());
    constexpr uint64_t kWords = 1 << 16;
    std::vector<uint64_t> words(kWords);
    const TestBlock block{words.data(), kWords, 1};
    run->after_flush = [](const TestBlock& b) { b.base[12345] ^= uint64_t{1} << 40; };

    for (uint64_t i = 0; i < kWords; ++i) block.base[i] = i * 0x9E3779B97F4A7C15ULL;
    boundary(*run, block);
    std::vector<uint64_t> bad;
    for (uint64_t i = 0; i < kWords; ++i) {
      if (block.base[i] != i * 0x9E3779B97F4A7C15ULL) bad.push_back(i);
    }
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0], 12345u);
    EXPECT_EQ(block.base[12345] ^ (12345 * 0x9E3779B97F4A7C15ULL), uint64_t{1} << 40);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FlushSpanSeam,
                         ::testing::Values(SeamCase{"standard_clflush", PatternTier::standard, 1, 0},
                                           SeamCase{"thorough_clflushopt", PatternTier::thorough, 1, 1},
                                           SeamCase{"flush_off", PatternTier::standard, 0, 0},
                                           SeamCase{"quick_tier", PatternTier::quick, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravik
