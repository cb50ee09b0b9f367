// A 64-byte line of the test block as four pairs of words, low word first:
// the step of every verifying and writing kernel. A verify loads a line and
// XORs each load with its expected pair as it arrives; what the read loaded
// is then the difference XOR the expected value, so a report can rebuild it
// without a second read.
#pragma once
#include <cstdint>

#include "cpu/vector.h"

namespace dravik::cpu {

struct Line {
  Pair v0, v1, v2, v3;
};

inline Line splat_line(uint64_t v) {
  const Pair p = splat(v);
  return {p, p, p, p};
}

// w 16-byte aligned.
inline Line load_line(const uint64_t* w) {
  return {load_pair(w), load_pair(w + 2), load_pair(w + 4), load_pair(w + 6)};
}
inline Line load_line_unaligned(const uint64_t* w) {
  return {load_pair_unaligned(w), load_pair_unaligned(w + 2), load_pair_unaligned(w + 4),
          load_pair_unaligned(w + 6)};
}

// The differences of the line at w (16-byte aligned) from e, as one read
// finds them: each load feeds its XOR, and no copy of the line is kept.
inline Line diff_line(const uint64_t* w, const Line& e) {
  return {load_pair(w) ^ e.v0, load_pair(w + 2) ^ e.v1, load_pair(w + 4) ^ e.v2,
          load_pair(w + 6) ^ e.v3};
}
inline Line diff_line_unaligned(const uint64_t* w, const Line& e) {
  return {load_pair_unaligned(w) ^ e.v0, load_pair_unaligned(w + 2) ^ e.v1,
          load_pair_unaligned(w + 4) ^ e.v2, load_pair_unaligned(w + 6) ^ e.v3};
}

inline Line xor_lines(const Line& a, const Line& b) {
  return {a.v0 ^ b.v0, a.v1 ^ b.v1, a.v2 ^ b.v2, a.v3 ^ b.v3};
}
inline Line or_lines(const Line& a, const Line& b) {
  return {a.v0 | b.v0, a.v1 | b.v1, a.v2 | b.v2, a.v3 | b.v3};
}
inline Line invert(const Line& l) { return {~l.v0, ~l.v1, ~l.v2, ~l.v3}; }

// The four pairs ORed into one.
inline Pair or_pairs(const Line& l) { return (l.v0 | l.v1) | (l.v2 | l.v3); }

// Whether any word of a line of differences is non-zero.
inline bool any_set(const Line& d) { return any_set(or_pairs(d)); }

// Stores through the cache (the line was just read); w 16-byte aligned.
inline void store_line(uint64_t* w, const Line& l) {
  store_pair(w, l.v0);
  store_pair(w + 2, l.v1);
  store_pair(w + 4, l.v2);
  store_pair(w + 6, l.v3);
}
inline void store_line_unaligned(uint64_t* w, const Line& l) {
  store_pair_unaligned(w, l.v0);
  store_pair_unaligned(w + 2, l.v1);
  store_pair_unaligned(w + 4, l.v2);
  store_pair_unaligned(w + 6, l.v3);
}

// Stores with non-temporal stores; w 16-byte aligned.
inline void stream_line(uint64_t* w, const Line& l) {
  stream_pairs(w, l.v0, l.v1);
  stream_pairs(w + 4, l.v2, l.v3);
}

// The same where w may be only 8-byte aligned: word by word.
inline void stream_pair_unaligned(uint64_t* w, Pair v) {
  stream_word(w, low_word(v));
  stream_word(w + 1, high_word(v));
}
inline void stream_line_unaligned(uint64_t* w, const Line& l) {
  stream_pair_unaligned(w, l.v0);
  stream_pair_unaligned(w + 2, l.v1);
  stream_pair_unaligned(w + 4, l.v2);
  stream_pair_unaligned(w + 6, l.v3);
}

// The eight words in order, into out[0..7] (the slow path's view of a line).
inline void words_of(const Line& l, uint64_t* out) { store_line_unaligned(out, l); }

}  // namespace dravik::cpu
