// The span kernels of the fault test and the qualification: fill a span of
// words from a stream with non-temporal stores, verify it, or verify it and
// write the complement of what was due. Each is written once; what happens
// on a mismatch is the caller's recorder:
//
//   rec.word(i, expected, actual)   word i read as actual where expected was due
//   rec.line(i, diff, expected)     the line at word i differed from expected
//                                   by diff, so the read loaded diff ^ expected
//
// Indexes count words from w. The hot loops hold one load or store per word:
// fills store each line as the stream gives it; verifies XOR each load of a
// 64-byte line with its expected value as it arrives, OR the differences
// together without a branch per word, and take one predicted branch per pair
// of lines (per line in the rewriting verify). Only the differences stay in
// registers: a recorder is handed what that read loaded, never a second
// read, so a glitch only that read saw is not lost; any re-read of its own
// only classifies. Recorders are reached in the cold branch alone.
//
// The kernels work on a local copy of the stream and hand its final state
// back at the end: a stream reached through a reference could alias the
// words, and its state would then go through memory on every store instead
// of staying in registers.
#pragma once
#include <algorithm>
#include <cstdint>

#include "cpu/line.h"

namespace dravik::kernels {

using cpu::Line;
using cpu::Pair;

// First index >= lo whose word starts a 64-byte line, or hi. A span that is
// not word-aligned gets no line body at all.
inline uint64_t line_start(const uint64_t* w, uint64_t lo, uint64_t hi) {
  const uintptr_t addr = reinterpret_cast<uintptr_t>(w + lo);
  if ((addr & 7) != 0) return hi;
  return std::min(hi, lo + (((64 - (addr & 63)) & 63) >> 3));
}

// The shape of every kernel over [lo, hi): the words before the first whole
// line one at a time (one(i)), then body(i), which does whole lines from i
// and returns the first index it left, then the words after it one at a time.
template <class One, class Body>
[[gnu::always_inline]] inline void by_lines(const uint64_t* w, uint64_t lo, uint64_t hi, One one,
                                            Body body) {
  uint64_t i = lo;
  for (const uint64_t start = line_start(w, lo, hi); i < start; ++i) one(i);
  for (i = body(i); i < hi; ++i) one(i);
}

// One word of a verify (the head and tail of the line kernels); returns the
// value that was due.
template <class Cur, class Rec>
inline uint64_t check_word(const uint64_t* w, uint64_t i, Cur& c, Rec& rec) {
  const uint64_t e = c.next1();
  const uint64_t a = w[i];
  if (a != e) [[unlikely]] rec.word(i, e, a);
  return e;
}

// The same, then the complement of the expected value written in its place.
template <class Cur, class Rec>
inline void check_invert_word(uint64_t* w, uint64_t i, Cur& c, Rec& rec) {
  w[i] = ~check_word(w, i, c, rec);
}

// Writes w[lo, hi) from the stream with non-temporal stores; ordering them
// (the store fence) is the caller's.
template <class Cur>
inline void stream_fill(uint64_t* w, uint64_t lo, uint64_t hi, Cur& stream) {
  Cur c = stream;
  by_lines(w, lo, hi, [&](uint64_t i) { cpu::stream_word(w + i, c.next1()); },
           [&](uint64_t i) {
             for (; i + 8 <= hi; i += 8) cpu::stream_line(w + i, c.next8());
             return i;
           });
  stream = c;
}

// OR over w[lo, hi) of (word XOR expected), with no branch at all: the bare
// verifying read the benchmarks hold the kernels against. It cannot tell
// which word differed, so nothing verifies with it.
template <class Cur>
inline uint64_t diff_or(const uint64_t* w, uint64_t lo, uint64_t hi, Cur& stream) {
  Cur c = stream;
  uint64_t acc = 0;
  Pair a0 = cpu::zero_pair(), a1 = a0, a2 = a0, a3 = a0;
  by_lines(w, lo, hi, [&](uint64_t i) { acc |= w[i] ^ c.next1(); },
           [&](uint64_t i) {
             for (; i + 8 <= hi; i += 8) {
               const Line e = c.next8();
               a0 = a0 | (cpu::load_pair(w + i) ^ e.v0);
               a1 = a1 | (cpu::load_pair(w + i + 2) ^ e.v1);
               a2 = a2 | (cpu::load_pair(w + i + 4) ^ e.v2);
               a3 = a3 | (cpu::load_pair(w + i + 6) ^ e.v3);
             }
             return i;
           });
  stream = c;
  return acc | cpu::fold((a0 | a1) | (a2 | a3));
}

// The two lines at word i whose differences are d0..d3 and f0..f3, checked
// ascending; `at` is the stream as it stood before them. The sixteen words
// travel in registers: lines passed through memory would make the hot loop
// store every line it checks.
template <class Cur, class Rec>
[[gnu::cold, gnu::noinline]] void report_two_lines(Rec& rec, uint64_t i, Pair d0, Pair d1, Pair d2,
                                                   Pair d3, Pair f0, Pair f1, Pair f2, Pair f3,
                                                   Cur at) {
  const Line e = at.next8();
  const Line g = at.next8();
  rec.line(i, Line{d0, d1, d2, d3}, e);
  rec.line(i + 8, Line{f0, f1, f2, f3}, g);
}

// The line at word i whose differences are d0..d3; `at` is the stream as it
// stood before it. As above, the differences come in registers.
template <class Cur, class Rec>
[[gnu::cold, gnu::noinline]] void report_line(Rec& rec, uint64_t i, Pair d0, Pair d1, Pair d2,
                                              Pair d3, Cur at) {
  rec.line(i, Line{d0, d1, d2, d3}, at.next8());
}

// Verifies w[lo, hi) against the stream; every mismatch goes to rec. The
// stream ends positioned at hi.
template <class Cur, class Rec>
inline void check_span(const uint64_t* w, uint64_t lo, uint64_t hi, Cur& stream, Rec& rec) {
  Cur c = stream;
  by_lines(w, lo, hi, [&](uint64_t i) { check_word(w, i, c, rec); },
           [&](uint64_t i) {
             // Two lines per branch. Only their differences stay in
             // registers: the report takes the expected values again from a
             // copy of the stream.
             for (; i + 16 <= hi; i += 16) {
               const Cur at = c;
               const Line d = cpu::diff_line(w + i, c.next8());
               const Line f = cpu::diff_line(w + i + 8, c.next8());
               if (cpu::any_set(cpu::or_lines(d, f))) [[unlikely]] {
                 report_two_lines<Cur, Rec>(rec, i, d.v0, d.v1, d.v2, d.v3, f.v0, f.v1, f.v2,
                                            f.v3, at);
               }
             }
             for (; i + 8 <= hi; i += 8) {
               const Line e = c.next8();
               const Line d = cpu::diff_line(w + i, e);
               if (cpu::any_set(d)) [[unlikely]] rec.line(i, d, e);
             }
             return i;
           });
  stream = c;
}

// Read-modify-write, ascending: each word is checked against the stream,
// handed to rec when it differs, then overwritten (through the cache: the
// line was just read) with the complement of the expected value, so no
// record comes after its word was overwritten.
template <class Cur, class Rec>
inline void check_invert_span(uint64_t* w, uint64_t lo, uint64_t hi, Cur& stream, Rec& rec) {
  Cur c = stream;
  by_lines(w, lo, hi, [&](uint64_t i) { check_invert_word(w, i, c, rec); },
           [&](uint64_t i) {
             // The expected line stays in registers on the way to the store:
             // the rare report takes it from a copy of the stream and the
             // line is taken again from that copy after it, so nothing the
             // store needs lives across the call.
             for (; i + 8 <= hi; i += 8) {
               const Cur at = c;
               Line e = c.next8();
               const Line d = cpu::diff_line(w + i, e);
               if (cpu::any_set(d)) [[unlikely]] {
                 report_line<Cur, Rec>(rec, i, d.v0, d.v1, d.v2, d.v3, at);
                 e = Cur(at).next8();
               }
               cpu::store_line(w + i, cpu::invert(e));
             }
             return i;
           });
  stream = c;
}

}  // namespace dravik::kernels
