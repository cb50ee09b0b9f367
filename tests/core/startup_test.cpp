// The start-up probes: the physical-address probe needs translation (root),
// the option, and at least one RAM range; the cache sizes of a sysfs tree,
// 0 for each level the tree does not give (often all of them on ARM).
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/run/startup.h"
#include "memory/address/phys_map.h"
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

TEST(StartupProbe, CacheSizesOfATreeAndZeroWhereItGivesNone) {
  using Files = std::map<std::string, std::string>;
  const struct {
    const char* what;
    Files files;  // relative to the cache directory
    std::vector<uint64_t> sizes;
  } cases[] = {
      {"data, instruction, L2 and L3 caches",
       {{"index0/level", "1\n"}, {"index0/size", "48K\n"}, {"index1/level", "1\n"},
        {"index1/size", "32K\n"}, {"index2/level", "2\n"}, {"index2/size", "1280K\n"},
        {"index3/level", "3\n"}, {"index3/size", "30M\n"}},
       {48 << 10, 1280 << 10, 30 << 20}},
      {"no cache directory", {}, {0, 0, 0}},
      {"levels without size files",
       {{"index0/level", "1\n"}, {"index1/level", "1\n"}, {"index2/level", "2\n"}},
       {0, 0, 0}},
      {"unreadable level and level 4 are skipped",
       {{"index0/level", "x\n"}, {"index0/size", "32K\n"}, {"index1/level", "4\n"},
        {"index1/size", "64M\n"}, {"index2/level", "2\n"}, {"index2/size", "512K\n"}},
       {0, 512 << 10, 0}},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    for (const auto& [name, text] : c.files) dir.write("cache/" + name, text);
    uint64_t sizes[3] = {0, 0, 0};
    read_cache_sizes(dir.sub("cache"), sizes);
    EXPECT_EQ(std::vector<uint64_t>(sizes, sizes + 3), c.sizes) << c.what;
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
