// Replacing a file at once: a reader (a collector, a script) sees the old
// file or the new one, never half of one.
#pragma once
#include <sys/types.h>

#include <string>

namespace dravik {

// Writes content to a temporary file beside path (same directory, a name
// starting with a dot, so no collector's pattern matches it), syncs it to
// disk, gives it mode and renames it over path. On failure path is left as
// it was, the temporary is gone and *error says what failed.
bool replace_file(const std::string& path, const std::string& content, mode_t mode,
                  std::string* error);

// Writes all of data to fd, resuming after short writes and interruptions.
bool write_all(int fd, const char* data, size_t size);

}  // namespace dravik
