// The one-shot kernel-log sources: the input is dmesg's output (read through
// a pipe from a stand-in program that prints the input) and the saved log
// file.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run/run.h"
#include "fuzz_input.h"
#include "klog/klog.h"

namespace {

// A stand-in dmesg: a script in a folder of its own that prints the input
// file, removed when the fuzzer ends.
class StandIn {
 public:
  explicit StandIn(const std::string& input) {
    char dir[] = "/tmp/dravik-dmesg-fuzz.XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    dir_ = dir;
    path_ = dir_ + "/dmesg";
    FILE* f = fopen(path_.c_str(), "we");
    if (f == nullptr) abort();
    fprintf(f, "#!/bin/sh\nexec cat '%s'\n", input.c_str());
    fclose(f);
    chmod(path_.c_str(), 0700);
  }
  ~StandIn() { dravik::fuzz::remove_tree(dir_); }
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile file;
  static const StandIn dmesg(file.path());
  file.set(data, size);
  static dravik::Run* const run = new dravik::Run();
  run->klog = dravik::KlogMonitor{};
  dravik::klog_read_dmesg(*run, dmesg.path());
  run->klog = dravik::KlogMonitor{};
  dravik::klog_read_logfile(*run, file.path());
  return 0;
}
