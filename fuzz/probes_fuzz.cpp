// The /proc and /sys probes (and the CPU-time reader of the latency phase):
// the input is the file each of them reads.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "hcl/rules/busy.h"
#include "memory/probes/probes.h"

namespace {

// An EDAC tree whose counters are links to the input file; removed at exit.
class EdacTree {
 public:
  explicit EdacTree(const std::string& input_path) {
    char tmpl[] = "/tmp/dravik-fuzz-edac-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    const std::string mc = dir_ + "/mc0";
    mkdir(mc.c_str(), 0755);
    if (symlink(input_path.c_str(), (mc + "/ce_count").c_str()) != 0 ||
        symlink(input_path.c_str(), (mc + "/ue_count").c_str()) != 0) {
      dravik::fuzz::remove_tree(dir_);
      dir_.clear();
    }
  }
  ~EdacTree() {
    if (!dir_.empty()) dravik::fuzz::remove_tree(dir_);
  }
  std::string path() const { return dir_.empty() ? "/nonexistent" : dir_; }

 private:
  std::string dir_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile file;
  static const EdacTree edac(file.path());
  static const dravik::CgroupPaths no_cgroup{"/nonexistent/cgroup", "/nonexistent/mountinfo"};
  const std::string& path = file.set(data, size);
  // A field is read as a signed number, as the kernel writes it; any value
  // is a reading, so only crashes count here.
  for (const char* key : {"MemTotal", "MemAvailable", "MemFree", "X"}) {
    dravik::meminfo_kb(key, path);
  }
  dravik::mem_available_bytes(path, no_cgroup);
  const double psi = dravik::psi_some_avg10(path);
  if (psi != -1.0 && !(std::isfinite(psi) && psi >= 0.0)) abort();
  const dravik::EdacCounts edac_totals = dravik::edac_counts(edac.path());
  if (edac_totals.ce < -1 || edac_totals.ue < -1) abort();
  dravik::read_size_file(path);
  // The box's and this process's CPU time: the same bytes as both files.
  dravik::read_cpu_times(path, path);
  return 0;
}
