#include "support/prometheus_tools.h"

#include <unistd.h>

#include <sstream>

#include "support/test_support.h"

namespace dravik::testing {

std::string find_program(const std::string& name) {
  const char* path = getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string full = dir + "/" + name;
    if (!dir.empty() && access(full.c_str(), X_OK) == 0) return full;
  }
  return "";
}

std::string promtool_check_metrics(const std::string& path) {
  const ProcResult r = run_process({"/bin/sh", "-c", "exec promtool check metrics < \"$0\"", path});
  const std::string said = r.out + r.err;
  return r.exit_code == 0 ? said : "exit " + std::to_string(r.exit_code) + ": " + said;
}

std::string lines_starting(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  std::string line, found;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) found += (found.empty() ? "" : "\n") + line;
  }
  return found;
}

}  // namespace dravik::testing
