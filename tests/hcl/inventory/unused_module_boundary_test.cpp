// The unused-module rule at its exact boundary, on both sides, for each page
// size: a real table of an 8 GiB and a 16 GiB module. The system misses a
// module once what it uses falls short of the 24 GiB installed by the
// smallest module (8 GiB) plus the page map of the rest (16 GiB at 64 bytes a
// page). One byte more in MemTotal and nothing is missing: a boundary moved
// either way either hides a module that is not in use or warns a box whose
// modules all are.
#include <gtest/gtest.h>

#include <string>

#include "hcl/inventory/inventory.h"
#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kGiB = 1ull << 30;

TEST(UnusedModuleBoundary, ExactlyTheSmallestModuleBeyondThePageMapIsMissing) {
  const std::string table = testing::fixture("dmi/lenovo-thinkpad-t480-mixed.bin");
  struct Case {
    uint64_t page_size;
    uint64_t mem_total;
    const char* warning;
  } cases[] = {
      // 4 KiB pages: a page map of 16 GiB / 64 = 256 MiB.
      {4096, 16 * kGiB - 256 * kMiB,
       "installed 24.00GiB in 2 modules, the system uses 15.75GiB: a module may not be in use"},
      {4096, 16 * kGiB - 256 * kMiB + 1, ""},
      // 16 KiB pages: 64 MiB.
      {16384, 16 * kGiB - 64 * kMiB,
       "installed 24.00GiB in 2 modules, the system uses 15.94GiB: a module may not be in use"},
      {16384, 16 * kGiB - 64 * kMiB + 1, ""},
      // 64 KiB pages: 16 MiB.
      {65536, 16 * kGiB - 16 * kMiB,
       "installed 24.00GiB in 2 modules, the system uses 15.98GiB: a module may not be in use"},
      {65536, 16 * kGiB - 16 * kMiB + 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unused_module_warning(c.mem_total, table, c.page_size), c.warning)
        << "page size " << c.page_size << ", MemTotal " << c.mem_total;
  }
}

}  // namespace
}  // namespace dravik
