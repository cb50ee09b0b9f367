// Helpers shared by the test binaries: fresh runs, temporary fixture trees,
// running the real binary, and dropping to an ordinary user in a child.
#pragma once
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/run/run.h"

namespace dravik::testing {

// A fresh run with default configuration (seed fixed for repeatability) and
// its paths pointing at the real system.
std::unique_ptr<Run> make_run();

// A temporary directory removed with everything in it when the value dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes a file (creating parent directories) and returns its full path.
  std::string write(const std::string& relative, const std::string& content) const;
  std::string sub(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Path of the built dravik binary and of the checked-in fixtures.
std::string dravik_binary();
std::string fixture(const std::string& relative);

struct ProcResult {
  int exit_code = -1;      // exit status, or -1 when killed by a signal
  int term_signal = 0;     // signal that ended it, 0 when it exited
  bool timed_out = false;  // killed after the timeout
  std::string out;
  std::string err;
};

struct ProcOptions {
  double timeout_s = 120.0;
  bool as_nobody = false;       // drop to uid/gid 65534 before exec
  long memlock_limit = -1;      // RLIMIT_MEMLOCK in bytes for the child, -1 keeps it
  long address_space_limit = -1;  // RLIMIT_AS in bytes for the child, -1 keeps it
  std::string stdin_text;       // written to the child's standard input
  // Called in the parent once the child runs (for example to send a signal
  // after a delay); receives the child's pid.
  std::function<void(pid_t)> on_started;
  // Called in the parent each time the child has written to its standard
  // output, with its pid and everything it wrote there so far (for example
  // to send a signal once a given line is out).
  std::function<void(pid_t, const std::string&)> on_output;
  // A memory cgroup the child joins before it runs (testing::MemoryCgroup),
  // empty to stay in the caller's.
  std::string cgroup;
};

// Runs a program (argv[0] is the path) and collects its output.
ProcResult run_process(const std::vector<std::string>& argv, const ProcOptions& opts = {});
// Runs the dravik binary with the given arguments.
ProcResult run_dravik(const std::vector<std::string>& args, const ProcOptions& opts = {});

// Runs fn in a forked child after dropping to the ordinary user nobody;
// returns the child's exit status (fn's return value), or -1 on failure.
int run_as_nobody(const std::function<int()>& fn);

bool is_root();

// Marks the calling thread as a worker for the life of the value. The flag
// is set from out-of-line functions: GCC 12's UBSan misreports a second store
// to the thread-local flag within one function as a store through null.
class AsWorker {
 public:
  AsWorker();
  ~AsWorker();
  AsWorker(const AsWorker&) = delete;
  AsWorker& operator=(const AsWorker&) = delete;
};

// True when this test binary was built with AddressSanitizer or
// ThreadSanitizer (their shadow memory needs an unlimited address space).
bool sanitized_build();

// Reads one field of /proc/meminfo in kB (-1 when missing).
long meminfo_kb_now(const char* key);

}  // namespace dravik::testing
