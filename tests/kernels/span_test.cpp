// The span kernels with a recorder of their own, over every start a span can
// have (on a line, or inside one and only 8-byte aligned) and lengths that end
// inside a line or a pair of lines: a flipped bit in any word reaches the
// recorder once, at that word's index from w, with the value the read loaded
// and the value that was due; the rewriting verify records before it writes
// and leaves the complement of what was due in every word.
#include "kernels/span.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kernels/words.h"

namespace dravik::kernels {
namespace {

struct Seen {
  uint64_t i, expected, actual;
  bool operator==(const Seen&) const = default;
};

struct Collect {
  std::vector<Seen> seen;
  void word(uint64_t i, uint64_t expected, uint64_t actual) { seen.push_back({i, expected, actual}); }
  void line(uint64_t i, const Line& diff, const Line& expected) {
    uint64_t d[8], e[8];
    cpu::words_of(diff, d);
    cpu::words_of(expected, e);
    for (uint64_t k = 0; k < 8; ++k) {
      if (d[k] != 0) word(i + k, e[k], d[k] ^ e[k]);
    }
  }
};

// Word k of a span filled from Inverted<AddressWords> at w.
uint64_t due(const uint64_t* w, uint64_t k) { return ~uint64_t{reinterpret_cast<uintptr_t>(w + k)}; }

TEST(SpanKernels, EveryFlippedWordReachesTheRecorderOnceWithWhatTheReadLoaded) {
  alignas(64) uint64_t buf[64 + 2];
  for (const uint64_t start : {0, 3, 8}) {  // on a line, inside one, at a line
    for (const uint64_t n : {1, 9, 16, 23, 40}) {  // ends inside a line or a pair of lines
      SCOPED_TRACE(testing::Message() << "start " << start << ", " << n << " words");
      uint64_t* w = buf + start;
      std::fill(std::begin(buf), std::end(buf), 0);
      Inverted<AddressWords> fill{{reinterpret_cast<uintptr_t>(w)}};
      stream_fill(w, 0, n, fill);
      for (uint64_t k = 0; k < n; ++k) ASSERT_EQ(w[k], due(w, k)) << "word " << k;
      ASSERT_EQ(w[n], 0u);
      for (uint64_t k = 0; k < n; ++k) {
        const uint64_t flip = uint64_t{1} << (k * 13 % 64);
        w[k] ^= flip;
        Collect rec;
        Inverted<AddressWords> expect{{reinterpret_cast<uintptr_t>(w)}};
        check_span(w, 0, n, expect, rec);
        ASSERT_EQ(rec.seen, (std::vector<Seen>{{k, due(w, k), due(w, k) ^ flip}})) << "flip " << k;
        Inverted<AddressWords> bare{{reinterpret_cast<uintptr_t>(w)}};
        ASSERT_EQ(diff_or(w, 0, n, bare), flip);
        w[k] ^= flip;
      }
      const uint64_t flip = uint64_t{1} << 63;
      w[n - 1] ^= flip;
      Collect rec;
      Inverted<AddressWords> expect{{reinterpret_cast<uintptr_t>(w)}};
      check_invert_span(w, 0, n, expect, rec);
      ASSERT_EQ(rec.seen, (std::vector<Seen>{{n - 1, due(w, n - 1), due(w, n - 1) ^ flip}}));
      for (uint64_t k = 0; k < n; ++k) ASSERT_EQ(w[k], ~due(w, k)) << "rewritten word " << k;
    }
  }
}

}  // namespace
}  // namespace dravik::kernels
