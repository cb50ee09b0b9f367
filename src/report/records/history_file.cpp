#include "report/records/history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "report/records/replace_file.h"

namespace dravik {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what + ": " + strerror(errno);
  return false;
}

// What a scan of the file found: its size, its line count (a last line
// without a newline counts), whether it ends in a newline, and where each of
// its newest `tail` lines starts.
struct HistoryScan {
  off_t size = 0;
  size_t lines = 0;
  bool ends_in_newline = true;
  std::deque<off_t> tail_starts;
};

bool scan(int fd, size_t tail, HistoryScan& s) {
  char buf[65536];
  bool at_line_start = true;
  for (;;) {
    const ssize_t n = pread(fd, buf, sizeof buf, s.size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t i = 0; i < n; ++i) {
      if (at_line_start) {
        ++s.lines;
        s.tail_starts.push_back(s.size + i);
        if (s.tail_starts.size() > tail) s.tail_starts.pop_front();
      }
      at_line_start = buf[i] == '\n';
    }
    s.size += n;
    s.ends_in_newline = at_line_start;
  }
}

// Reads the file from offset to its end.
bool read_from(int fd, off_t offset, off_t size, std::string& out) {
  out.resize(static_cast<size_t>(size - offset));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n =
        pread(fd, out.data() + done, out.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// The append itself, under the lock of the file that path names.
bool append_locked(int fd, const std::string& path, const struct stat& held,
                   const std::string& line, size_t keep, std::string* error) {
  HistoryScan s;
  if (!scan(fd, keep - 1, s)) return fail(error, "cannot read " + path);
  const std::string entry = line + '\n';
  if (s.lines + 1 > keep) {
    std::string kept;
    if (!s.tail_starts.empty() && !read_from(fd, s.tail_starts.front(), s.size, kept)) {
      return fail(error, "cannot read " + path);
    }
    if (!kept.empty() && kept.back() != '\n') kept += '\n';
    return replace_file(path, kept + entry, held.st_mode & 0777, error);
  }
  const std::string text = (s.ends_in_newline ? "" : "\n") + entry;
  if (lseek(fd, 0, SEEK_END) < 0) return fail(error, "cannot append to " + path);
  if (!write_all(fd, text.data(), text.size()) || fsync(fd) != 0) {
    // No half line of ours stays behind to spoil the next append.
    const int saved = errno;
    if (ftruncate(fd, s.size) != 0) {
      // The torn line stays; the next append starts on a line of its own.
    }
    errno = saved;
    return fail(error, "cannot append to " + path);
  }
  return true;
}

}  // namespace

bool append_history(const std::string& named_path, const std::string& line, size_t keep_lines,
                    std::string* error) {
  const size_t keep = keep_lines == 0 ? 1 : keep_lines;
  // A history reached through a symbolic link is kept where the link points:
  // dropping its oldest lines replaces that file, not the link.
  char* real = realpath(named_path.c_str(), nullptr);
  const std::string path = real != nullptr ? real : named_path;
  free(real);
  // A file renamed over this one while we waited for its lock sends us to
  // the new file; a writer that keeps replacing it forever is not waited for.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, "cannot open " + path);
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return fail(error, "cannot lock " + path);
      }
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) != 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return fail(error, "cannot read " + path);
    }
    if (stat(path.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
      close(fd);
      continue;
    }
    const bool ok = append_locked(fd, path, held, line, keep, error);
    close(fd);  // releases the lock
    return ok;
  }
  errno = EAGAIN;
  return fail(error, "cannot lock " + path + " (it keeps being replaced)");
}

}  // namespace dravik
