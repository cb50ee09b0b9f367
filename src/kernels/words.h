// The expected-value streams the fault test and the qualification write and
// verify with. A stream is positioned at a word index and yields the value of
// that word (next1) or of the eight words of a line as four pairs, low word
// first (next8); the two may be mixed in any order. Copies are independent: a
// copy replays the stream.
#pragma once
#include <cstdint>

#include "cpu/line.h"

namespace dravik::kernels {

using cpu::Line;
using cpu::Pair;

struct ConstWords {
  uint64_t p;
  uint64_t next1() { return p; }
  Line next8() { return cpu::splat_line(p); }
};

// The word's own virtual address.
struct AddressWords {
  uint64_t a;
  uint64_t next1() {
    const uint64_t r = a;
    a += 8;
    return r;
  }
  Line next8() {
    const Pair base = cpu::splat(a);
    a += 64;
    return {base + cpu::pair_of(0, 8), base + cpu::pair_of(16, 24), base + cpu::pair_of(32, 40),
            base + cpu::pair_of(48, 56)};
  }
};

// The complement of another stream.
template <class Cur>
struct Inverted {
  Cur c;
  uint64_t next1() { return ~c.next1(); }
  Line next8() { return cpu::invert(c.next8()); }
};

// A pattern repeating every `period` words (1 to 64): word i of the span
// holds value_of(i mod period). The table is laid out over a cycle that is
// also a whole number of lines (the least common multiple of the period and
// 8) plus one more line, so a line is read from it without wrapping.
struct PatternTable {
  static constexpr uint32_t kMaxPeriod = 64;
  alignas(64) uint64_t t[8 * kMaxPeriod + 8] = {};  // the longest cycle is 8 periods
  uint32_t cycle = 8;
  template <class F>
  PatternTable(uint32_t period, F value_of) {
    while (cycle % period != 0) cycle += 8;
    for (uint32_t j = 0; j < cycle + 8; ++j) t[j] = value_of(j % period);
  }
};

struct PeriodicWords {
  const uint64_t* t;
  uint32_t cycle;
  uint32_t idx;
  PeriodicWords(const PatternTable& tab, uint64_t start)
      : t(tab.t), cycle(tab.cycle), idx(static_cast<uint32_t>(start % tab.cycle)) {}
  uint64_t next1() {
    const uint64_t r = t[idx];
    if (++idx == cycle) idx = 0;
    return r;
  }
  Line next8() {
    const uint64_t* p = t + idx;
    idx += 8;
    if (idx >= cycle) idx -= cycle;
    return cpu::load_line_unaligned(p);
  }
};

}  // namespace dravik::kernels
