#include "report/records/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace dravik {

namespace {

bool fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what + ": " + strerror(errno);
  return false;
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

bool replace_file(const std::string& path, const std::string& content, mode_t mode,
                  std::string* error) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) {
    errno = EISDIR;
    return fail(error, "no file name in " + path);
  }
  std::string tmpl = dir + "/." + base + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return fail(error, "cannot create a temporary file in " + dir);
  const std::string tmp(name.data());
  // Removes the temporary and reports what failed, with the errno of the failure.
  const auto abandon = [&](const std::string& what, bool still_open) {
    const int saved = errno;
    if (still_open) close(fd);
    unlink(tmp.c_str());
    errno = saved;
    return fail(error, what);
  };
  if (!write_all(fd, content.data(), content.size())) return abandon("cannot write " + tmp, true);
  if (fchmod(fd, mode) != 0) return abandon("cannot set the mode of " + tmp, true);
  if (fsync(fd) != 0) return abandon("cannot sync " + tmp, true);
  if (close(fd) != 0) return abandon("cannot close " + tmp, false);
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    return abandon("cannot rename the new file over " + path, false);
  }
  // The rename itself reaches the disk with the directory; a failure here
  // leaves a complete file in place, so it is not reported.
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace dravik
