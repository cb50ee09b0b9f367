// The unit a pattern test works on: one region's words and its pass.
#pragma once
#include <cstdint>

namespace dravik {

// What a test receives for one region: an array of n 64-bit words (8-byte
// aligned) and the pass number the region belongs to.
struct TestBlock {
  uint64_t* base = nullptr;
  uint64_t words = 0;
  int32_t pass = 0;
};

}  // namespace dravik
