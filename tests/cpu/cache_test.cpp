// The flush's step and its guard: a line size read wrong, or a flush loop
// that skips or repeats a line, leaves part of a block in the caches and the
// verify after it reads the cache instead of memory.
#include "cpu/cache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace dravik::cpu {
namespace {

TEST(CpuCache, LineSizesDecodeOrAreReportedUnusable) {
  struct Ctr {
    uint64_t ctr;
    uint32_t bytes;
  };
  // DminLine (bits 19:16) is log2 of 4-byte words; the other fields vary.
  const Ctr ctrs[] = {{0x8444C004, 64},  {0x84448004, 64},  {0x9444C004, 64},
                      {0x00050000, 128}, {0x00020000, 16},  {0x00010000, 0},
                      {0x00000000, 0},   {0x000A0000, 4096}, {0x000B0000, 0},
                      {0xFFF0FFFF, 0}};
  for (const Ctr& c : ctrs) EXPECT_EQ(line_bytes_from_ctr_el0(c.ctr), c.bytes) << std::hex << c.ctr;
  struct Ebx {
    uint32_t ebx;
    uint32_t bytes;
  };
  const Ebx ebxs[] = {{0x00100800, 64}, {0x01020800, 64}, {0x00001000, 128},
                      {0x00000000, 0},  {0x00000300, 0},  {0x0000FF00, 0}};
  for (const Ebx& e : ebxs) EXPECT_EQ(line_bytes_from_cpuid1_ebx(e.ebx), e.bytes) << std::hex << e.ebx;
}

TEST(CpuCache, EveryLineOfARangeOnceInOrder) {
  for (uint32_t step : {16u, 64u, 128u, 256u}) {
    for (uintptr_t begin : {uintptr_t{0x10000}, uintptr_t{0x10008}, uintptr_t{0x1003F}}) {
      for (uintptr_t len : {uintptr_t{1}, uintptr_t{63}, uintptr_t{64}, uintptr_t{65}, uintptr_t{1000},
                            uintptr_t{4096}}) {
        std::vector<uintptr_t> seen;
        for_each_line(begin, begin + len, step, [&](uintptr_t line) { seen.push_back(line); });
        std::vector<uintptr_t> want;
        for (uintptr_t l = begin & ~uintptr_t{step - 1}; l < begin + len; l += step) want.push_back(l);
        ASSERT_EQ(seen, want) << "step " << step << " begin " << begin << " len " << len;
      }
    }
  }
}

TEST(CpuCache, TheFlushRunsOrReportsWhyNot) {
  // A processor that reports no usable line size gets no flush at all.
  if (flush_line_bytes() == 0) {
    EXPECT_EQ(probe_flush(), 0);
  }
  // A flush that is usable cleans to memory and changes no word.
  if (probe_flush() == 1) {
    alignas(256) uint64_t block[512];
    for (int k = 0; k < 512; ++k) block[k] = static_cast<uint64_t>(k) * 0x9E3779B97F4A7C15ull;
    flush_lines(block, block + 512, has_unordered_flush());
    full_fence();
    for (int k = 0; k < 512; ++k) ASSERT_EQ(block[k], static_cast<uint64_t>(k) * 0x9E3779B97F4A7C15ull);
  }
}

}  // namespace
}  // namespace dravik::cpu
