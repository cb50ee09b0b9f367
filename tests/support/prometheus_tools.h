// The Prometheus tools the record tests use when the box has them (Debian
// packages prometheus for promtool, prometheus-node-exporter).
#pragma once
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace dravik::testing {

inline bool have_program(const char* path) { return access(path, X_OK) == 0; }

// What `promtool check metrics` says about the file: empty when it has
// nothing to say, "exit N: ..." when it fails.
inline std::string promtool_check_metrics(const std::string& path) {
  const ProcResult r = run_process({"/bin/sh", "-c", "exec promtool check metrics < \"$0\"", path});
  return (r.exit_code == 0 ? "" : "exit " + std::to_string(r.exit_code) + ": ") + r.out + r.err;
}

}  // namespace dravik::testing
