#include "report/records/history/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <exception>

#include "core/run/flags.h"
#include "core/text.h"
#include "report/records/files/folder_file.h"
#include "report/records/files/replace_file.h"

namespace dravik {

namespace {

// The end of the file: its size, and its whole lines within the last
// kHistoryTailBytes (a last line without a newline counts).
struct HistoryTail {
  off_t size = 0;
  std::string text;
  bool cut = false;  // the file began before the window; its start is dropped
};

bool read_tail(int fd, HistoryTail& t) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  t.size = st.st_size;
  constexpr off_t kWindow = static_cast<off_t>(kHistoryTailBytes);
  // One byte more than the window: a newline just before it means the
  // window starts on a whole line.
  const off_t from = t.size > kWindow ? t.size - kWindow - 1 : 0;
  t.cut = from > 0;
  t.text.resize(static_cast<size_t>(t.size - from));
  size_t done = 0;
  while (done < t.text.size()) {
    const ssize_t n = pread(fd, t.text.data() + done, t.text.size() - done,
                            from + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // cut short by another writer: what was there
    done += static_cast<size_t>(n);
  }
  t.text.resize(done);
  if (t.cut) {
    const size_t newline = t.text.find('\n');
    t.text.erase(0, newline == std::string::npos ? t.text.size() : newline + 1);
  }
  return true;
}

// Where the last n lines of text begin (0 when it holds n lines or fewer).
size_t last_lines_start(const std::string& text, size_t n) {
  if (n == 0) return text.size();
  size_t end = text.size();
  if (end > 0 && text[end - 1] == '\n') --end;  // the last line's own newline
  size_t seen = 0;
  for (size_t i = end; i > 0; --i) {
    if (text[i - 1] == '\n' && ++seen == n) return i;
  }
  return 0;
}

// The append itself, under the lock of the file that folder.name names.
bool append_locked(int fd, const Folder& folder, const std::string& path, const struct stat& held,
                   const std::string& line, size_t keep, std::string* error) {
  HistoryTail t;
  if (!read_tail(fd, t)) return fail_with_errno(error, "cannot read " + path);
  const bool ends_in_newline = t.text.empty() || t.text.back() == '\n';
  const size_t lines = static_cast<size_t>(std::count(t.text.begin(), t.text.end(), '\n')) +
                       (ends_in_newline ? 0 : 1);
  const std::string entry = line + '\n';
  if (t.cut || lines + 1 > keep) {
    t.text.erase(0, last_lines_start(t.text, keep - 1));
    if (!t.text.empty() && t.text.back() != '\n') t.text += '\n';
    t.text += entry;
    ReplaceOptions how;
    how.mode = held.st_mode & 0777;
    how.owner = held.st_uid;
    how.group = held.st_gid;
    return replace_file_at(folder, path, t.text, how, error);
  }
  const std::string text = (ends_in_newline ? "" : "\n") + entry;
  if (lseek(fd, 0, SEEK_END) < 0) return fail_with_errno(error, "cannot append to " + path);
  if (!write_all(fd, text.data(), text.size()) || fsync(fd) != 0) {
    // No half line of ours stays behind to spoil the next append.
    const int saved = errno;
    if (ftruncate(fd, t.size) != 0) {
      // The torn line stays; the next append starts on a line of its own.
    }
    errno = saved;
    return fail_with_errno(error, "cannot append to " + path);
  }
  return true;
}

enum class Lock { kHeld, kBusy, kStopped, kFailed };

// Takes the exclusive lock of fd without blocking, retrying until deadline
// (monotonic seconds) or until stopped() says to give up.
Lock take_lock(int fd, double deadline, const std::function<bool()>& stopped) {
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return Lock::kHeld;
    if (errno != EWOULDBLOCK && errno != EINTR) return Lock::kFailed;
    if (stopped()) return Lock::kStopped;
    const double left = deadline - now_seconds();
    if (left <= 0.0) return Lock::kBusy;
    // A signal cuts the nap short (the handler does not restart calls), so
    // a stop is seen at once.
    const double nap = std::min(left, 0.05);
    timespec ts{0, static_cast<long>(nap * 1e9)};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, nullptr);
  }
}

bool append(const std::string& path, const std::string& line, size_t keep, std::string* error,
            const LockWait& wait) {
  Folder folder;
  if (!open_folder_of(path, folder)) return fail_with_errno(error, "cannot open " + path);
  const int32_t stops_before = stop_requested.load(std::memory_order_relaxed);
  const std::function<bool()> stopped =
      wait.stop ? wait.stop
                : [stops_before] {
                    return stop_requested.load(std::memory_order_relaxed) != stops_before;
                  };
  const double deadline = now_seconds() + wait.limit_s;
  // A file renamed over this one while we waited for its lock sends us to
  // the new file; a writer that keeps replacing it forever is not waited for.
  for (int attempt = 0; attempt < 100; ++attempt) {
    Descriptor fd;
    const Opened opened = open_regular_at(folder.fd.get(), folder.name, O_RDWR, 0640, fd);
    if (opened == Opened::kNotRegular) return fail_with(error, not_regular_text(path));
    if (opened == Opened::kFailed) return fail_with_errno(error, "cannot open " + path);
    switch (take_lock(fd.get(), deadline, stopped)) {
      case Lock::kHeld: break;
      case Lock::kBusy:
        return fail_with(error, "history busy: " + path + " is locked by another process");
      case Lock::kStopped:
        return fail_with(error,
                      "history busy: " + path + " is locked by another process (wait stopped)");
      case Lock::kFailed: return fail_with_errno(error, "cannot lock " + path);
    }
    struct stat held {};
    struct stat named {};
    if (fstat(fd.get(), &held) != 0) return fail_with_errno(error, "cannot read " + path);
    if (fstatat(folder.fd.get(), folder.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_ino != held.st_ino || named.st_dev != held.st_dev) {
      continue;
    }
    // Closing fd on the way out releases the lock.
    return append_locked(fd.get(), folder, path, held, line, keep, error);
  }
  errno = EAGAIN;
  return fail_with_errno(error, "cannot lock " + path + " (it keeps being replaced)");
}

}  // namespace

bool append_history(const std::string& path, const std::string& line, size_t keep_lines,
                    std::string* error, const LockWait& wait) {
  try {
    return append(path, line, keep_lines == 0 ? 1 : keep_lines, error, wait);
  } catch (const std::exception& e) {
    return fail_with(error, "cannot append to " + path + ": " + e.what());
  }
}

}  // namespace dravik
