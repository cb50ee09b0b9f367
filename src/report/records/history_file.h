// The kept history: one JSON line per run, appended to a file that every run
// of the box shares, and kept to its last lines.
#pragma once
#include <cstddef>
#include <string>

namespace dravik {

// How many runs the history keeps.
inline constexpr size_t kHistoryLines = 1000;

// Appends line (and a newline) to the file at path, creating it. An
// exclusive advisory lock (flock) on the file keeps two runs from
// interleaving. A last line left without its newline (a torn write, a hand
// edit) gets one first, so it stays a line of its own and the new line stays
// whole. When the file would then hold more than keep_lines lines, the
// newest keep_lines are written to a new file renamed over the old one; a run
// that waited for the lock of the old file then opens the new one. On
// failure returns false with the reason in *error; the file is left as it
// was.
bool append_history(const std::string& path, const std::string& line, size_t keep_lines,
                    std::string* error);

}  // namespace dravik
