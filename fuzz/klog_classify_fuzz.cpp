// The kernel-log classifier: the input is one line; the first byte chooses
// the time stamp.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/run/run.h"
#include "klog/klog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::Run* const run = new dravik::Run();
  if (size == 0) return 0;
  const double ts = data[0] & 1 ? -1.0 : data[0] * 0.5;
  const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  const int32_t before = run->klog.entries;
  dravik::klog_classify(*run, line.c_str(), ts);
  const dravik::KlogEntry* e = dravik::klog_recent(run->klog);
  if (run->klog.entries < before || run->klog.entries > dravik::KlogMonitor::kRing) abort();
  if (e != nullptr && (strlen(e->text) > 175 || strlen(e->tag) > 15)) abort();
  return 0;
}
