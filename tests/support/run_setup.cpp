#include "support/run_setup.h"

#include "core/run/flags.h"
#include "support/test_support.h"

namespace dravik::testing {

void FlagsReset::SetUp() { reset_process_flags(); }
void FlagsReset::TearDown() { reset_process_flags(); }

std::unique_ptr<Run> meminfo_run(const MeminfoFixture& meminfo, RunMode mode, int64_t chunk_mib,
                                 int64_t passes) {
  auto run = make_run();
  run->cfg.mode = mode;
  run->cfg.tier = PatternTier::quick;
  run->cfg.output = OutputStyle::json;
  run->cfg.reserve_mib = 0;
  run->cfg.chunk_mib = chunk_mib;
  run->cfg.passes = passes;
  run->paths.meminfo = meminfo.path();
  run->st.mem_total = meminfo.total_mib() << 20;
  return run;
}

}  // namespace dravik::testing
