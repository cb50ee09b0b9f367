// The files of a folder, reached relative to it. dravik runs as root and
// keeps its records in folders that other users may write (a collector's
// folder owned by its user, /tmp): the folder is opened once and every name
// in it is opened, created, linked, renamed and removed relative to that
// descriptor, never through a symbolic link, and only while it is a regular
// file. The folder itself is whatever the kernel finds at the path the user
// gave, links included: choosing it is the user's business.
#pragma once
#include <sys/types.h>

#include <string>

namespace dravik {

// A file descriptor, closed when the value dies.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (keeping errno) and holds fd instead.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The folder of a path, open, and the final name in it.
struct Folder {
  Descriptor fd;     // the folder, O_DIRECTORY, readable (for fsync and listing)
  std::string path;  // the folder as named: "." for a bare name, "/" at the root
  std::string name;  // the final name, without a slash
};

// Opens the folder of path. False with errno set when it cannot be opened,
// or (EISDIR) when path ends in a slash and so names no file.
bool open_folder_of(const std::string& path, Folder& out);

enum class Opened { kRegular, kNotRegular, kFailed };

// Opens name in the folder dirfd with flags (O_RDONLY, O_RDWR, ...), never
// following a symbolic link. An existing name that is not a regular file (a
// link, device, FIFO, directory, socket) is kNotRegular and is not opened at
// all, since opening a device can act on it; a FIFO swapped in after that
// look cannot block the open either, and is refused once open. With
// create_mode not 0 a missing name is created with that mode (less the
// umask). kFailed leaves errno set.
Opened open_regular_at(int dirfd, const std::string& name, int flags, mode_t create_mode,
                       Descriptor& out);

// The reason given for a name that is not a regular file: "PATH is not a
// regular file".
std::string not_regular_text(const std::string& path);

// The failures of the functions that write records: each sets *error (when
// the caller asks for it) and returns false. fail_with_errno adds errno's
// text: "WHAT: No such file or directory".
bool fail_with(std::string* error, const std::string& what);
bool fail_with_errno(std::string* error, const std::string& what);

}  // namespace dravik
