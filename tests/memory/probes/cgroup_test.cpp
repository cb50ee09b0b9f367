// The memory cgroup limit: fixture hierarchies for both cgroup versions, and
// the real binary inside a real memory-limited group.
#include "memory/probes/cgroup.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>

#include "memory/probes/probes.h"
#include "support/limited_cgroup.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::TempDir;

constexpr uint64_t MiB = 1ull << 20;

// "@" in a mount line stands for the fixture directory.
std::string at_fixture(std::string text, const std::string& dir) {
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + dir.size())) {
    text.replace(at, 1, dir);
  }
  return text;
}

CgroupPaths write_tree(const TempDir& dir, const std::string& proc_cgroup,
                       const std::string& mountinfo,
                       const std::map<std::string, std::string>& files) {
  for (const auto& [path, content] : files) dir.write(path, content);
  return CgroupPaths{dir.write("proc_cgroup", proc_cgroup),
                     dir.write("mountinfo", at_fixture(mountinfo, dir.path()))};
}

const char* const kV2Mount = "30 23 0:26 / @/v2 rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
const char* const kV1Mount =
    "35 31 0:32 / @/v1 rw,relatime shared:9 - cgroup cgroup rw,memory\n";

struct HeadroomCase {
  const char* name;
  std::string proc_cgroup;
  std::string mountinfo;
  std::map<std::string, std::string> files;
  uint64_t headroom;
};

TEST(CgroupHeadroom, LimitMinusUsageOverTheGroupAndItsAncestors) {
  const std::string v1_unlimited = "9223372036854771712\n";
  const HeadroomCase cases[] = {
      {"v2 limit", "0::/svc/app\n", kV2Mount,
       {{"v2/svc/app/memory.max", "1000000\n"}, {"v2/svc/app/memory.current", "200000\n"},
        {"v2/svc/memory.max", "max\n"}, {"v2/svc/memory.current", "900000\n"}},
       800000},
      {"v2 max everywhere", "0::/svc/app\n", kV2Mount,
       {{"v2/svc/app/memory.max", "max\n"}, {"v2/svc/app/memory.current", "5\n"}},
       UINT64_MAX},
      {"v2 parent's limit caps the child", "0::/svc/app\n", kV2Mount,
       {{"v2/svc/app/memory.max", "1000000\n"}, {"v2/svc/app/memory.current", "200000\n"},
        {"v2/svc/memory.max", "500000\n"}, {"v2/svc/memory.current", "450000\n"}},
       50000},
      {"v2 usage over the limit", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", "4096\n"}, {"v2/a/memory.current", "8192\n"}}, 0},
      {"v2 walk stops at the mount", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", "max\n"}, {"memory.max", "1\n"}, {"memory.current", "0\n"}},
       UINT64_MAX},
      {"v1 memory controller, container view of its group",
       "9:name=systemd:/\n5:cpu,memory:/docker/abc\n0::/\n",
       "35 31 0:32 /docker/abc @/v1 rw - cgroup cgroup rw,cpu,memory\n",
       {{"v1/memory.limit_in_bytes", "805306368\n"}, {"v1/memory.usage_in_bytes", "104857600\n"}},
       668 * MiB},
      {"v1 no limit is a huge number", "4:memory:/job\n", kV1Mount,
       {{"v1/job/memory.limit_in_bytes", v1_unlimited}, {"v1/job/memory.usage_in_bytes", "4096\n"},
        {"v1/memory.limit_in_bytes", v1_unlimited}, {"v1/memory.usage_in_bytes", "8192\n"}},
       9223372036854771712ull - 8192},
      {"v1 and v2 both limit: the smaller counts", "4:memory:/job\n0::/job\n",
       std::string(kV1Mount) + kV2Mount,
       {{"v1/job/memory.limit_in_bytes", "3000\n"}, {"v1/job/memory.usage_in_bytes", "1000\n"},
        {"v2/job/memory.max", "5000\n"}, {"v2/job/memory.current", "4000\n"}},
       1000},
      {"hybrid: v2 without the memory controller", "4:memory:/job\n0::/job\n",
       std::string(kV1Mount) + kV2Mount,
       {{"v1/job/memory.limit_in_bytes", "3000\n"}, {"v1/job/memory.usage_in_bytes", "1000\n"}},
       2000},
      {"escaped blank in the mount point", "0::/a\n",
       "30 23 0:26 / @/v\\0402 rw - cgroup2 cgroup2 rw\n",
       {{"v 2/a/memory.max", "100\n"}, {"v 2/a/memory.current", "1\n"}}, 99},
      {"usage unreadable: the limit caps", "0::/a\n", kV2Mount, {{"v2/a/memory.max", "7000\n"}},
       7000},
      {"usage malformed: the limit caps", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", "7000\n"}, {"v2/a/memory.current", "lots\n"}}, 7000},
      {"limit malformed", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", "12abc\n"}, {"v2/a/memory.current", "1\n"}}, UINT64_MAX},
      {"limit negative", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", "-5\n"}, {"v2/a/memory.current", "1\n"}}, UINT64_MAX},
      {"limit too large for 64 bits", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", "99999999999999999999\n"}, {"v2/a/memory.current", "1\n"}},
       UINT64_MAX},
      {"limit empty", "0::/a\n", kV2Mount,
       {{"v2/a/memory.max", ""}, {"v2/a/memory.current", "1\n"}}, UINT64_MAX},
      {"no memory cgroup listed", "3:cpu:/a\n", kV1Mount,
       {{"v1/a/memory.limit_in_bytes", "1\n"}}, UINT64_MAX},
      {"group outside the mounted part", "4:memory:/other\n",
       "35 31 0:32 /docker/abc @/v1 rw - cgroup cgroup rw,memory\n",
       {{"v1/memory.limit_in_bytes", "1\n"}}, UINT64_MAX},
      {"path leaving the hierarchy", "0::/../..\n", kV2Mount, {{"memory.max", "1\n"}}, UINT64_MAX},
      {"hierarchy not mounted", "0::/a\n", kV1Mount, {{"v2/a/memory.max", "1\n"}}, UINT64_MAX},
      {"malformed lists", "garbage\n0:\n::\n", "1 2 3\n- - -\n", {}, UINT64_MAX},
  };
  for (const HeadroomCase& c : cases) {
    TempDir dir;
    const CgroupPaths paths = write_tree(dir, c.proc_cgroup, c.mountinfo, c.files);
    EXPECT_EQ(cgroup_memory_headroom(paths), c.headroom) << c.name;
  }
  EXPECT_EQ(cgroup_memory_headroom(CgroupPaths{"/nonexistent/cgroup", "/nonexistent/mountinfo"}),
            UINT64_MAX);
}

TEST(CgroupHeadroom, AvailableMemoryIsTheSmallerOfMemAvailableAndHeadroom) {
  TempDir dir;
  const std::string meminfo =
      dir.write("meminfo", "MemTotal: 8388608 kB\nMemFree: 1 kB\nMemAvailable: 4194304 kB\n");
  const CgroupPaths capped = write_tree(
      dir, "0::/svc\n", kV2Mount,
      {{"v2/svc/memory.max", "805306368\n"}, {"v2/svc/memory.current", "176160768\n"}});
  EXPECT_EQ(mem_available_bytes(meminfo, capped), 600 * MiB);
  dir.write("v2/svc/memory.max", "max\n");
  EXPECT_EQ(mem_available_bytes(meminfo, capped), 4096 * MiB);
  dir.write("v2/svc/memory.max", "8589934592\n");  // the cgroup allows more than the host has
  EXPECT_EQ(mem_available_bytes(meminfo, capped), 4096 * MiB);
  EXPECT_EQ(mem_available_bytes(dir.sub("no-meminfo"), capped), 0u);
}

TEST(CgroupRealRun, QuickRunInsideA768MiBGroupCompletesUnderTheLimit) {
  if (testing::sanitized_build()) GTEST_SKIP() << "long real-binary run";
  if (!testing::is_root()) GTEST_SKIP() << "making a cgroup needs root";
  constexpr uint64_t kLimit = 768 * MiB;
  testing::LimitedCgroup group(kLimit);
  if (group.dir().empty()) GTEST_SKIP() << "no memory cgroup can be made here";
  // The shell moves itself into the group, then becomes dravik: everything
  // dravik maps and locks is charged to the group from its first byte.
  const std::string script = "echo $$ > '" + group.dir() + "/cgroup.procs' && exec '" +
                             testing::dravik_binary() + "' --quick --json";
  testing::ProcOptions opts;
  opts.timeout_s = 600;
  const testing::ProcResult r = testing::run_process({"/bin/sh", "-c", script}, opts);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.term_signal, 0) << "killed, most likely by the group's OOM killer";
  EXPECT_EQ(r.exit_code, 0) << r.err;
  nlohmann::json summary;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded() && j.value("event", "") == "summary") summary = j;
  }
  ASSERT_TRUE(summary.is_object()) << r.out;
  EXPECT_EQ(summary["end_reason"], "completed");
  EXPECT_EQ(summary["verdict"], "PASS");
  const uint64_t covered = summary["covered_total"].get<uint64_t>();
  EXPECT_GT(covered, 0u);
  EXPECT_LT(covered, kLimit);
}

}  // namespace
}  // namespace dravik
