// Replacing a file at once: a reader (a collector, a script) sees the old
// file or the new one, never half of one. The new file is written in the
// folder of the old one (see folder_file.h), unnamed where the file system
// allows it (O_TMPFILE), and only given a name when it is complete, so a run
// killed while writing leaves nothing behind. Elsewhere the temporary has a
// name from the start, with one fixed prefix and the writer's process id, and
// a later run removes the ones of writers that are gone.
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>

#include "report/records/files/folder_file.h"

namespace dravik {

// The prefix of every temporary name: ".dravik-tmp.PID.N". It starts with a
// dot, so no collector's pattern (*.prom) matches it.
inline constexpr char kTemporaryPrefix[] = ".dravik-tmp.";

// What the new file gets.
struct ReplaceOptions {
  mode_t mode = 0644;
  // Owner and group of the new file; -1 keeps the writer's.
  uid_t owner = static_cast<uid_t>(-1);
  gid_t group = static_cast<gid_t>(-1);
  // False: a named temporary from the start, as on a file system without
  // unnamed files.
  bool unnamed_first = true;
  // Called once the content is on disk, before it is given a name and
  // renamed over path.
  std::function<void()> before_link;
};

// Writes content to a temporary file in the folder of path, syncs it to
// disk, gives it the mode (and owner) of how and renames it over path. An
// existing path that is not a regular file (a link, a device, a FIFO, a
// directory) is refused with "PATH is not a regular file": the name is
// replaced, never what a link points to. On failure path is left as it was,
// the temporary is gone and *error says what failed.
bool replace_file(const std::string& path, const std::string& content, const ReplaceOptions& how,
                  std::string* error);

// The same in a folder already open; path names folder.name in messages.
bool replace_file_at(const Folder& folder, const std::string& path, const std::string& content,
                     const ReplaceOptions& how, std::string* error);

// Removes from the folder dirfd the temporaries of writers that are gone:
// names with the prefix and the id of a process that no longer exists, that
// are regular files of this process's user. Links are never followed.
void remove_stale_temporaries(int dirfd);

// Writes all of data to fd, resuming after short writes and interruptions.
bool write_all(int fd, const char* data, size_t size);

}  // namespace dravik
