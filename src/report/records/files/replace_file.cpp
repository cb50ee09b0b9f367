#include "report/records/files/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

namespace dravik {

namespace {

// Unique within the process; the process id makes it unique on the box and
// tells a later run whose it is.
std::string temporary_name() {
  static std::atomic<unsigned> serial{0};
  return kTemporaryPrefix + std::to_string(getpid()) + "." +
         std::to_string(serial.fetch_add(1, std::memory_order_relaxed));
}

// A new empty file with a temporary name in dirfd; *name set on success.
int create_named(int dirfd, std::string* name) {
  for (int tries = 0; tries < 100; ++tries) {
    const std::string candidate = temporary_name();
    const int fd = openat(dirfd, candidate.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) *name = candidate;
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Gives the unnamed file fd a temporary name in dirfd; *name set on success.
// AT_EMPTY_PATH may need CAP_DAC_READ_SEARCH; the link through /proc does not.
bool link_unnamed(int fd, int dirfd, std::string* name) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (int tries = 0; tries < 100; ++tries) {
    const std::string candidate = temporary_name();
    if (linkat(fd, "", dirfd, candidate.c_str(), AT_EMPTY_PATH) == 0 ||
        (errno != EEXIST &&
         linkat(AT_FDCWD, proc.c_str(), dirfd, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)) {
      *name = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// The writer's process id in a temporary name, or 0 when it is not one.
pid_t writer_of(const char* name) {
  const size_t prefix = sizeof kTemporaryPrefix - 1;
  if (strncmp(name, kTemporaryPrefix, prefix) != 0) return 0;
  long pid = 0;
  const char* p = name + prefix;
  for (; *p >= '0' && *p <= '9'; ++p) {
    pid = pid * 10 + (*p - '0');
    if (pid > INT_MAX) return 0;
  }
  return *p == '.' ? static_cast<pid_t>(pid) : 0;
}

bool replace_in(const Folder& folder, const std::string& path, const std::string& content,
                const ReplaceOptions& how, std::string* error) {
  const int dirfd = folder.fd.get();
  // A name that is no regular file is refused before anything is written.
  // Should another user swap one in after this look, the rename below
  // replaces that entry of the folder, never what it points to.
  struct stat st {};
  if (fstatat(dirfd, folder.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (!S_ISREG(st.st_mode)) return fail_with(error, not_regular_text(path));
  } else if (errno != ENOENT) {
    return fail_with_errno(error, "cannot replace " + path);
  }
  std::string tmp;  // the temporary's name, once it has one
  Descriptor fd;
  if (how.unnamed_first) fd.reset(openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  // EISDIR: a kernel without O_TMPFILE; the others: a file system without it.
  if (!fd.valid() &&
      (!how.unnamed_first || errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    fd.reset(create_named(dirfd, &tmp));
  }
  const std::string temporary = "a temporary file in " + folder.path;
  if (!fd.valid()) return fail_with_errno(error, "cannot create " + temporary);
  // Removes the temporary and reports what failed, with the errno of the failure.
  const auto abandon = [&](const std::string& what) {
    const int saved = errno;
    fd.reset();
    if (!tmp.empty()) unlinkat(dirfd, tmp.c_str(), 0);
    errno = saved;
    return fail_with_errno(error, what);
  };
  if (!write_all(fd.get(), content.data(), content.size())) {
    return abandon("cannot write " + temporary);
  }
  // Only what differs is changed: a writer without CAP_CHOWN (the scan's
  // unit) still keeps a file of its own user and group.
  if (fstat(fd.get(), &st) != 0) return abandon("cannot read " + temporary);
  const uid_t owner = how.owner == st.st_uid ? static_cast<uid_t>(-1) : how.owner;
  const gid_t group = how.group == st.st_gid ? static_cast<gid_t>(-1) : how.group;
  if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
      fchown(fd.get(), owner, group) != 0) {
    return abandon("cannot give " + temporary + " the owner and group of " + path);
  }
  if (fchmod(fd.get(), how.mode) != 0) return abandon("cannot set the mode of " + temporary);
  if (fsync(fd.get()) != 0) return abandon("cannot sync " + temporary);
  if (how.before_link) how.before_link();
  if (tmp.empty() && !link_unnamed(fd.get(), dirfd, &tmp)) {
    return abandon("cannot link the new file into " + folder.path);
  }
  if (close(fd.release()) != 0) return abandon("cannot close " + temporary);
  if (renameat(dirfd, tmp.c_str(), dirfd, folder.name.c_str()) != 0) {
    return abandon("cannot rename the new file over " + path);
  }
  // The rename itself reaches the disk with the directory; a failure here
  // leaves a complete file in place, so it is not reported.
  fsync(dirfd);
  remove_stale_temporaries(dirfd);
  return true;
}

}  // namespace

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool replace_file_at(const Folder& folder, const std::string& path, const std::string& content,
                     const ReplaceOptions& how, std::string* error) {
  try {
    return replace_in(folder, path, content, how, error);
  } catch (const std::exception& e) {
    return fail_with(error, "cannot replace " + path + ": " + e.what());
  }
}

bool replace_file(const std::string& path, const std::string& content, const ReplaceOptions& how,
                  std::string* error) {
  Folder folder;
  if (!open_folder_of(path, folder)) {
    return fail_with_errno(error, folder.name.empty() ? "no file name in " + path
                                           : "cannot create a temporary file in " + folder.path);
  }
  return replace_file_at(folder, path, content, how, error);
}

void remove_stale_temporaries(int dirfd) {
  Descriptor listing(openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = listing.valid() ? fdopendir(listing.get()) : nullptr;
  if (dir == nullptr) return;
  listing.release();  // closedir closes it
  const pid_t self = getpid();
  while (const dirent* e = readdir(dir)) {
    const pid_t writer = writer_of(e->d_name);
    if (writer <= 0 || writer == self || kill(writer, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid()) {
      continue;
    }
    unlinkat(dirfd, e->d_name, 0);
  }
  closedir(dir);
}

}  // namespace dravik
