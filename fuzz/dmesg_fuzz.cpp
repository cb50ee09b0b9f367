// The one-shot kernel-log sources: the input is dmesg's output (read through
// a pipe from a stand-in command) and the saved log file.
#include <cstdint>
#include <string>

#include "app/run.h"
#include "fuzz_input.h"
#include "klog/klog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile file;
  static const std::string command = "cat '" + file.path() + "' 2>/dev/null";
  file.set(data, size);
  static dravik::Run* const run = new dravik::Run();
  run->klog = dravik::KlogMonitor{};
  dravik::klog_read_dmesg(*run, command.c_str());
  run->klog = dravik::KlogMonitor{};
  dravik::klog_read_logfile(*run, file.path());
  return 0;
}
