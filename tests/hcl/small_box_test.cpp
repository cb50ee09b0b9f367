// A qualification on a small box: the real binary with four threads inside a
// 1.2 GiB memory cgroup runs every phase of the quick tier instead of
// aborting itself at the pressure watchdog's first look.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/limited_cgroup.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(HclSmallBox, FourThreadsInA1200MiBGroupRunEveryPhase) {
  if (testing::sanitized_build()) GTEST_SKIP() << "long real-binary run";
  if (!testing::is_root()) GTEST_SKIP() << "making a cgroup needs root";
  testing::LimitedCgroup group(1200ull << 20);
  if (group.dir().empty()) GTEST_SKIP() << "no memory cgroup can be made here";
  testing::ProcOptions opts;
  opts.timeout_s = 300;
  opts.cgroup = group.dir();
  const testing::ProcResult r = testing::run_process(
      {testing::dravik_binary(), "--hcl", "--json", "--tier", "quick", "--duration", "10",
       "--threads", "4", "--no-klog"},
      opts);
  ASSERT_FALSE(r.timed_out);
  std::istringstream lines(r.out);
  std::string events;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded()) continue;
    events += j.value("event", "") + j.value("id", "") + j.value("status", "") + " ";
    if (j.value("event", "") == "hcl_info") {
      EXPECT_EQ(j.value("threads", 0), 4);
    }
  }
  EXPECT_EQ(events.find("hcl_abort"), std::string::npos) << r.out << r.err;
  EXPECT_NE(events.find("hcl_phaseP6done hcl_phaseP7skip hcl_phaseP8skip hcl_verdict"),
            std::string::npos) << events;
}

}  // namespace
}  // namespace dravik
