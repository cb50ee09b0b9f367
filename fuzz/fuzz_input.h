// Helpers shared by the fuzz targets: the input as a file (the parsers under
// test open paths), and the input cut into pieces.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dravik::fuzz {

// An in-memory file whose content each input replaces; the parsers open it
// by path like any kernel file. Inherited by child processes (a dmesg
// stand-in reads it).
class MemFile {
 public:
  MemFile() : fd_(memfd_create("dravik-fuzz", 0)) {
    path_ = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
  }
  ~MemFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;

  const std::string& set(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) == 0 && size > 0) {
      const ssize_t n = pwrite(fd_, data, size, 0);
      (void)n;
    }
    return path_;
  }
  const std::string& set(const std::string& text) {
    return set(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  std::string path_;
};

inline void remove_tree(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// The input cut at every separator byte.
inline std::vector<std::string> split_input(const uint8_t* data, size_t size, char sep) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (static_cast<char>(data[i]) == sep) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  return parts;
}

}  // namespace dravik::fuzz
