// A /proc/meminfo stand-in whose MemAvailable a test changes while a run
// reads it (rewritten through rename, so a reader never sees half a file).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "support/test_support.h"

namespace dravik::testing {

class MeminfoFixture {
 public:
  explicit MeminfoFixture(uint64_t available_mib, uint64_t total_mib = 24576) : total_(total_mib) {
    set_available_mib(available_mib);
  }
  void set_available_mib(uint64_t mib) {
    char text[256];
    snprintf(text, sizeof text,
             "MemTotal:       %lu kB\nMemFree:        %lu kB\nMemAvailable:   %lu kB\n",
             static_cast<unsigned long>(total_ * 1024), static_cast<unsigned long>(mib * 1024),
             static_cast<unsigned long>(mib * 1024));
    dir_.write("meminfo.next", text);
    std::rename(dir_.sub("meminfo.next").c_str(), path().c_str());
  }
  std::string path() const { return dir_.sub("meminfo"); }
  uint64_t total_mib() const { return total_; }

 private:
  TempDir dir_;
  uint64_t total_;
};

}  // namespace dravik::testing
