// A qualification on a small box: the real binary inside a memory cgroup of
// 1.2 GiB with four threads runs every phase of the quick tier instead of
// aborting itself at the watchdog's first look.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "memory/cgroup.h"
#include "support/test_support.h"

namespace dravik {
namespace {

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
  f.flush();
  return static_cast<bool>(f);
}

bool enables_memory(const std::string& dir) {
  std::ifstream f(dir + "/cgroup.subtree_control");
  for (std::string word; f >> word;) {
    if (word == "memory") return true;
  }
  return false;
}

// A child memory group with a limit under the process's own group (or the
// hierarchy's root where a v2 group cannot take children with the memory
// controller); empty dir() when none can be made. Removed with the value.
class LimitedGroup {
 public:
  explicit LimitedGroup(uint64_t limit) {
    for (const MemoryCgroup& g : memory_cgroups()) {
      for (const std::string& parent : {g.dir, g.mount}) {
        if (g.v2 && !enables_memory(parent)) continue;
        const std::string dir = parent + "/dravik-hcl-" + std::to_string(getpid());
        if (mkdir(dir.c_str(), 0755) != 0) continue;
        if (write_file(dir + (g.v2 ? "/memory.max" : "/memory.limit_in_bytes"), std::to_string(limit))) {
          dir_ = dir;
          return;
        }
        rmdir(dir.c_str());
      }
    }
  }
  ~LimitedGroup() {
    if (!dir_.empty()) rmdir(dir_.c_str());
  }
  LimitedGroup(const LimitedGroup&) = delete;
  LimitedGroup& operator=(const LimitedGroup&) = delete;
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

TEST(HclSmallBox, FourThreadsInA1200MiBGroupRunEveryPhase) {
  if (testing::sanitized_build()) GTEST_SKIP() << "long real-binary run";
  if (!testing::is_root()) GTEST_SKIP() << "making a cgroup needs root";
  LimitedGroup group(1200ull << 20);
  if (group.dir().empty()) GTEST_SKIP() << "no memory cgroup can be made here";
  // The shell moves itself into the group, then becomes dravik.
  const std::string script = "echo $$ > '" + group.dir() + "/cgroup.procs' && exec '" +
                             testing::dravik_binary() +
                             "' --hcl --json --tier quick --duration 10 --threads 4 --no-klog";
  testing::ProcOptions opts;
  opts.timeout_s = 300;
  const testing::ProcResult r = testing::run_process({"/bin/sh", "-c", script}, opts);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.term_signal, 0) << "killed, most likely by the group's OOM killer";
  std::istringstream lines(r.out);
  nlohmann::json info, verdict;
  std::string phases;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    const std::string event = j.is_discarded() ? "" : j.value("event", "");
    EXPECT_NE(event, "hcl_abort") << line;
    if (event == "hcl_info") info = j;
    if (event == "hcl_verdict") verdict = j;
    if (event == "hcl_phase" && j.contains("id")) phases += j.value("id", "") + j.value("status", "") + " ";
  }
  EXPECT_EQ(info.value("threads", 0), 4) << r.out << r.err;
  EXPECT_GT(info.value("arena_bytes", uint64_t{0}), 256ull << 20) << "the arenas take what is safe";
  EXPECT_EQ(phases,
            "P0run P0done P1run P1done P2run P2done P3run P3done P4run P4done P5run P5done "
            "P6run P6done P7skip P8skip ");
  ASSERT_TRUE(verdict.is_object()) << r.out;
  EXPECT_EQ(verdict.value("exit", -1), r.exit_code);
}

}  // namespace
}  // namespace dravik
