// The atomic-increment ledger of the OLTP load.
#include <gtest/gtest.h>

#include <vector>

#include "hcl/phases/phases.h"

namespace dravik {
namespace {

TEST(HclLoadPhase, LedgerBalancesOnlyWhenEveryIncrementLanded) {
  std::vector<uint64_t> hot(kHclHotSlots * 8, 0);
  uint64_t incs = 0;
  for (int slot = 0; slot < kHclHotSlots; slot += 3) {
    hot[static_cast<size_t>(slot) * 8] += static_cast<uint64_t>(slot % 7);
    incs += static_cast<uint64_t>(slot % 7);
  }
  // Words other than the counters (the rest of each line) do not count.
  hot[1] = 12345;
  EXPECT_TRUE(oltp_ledger(hot.data(), kHclHotSlots, incs));
  hot[4095 * 8] -= 1;  // a lost increment
  EXPECT_FALSE(oltp_ledger(hot.data(), kHclHotSlots, incs));
  hot[4095 * 8] += 2;  // a doubled one
  EXPECT_FALSE(oltp_ledger(hot.data(), kHclHotSlots, incs));
}

}  // namespace
}  // namespace dravik
