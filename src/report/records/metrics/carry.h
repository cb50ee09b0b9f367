// The last finished run's series kept in the start-of-run metrics. A run
// writes its metrics once as it starts (dravik_run_in_progress 1) and again
// at its end; the start-of-run file keeps the previous file's
// dravik_last_run_* and dravik_hcl_* families, so the results of the last
// run that ended, and the alerts on them, stay while a run is under way and
// after one killed outright.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace dravik {

// The largest previous file whose series are kept: one dravik writes is a
// few KiB.
inline constexpr size_t kCarriedMetricsMax = 64 * 1024;

// The dravik_last_run_* and dravik_hcl_* families of text, whole and in their
// order; other dravik_ families are left out. text must read as a metrics
// file dravik writes: each family a HELP and a TYPE line before its samples,
// every line printable ASCII and complete, each sample a well-formed name,
// label set and value, nothing but dravik_ families, at most
// kCarriedMetricsMax bytes. Anything else (a torn or hand-edited file,
// another program's series) gives "": nothing is kept rather than a line the
// collector would refuse the whole file for.
std::string carried_metrics(std::string_view text);

// The file at path, when it is a regular file of at most kCarriedMetricsMax
// bytes: its folder is opened first and the name relative to it, without
// following a link there or waiting on a FIFO. "" otherwise.
std::string read_previous_metrics(const std::string& path);

}  // namespace dravik
