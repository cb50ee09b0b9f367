#include "support/limited_cgroup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/text.h"
#include "memory/probes/cgroup.h"

namespace dravik::testing {

namespace {

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
  f.flush();
  return static_cast<bool>(f);
}

bool enables_memory(const std::string& dir) {
  std::ifstream f(dir + "/cgroup.subtree_control");
  std::string word;
  while (f >> word) {
    if (word == "memory") return true;
  }
  return false;
}

// The directory of this process's group in the hierarchy that holds the cpu
// controller (v1, or v2 where the parent passes the controller on), "" when
// there is none.
std::string own_cpu_hierarchy_group() {
  std::ifstream cgroups("/proc/self/cgroup");
  std::string v1_path, v2_path;
  for (std::string line; std::getline(cgroups, line);) {
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string controllers = "," + line.substr(a + 1, b - a - 1) + ",";
    if (controllers.find(",cpu,") != std::string::npos) v1_path = line.substr(b + 1);
    if (line.compare(0, 3, "0::") == 0) v2_path = line.substr(b + 1);
  }
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    size_t dash = 0;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (dash + 3 >= f.size() || f[3] != "/") continue;
    const std::string& fstype = f[dash + 1];
    const std::string options = "," + f[dash + 3] + ",";
    if (fstype == "cgroup" && !v1_path.empty() && options.find(",cpu,") != std::string::npos) {
      return f[4] + (v1_path == "/" ? "" : v1_path);
    }
    if (fstype == "cgroup2" && !v2_path.empty() && v1_path.empty()) {
      const std::string dir = f[4] + (v2_path == "/" ? "" : v2_path);
      std::ifstream control(dir + "/cgroup.subtree_control");
      for (std::string word; control >> word;) {
        if (word == "cpu") return dir;
      }
    }
  }
  return "";
}

// Groups left by test processes that died before they could remove theirs.
void remove_stale_cpu_groups(const std::string& parent) {
  DIR* d = opendir(parent.c_str());
  if (d == nullptr) return;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.rfind("dravik-test-cpu-", 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + 16, nullptr, 10);
    if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      rmdir((parent + "/" + name).c_str());
    }
  }
  closedir(d);
}

struct CpuGroup {
  std::string dir;
  CpuGroup() {
    if (geteuid() != 0) return;
    const std::string parent = own_cpu_hierarchy_group();
    if (parent.empty()) return;
    remove_stale_cpu_groups(parent);
    const std::string made = parent + "/dravik-test-cpu-" + std::to_string(getpid());
    if (mkdir(made.c_str(), 0755) == 0 || errno == EEXIST) dir = made;
  }
  ~CpuGroup() {
    if (dir.empty()) return;
    // A tmux server started by a test leaves a moment after it was told to.
    const double deadline = now_seconds() + 5.0;
    while (rmdir(dir.c_str()) != 0 && errno == EBUSY && now_seconds() < deadline) usleep(10000);
  }
};

}  // namespace

const std::string& own_cpu_cgroup() {
  static const CpuGroup group;
  return group.dir;
}

LimitedCgroup::LimitedCgroup(uint64_t limit_bytes) {
  static std::atomic<int> serial{0};
  const std::string name = "/dravik-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  for (const MemoryCgroup& g : memory_cgroups()) {
    for (const std::string& parent : {g.dir, g.mount}) {
      if (g.v2 && !enables_memory(parent)) continue;
      const std::string dir = parent + name;
      if (mkdir(dir.c_str(), 0755) != 0) continue;
      if (write_file(dir + (g.v2 ? "/memory.max" : "/memory.limit_in_bytes"),
                     std::to_string(limit_bytes))) {
        dir_ = dir;
        return;
      }
      rmdir(dir.c_str());
    }
  }
}

LimitedCgroup::~LimitedCgroup() {
  if (dir_.empty()) return;
  // The kernel lets go of a group a moment after its last process was reaped.
  const double deadline = now_seconds() + 10.0;
  while (rmdir(dir_.c_str()) != 0 && errno == EBUSY && now_seconds() < deadline) usleep(10000);
}

bool join_cgroup(const std::string& dir) {
  const std::string procs = dir + "/cgroup.procs";
  const int fd = open(procs.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char digits[16];
  char* p = digits + sizeof digits;
  unsigned long pid = static_cast<unsigned long>(getpid());
  do {
    *--p = static_cast<char>('0' + pid % 10);
    pid /= 10;
  } while (pid > 0);
  const ssize_t len = digits + sizeof digits - p;
  const bool ok = write(fd, p, static_cast<size_t>(len)) == len;
  close(fd);
  return ok;
}

}  // namespace dravik::testing
