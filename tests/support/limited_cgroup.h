// A child memory cgroup with a limit, for runs of the real binary under a
// memory cap: made under the process's own group (or the hierarchy's root
// where a v2 group may not have children with the memory controller) and
// removed when the value dies. dir() is empty when none can be made here.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "memory/cgroup.h"

namespace dravik::testing {

inline bool write_file(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
  f.flush();
  return static_cast<bool>(f);
}

class LimitedGroup {
 public:
  explicit LimitedGroup(uint64_t limit) {
    for (const MemoryCgroup& g : memory_cgroups()) {
      for (const std::string& parent : {g.dir, g.mount}) {
        if (g.v2 && !enables_memory(parent)) continue;
        const std::string dir = parent + "/dravik-test-" + std::to_string(getpid());
        if (mkdir(dir.c_str(), 0755) != 0) continue;
        if (write_file(dir + (g.v2 ? "/memory.max" : "/memory.limit_in_bytes"),
                       std::to_string(limit))) {
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
  static bool enables_memory(const std::string& dir) {
    std::ifstream f(dir + "/cgroup.subtree_control");
    std::string word;
    while (f >> word) {
      if (word == "memory") return true;
    }
    return false;
  }
  std::string dir_;
};

// The shell line that moves itself into the group and becomes `command`:
// everything the command maps and locks is charged to the group.
inline std::string in_group(const LimitedGroup& group, const std::string& command) {
  return "echo $$ > '" + group.dir() + "/cgroup.procs' && exec " + command;
}

}  // namespace dravik::testing
