// The memory-pressure watchdog over fixture files.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "core/run/flags.h"
#include "hcl/pool/runner.h"
#include "hcl/recording_output.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(HclPressure, AbortsAbovePsiTwentyAndBelowTheFloor) {
  struct Case {
    const char* what;
    const char* meminfo;
    const char* psi;  // nullptr: no pressure file
    bool aborts;
  };
  const Case cases[] = {
      {"psi exactly 20.00", "MemAvailable: 4000000 kB\n", "some avg10=20.00 avg60=1.00 avg300=0.50 total=1\n", false},
      {"psi 20.01", "MemAvailable: 4000000 kB\n", "some avg10=20.01 avg60=1.00 avg300=0.50 total=1\n", true},
      {"available just below the floor", "MemAvailable: 524287 kB\n", "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\n", true},
      {"available at the floor", "MemAvailable: 524288 kB\n", "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\n", false},
      {"no MemAvailable: MemFree below the floor", "MemFree: 1000 kB\n", nullptr, true},
      {"nothing readable", "garbage\n", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reset_process_flags();
    testing::TempDir dir;
    auto job = std::make_unique<HclJob>();
    testing::RecordingHclOutput out(true);
    HclRunner r(*job, out);
    r.pressure_floor = 512ull << 20;
    r.meminfo_path = dir.write("meminfo", c.meminfo);
    r.psi_path = c.psi ? dir.write("memory", c.psi) : dir.sub("missing");
    EXPECT_EQ(hcl_pressure_check(r), c.aborts);
    EXPECT_EQ(stopping(), c.aborts);
    EXPECT_EQ(r.watchdog_tripped, c.aborts);
    EXPECT_EQ(out.aborts.size(), c.aborts ? 1u : 0u);
  }
  reset_process_flags();
}

}  // namespace
}  // namespace dravik
