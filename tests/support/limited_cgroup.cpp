#include "support/limited_cgroup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>

#include "core/text.h"
#include "memory/cgroup.h"

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

}  // namespace

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
