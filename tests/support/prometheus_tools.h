// The Prometheus tools the record tests run when the box has them (Debian
// packages prometheus for promtool, prometheus-node-exporter).
#pragma once
#include <string>

namespace dravik::testing {

// Full path of a program found on PATH; empty when there is none.
std::string find_program(const std::string& name);

// What `promtool check metrics` says about the file (empty: nothing to say),
// or "exit N: ..." when it fails.
std::string promtool_check_metrics(const std::string& path);

// The lines of text that start with prefix, joined by newlines.
std::string lines_starting(const std::string& text, const std::string& prefix);

}  // namespace dravik::testing
