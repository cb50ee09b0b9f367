// What the driver and screen tests start from: a fixture that clears the
// process flags around each test, and a quick run over a stand-in
// /proc/meminfo.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "app/run/run.h"
#include "support/meminfo_fixture.h"

namespace dravik::testing {

// Clears the stop, pause, resize and worker flags before and after each
// test, so that a stop one test sets never ends the next.
class FlagsReset : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// A quick-profile run of `mode` over the stand-in meminfo of a box of its
// MemTotal: JSON output (a fixed map size, no terminal query), no reserve,
// regions of chunk_mib, `passes` passes.
std::unique_ptr<Run> meminfo_run(const MeminfoFixture& meminfo, RunMode mode, int64_t chunk_mib,
                                 int64_t passes);

}  // namespace dravik::testing
