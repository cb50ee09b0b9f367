// The line helpers under the kernels, over spans that end inside a line: a
// fill or verify that drops the last line or a tail word, or puts a word of a
// pair in its neighbour's place, shows here on either processor.
#include "hcl/kernels/lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace dravik::hcl_lines {
namespace {

constexpr uint64_t kGuard = 0xA5A5A5A5A5A5A5A5ULL;
constexpr uint64_t kSeed = 0x0123456789ABCDEFULL;
constexpr uint64_t kLengths[] = {1, 7, 8, 9, 15, 16, 17, 24, 31};

// For every length: the fill writes exactly want(w, k) into w[0, n); a bit
// flipped in any one word is recorded once, at that word, from the loaded
// value; the rewrite puts the complement of every loaded word in place.
template <class MakeCursor, class Want>
void check_cursor(const char* name, MakeCursor cursor_at, Want want) {
  for (const uint64_t n : kLengths) {
    SCOPED_TRACE(testing::Message() << name << ", " << n << " words");
    alignas(64) uint64_t buf[2 + 32 + 2];  // w starts 16-byte aligned, guards both sides
    uint64_t* w = buf + 2;
    std::fill(std::begin(buf), std::end(buf), kGuard);
    fill_span(w, n, cursor_at(w));
    for (uint64_t k = 0; k < n; ++k) ASSERT_EQ(w[k], want(w, k)) << "word " << k;
    ASSERT_EQ(buf[1], kGuard);
    ASSERT_EQ(w[n], kGuard);
    for (uint64_t k = 0; k < n; ++k) {
      auto job = std::make_unique<HclJob>();
      w[k] ^= uint64_t{1} << (k * 7 % 64);
      verify_span(*job, "t", w, n, cursor_at(w));
      ASSERT_EQ(job->error_total.load(), 1) << "flip in word " << k;
      EXPECT_EQ(job->error_log.records[0].vaddr, reinterpret_cast<uintptr_t>(w + k));
      EXPECT_EQ(job->error_log.records[0].expected, want(w, k));
      EXPECT_EQ(job->error_log.records[0].actual, want(w, k) ^ (uint64_t{1} << (k * 7 % 64)));
      w[k] = want(w, k);
    }
    alignas(64) uint64_t out[32 + 1];
    std::fill(std::begin(out), std::end(out), kGuard);
    auto job = std::make_unique<HclJob>();
    verify_rewrite_span(*job, "t", w, n, out, cursor_at(w),
                        [](const Line& loaded, const Line&) { return cpu::invert(loaded); }, true);
    EXPECT_EQ(job->error_total.load(), 0);
    for (uint64_t k = 0; k < n; ++k) ASSERT_EQ(out[k], ~want(w, k)) << "rewritten word " << k;
    ASSERT_EQ(out[n], kGuard);
  }
}

TEST(HclKernelLines, EveryCursorFillsVerifiesAndRewritesEachWordOfASpan) {
  check_cursor(
      "stream from word 1000", [](uint64_t*) { return StreamWords(kSeed, 1000); },
      [](uint64_t*, uint64_t k) { return stream_word(kSeed, 1000 + k); });
  check_cursor(
      "own address", [](uint64_t* w) { return AddressWords{reinterpret_cast<uintptr_t>(w)}; },
      [](uint64_t* w, uint64_t k) { return uint64_t{reinterpret_cast<uintptr_t>(w + k)}; });
  check_cursor(
      "constant", [](uint64_t*) { return ConstWords{kSeed}; },
      [](uint64_t*, uint64_t) { return kSeed; });
  check_cursor(
      "inverted stream", [](uint64_t*) { return Inverted<StreamWords>{StreamWords(kSeed, 8)}; },
      [](uint64_t*, uint64_t k) { return ~stream_word(kSeed, 8 + k); });
}

}  // namespace
}  // namespace dravik::hcl_lines
