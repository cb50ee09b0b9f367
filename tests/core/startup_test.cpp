// The start-up probes: the physical-address probe needs translation (root),
// the option, and at least one RAM range.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "app/startup.h"
#include "memory/phys_map.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(StartupProbe, PhysicalAddressesNeedTranslationTheOptionAndRamRanges) {
  testing::TempDir dir;
  const std::string no_ram = dir.write("iomem", "00000000-00000fff : Reserved\nfec00000-fec003ff : IOAPIC 0\n");
  const std::string ram = testing::fixture("iomem/three_ram_ranges.iomem");
  const struct {
    const char* what;
    int use_phys;
    std::string iomem;
    int phys_ok;
  } cases[] = {
      {"root with ranges", 1, ram, testing::is_root() ? 1 : 0},
      {"--no-phys", 0, ram, 0},
      {"no RAM range", 1, no_ram, 0},
      {"no resource list", 1, dir.sub("missing"), 0},
  };
  for (const auto& c : cases) {
    auto run = testing::make_run();
    run->cfg.use_phys = c.use_phys;
    run->paths.iomem = c.iomem;
    probe_machine(*run);
    EXPECT_EQ(run->st.phys_ok, c.phys_ok) << c.what;
    phys_close(run->phys);
  }
  // An ordinary user reads frame numbers as 0.
  const std::string iomem = ram;
  const int status = testing::run_as_nobody([&iomem] {
    auto run = testing::make_run();
    run->paths.iomem = iomem;
    probe_machine(*run);
    return run->st.phys_ok == 0 ? 0 : 1;
  });
  if (testing::is_root()) {
    EXPECT_EQ(status, 0) << "nobody";
  }
}

TEST(StartupProbe, StartEventOfTheRealBinaryReportsThePhysicalProbe) {
  const struct {
    std::vector<std::string> args;
    bool nobody;
    bool phys;
  } cases[] = {
      {{"--json", "--quick", "--mem", "16M", "--no-klog"}, false, testing::is_root()},
      {{"--json", "--quick", "--mem", "16M", "--no-klog", "--no-phys"}, false, false},
      {{"--json", "--quick", "--mem", "16M", "--no-klog"}, true, false},
  };
  for (const auto& c : cases) {
    if (c.nobody && !testing::is_root()) continue;
    testing::ProcOptions opts;
    opts.as_nobody = c.nobody;
    const auto r = testing::run_dravik(c.args, opts);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto start = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')), nullptr, false);
    ASSERT_FALSE(start.is_discarded()) << r.out.substr(0, 200);
    EXPECT_EQ(start.value("phys", !c.phys), c.phys) << c.args.back() << " nobody " << c.nobody;
  }
}

}  // namespace
}  // namespace dravik
