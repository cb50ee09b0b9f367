// A memory cgroup of a test's own: a child group with a fixed limit, made
// under the test process's memory group (or the hierarchy's root where a v2
// group may not have children with the memory controller). A run started in
// it sizes itself from the group's headroom, so what the rest of the box does
// to its memory does not move the run's numbers.
#pragma once
#include <cstdint>
#include <string>

namespace dravik::testing {

class LimitedCgroup {
 public:
  // Makes the group (needs root and a mounted memory controller; dir() is
  // empty when none can be made).
  explicit LimitedCgroup(uint64_t limit_bytes);
  // Removes the group once the processes in it have ended.
  ~LimitedCgroup();
  LimitedCgroup(const LimitedCgroup&) = delete;
  LimitedCgroup& operator=(const LimitedCgroup&) = delete;
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

// Moves the calling process into the group at dir (safe between fork and
// exec: only open, write and close).
bool join_cgroup(const std::string& dir);

}  // namespace dravik::testing
