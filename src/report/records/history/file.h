// The kept history: one JSON line per run, appended to a file that every run
// of the box shares, and kept to its last lines.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace dravik {

// How many runs the history keeps.
inline constexpr size_t kHistoryLines = 1000;

// How much of the end of the history is read: a thousand lines of a few KiB
// at most. A longer file keeps the whole lines of its last kHistoryTailBytes.
inline constexpr size_t kHistoryTailBytes = size_t{4} << 20;

// How long a run waits for the lock of the history, and what ends the wait
// sooner. Any user who can read the file can lock it.
struct LockWait {
  double limit_s = 10.0;
  // Asked at every retry (about every 50 ms, and at once after a signal);
  // true ends the wait. Empty: a stop signal (SIGINT, SIGTERM) that arrives
  // during the wait ends it, not the one that may have ended the run.
  std::function<bool()> stop;
};

// Appends line (and a newline) to the file at path, creating it with mode
// 0640 (it holds command lines and the host name). The folder of path is
// opened and the file in it relative to that folder, never through a link:
// an existing path that is a symbolic link, device, FIFO or directory is
// refused with "PATH is not a regular file" (a history reached through a link
// is no longer kept where the link points: name the real file).
// An exclusive advisory lock (flock) on the file keeps two runs from
// interleaving; it is waited for as wait says, and a wait that ends without
// it is "history busy: PATH is locked by another process". A last line left
// without its newline (a torn write, a hand edit) gets one first, so it stays
// a line of its own and the new line stays whole. When the file would then
// hold more than keep_lines lines, or is longer than kHistoryTailBytes, its
// newest whole lines within that tail (keep_lines with the new one) are
// written to a new file with the old one's owner, group and mode and renamed
// over it; a run that waited for the lock of the old file then opens the new
// one. On failure returns false with the reason in *error; the file is left
// as it was.
bool append_history(const std::string& path, const std::string& line, size_t keep_lines,
                    std::string* error, const LockWait& wait = {});

}  // namespace dravik
