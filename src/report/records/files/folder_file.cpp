#include "report/records/files/folder_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dravik {

void Descriptor::reset(int fd) {
  if (fd_ >= 0) {
    const int saved = errno;
    close(fd_);
    errno = saved;
  }
  fd_ = fd;
}

bool open_folder_of(const std::string& path, Folder& out) {
  const size_t slash = path.rfind('/');
  out.path = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  out.name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (out.name.empty()) {
    errno = EISDIR;
    return false;
  }
  out.fd.reset(open(out.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return out.fd.valid();
}

Opened open_regular_at(int dirfd, const std::string& name, int flags, mode_t create_mode,
                       Descriptor& out) {
  out.reset();
  // O_NONBLOCK: a FIFO put in place after the look opens at once (and is
  // then refused) instead of waiting for a writer that never comes.
  const int how = flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // A name removed or created by someone else between the look and the open
  // is looked at again; a few rounds settle it.
  for (int round = 0; round < 8; ++round) {
    struct stat st {};
    int fd = -1;
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (!S_ISREG(st.st_mode)) return Opened::kNotRegular;
      fd = openat(dirfd, name.c_str(), how);
      if (fd < 0 && errno == ENOENT && create_mode != 0) continue;
    } else if (errno == ENOENT && create_mode != 0) {
      // O_EXCL never follows a link, a dangling one included.
      fd = openat(dirfd, name.c_str(), how | O_CREAT | O_EXCL, create_mode);
      if (fd < 0 && errno == EEXIST) continue;
    } else {
      return Opened::kFailed;
    }
    // ELOOP: O_NOFOLLOW met a link swapped in after the look.
    if (fd < 0) return errno == ELOOP ? Opened::kNotRegular : Opened::kFailed;
    out.reset(fd);
    if (fstat(fd, &st) != 0) {
      out.reset();
      return Opened::kFailed;
    }
    if (!S_ISREG(st.st_mode)) {
      out.reset();
      return Opened::kNotRegular;
    }
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
      out.reset();
      return Opened::kFailed;
    }
    return Opened::kRegular;
  }
  errno = EAGAIN;
  return Opened::kFailed;
}

std::string not_regular_text(const std::string& path) { return path + " is not a regular file"; }

bool fail_with(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
  return false;
}

bool fail_with_errno(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what + ": " + strerror(errno);
  return false;
}

}  // namespace dravik
