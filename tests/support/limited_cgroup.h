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

// A CPU cgroup of this test process's own, made once (empty when none can be
// made: no root, no cpu controller mounted), removed at exit. run_process
// starts every child in it: a run of the binary takes the idle scheduling
// class, which gets next to no CPU beside busy processes in the same group;
// in a group of its own it gets the group's fair share of the box, so other
// tests and builds running beside it do not starve it.
const std::string& own_cpu_cgroup();

}  // namespace dravik::testing
