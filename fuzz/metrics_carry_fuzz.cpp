// The previous metrics file read at a run's start: whatever it holds, what is
// kept is nothing or whole lines of it, in order, each of a dravik_last_run_
// or dravik_hcl_ family, and reads back as itself.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/records/metrics/carry.h"

namespace {

bool kept_line(const std::string& line) {
  for (const char* prefix : {"dravik_last_run_", "dravik_hcl_", "# HELP dravik_last_run_",
                             "# TYPE dravik_last_run_", "# HELP dravik_hcl_",
                             "# TYPE dravik_hcl_"}) {
    if (line.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string kept = dravik::carried_metrics(text);
  if (kept.empty()) return 0;
  if (kept.size() > text.size() || kept.back() != '\n') abort();
  size_t from = 0;  // where the next kept line may start in text
  for (size_t at = 0; at < kept.size();) {
    const size_t end = kept.find('\n', at);
    const std::string line = kept.substr(at, end - at);
    if (!kept_line(line)) abort();
    const size_t found = text.find(line + '\n', from);
    if (found == std::string::npos || (found > 0 && text[found - 1] != '\n')) abort();
    from = found + line.size() + 1;
    at = end + 1;
  }
  if (dravik::carried_metrics(kept) != kept) abort();
  return 0;
}
