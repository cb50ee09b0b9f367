#include "memory/address/phys_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/line_reader.h"

namespace dravik {

namespace {

constexpr uint64_t kPagePresent = 1ull << 63;
constexpr uint64_t kFrameMask = (1ull << 55) - 1;

// One hexadecimal number as "%lx" would read it (leading blanks skipped,
// optional 0x), but without a sign and refusing a number too large for 64
// bits. Returns the character after it, or null when there is no number.
const char* parse_hex(const char* p, uint64_t& value) {
  while (*p == ' ' || *p == '\t') ++p;
  if (!isxdigit(static_cast<unsigned char>(*p))) return nullptr;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(p, &end, 16);
  if (end == p || errno == ERANGE) return nullptr;
  value = static_cast<uint64_t>(v);
  return end;
}

// A line counts when its resource name (the text from the first ':') says
// "System RAM" and it starts with "first-last". Indented lines are nested
// resources and count by the same test. An inverted range is malformed.
bool parse_ram_line(const char* line, RamRange& out) {
  if (strchr(line, '-') == nullptr) return false;
  const char* colon = strchr(line, ':');
  if (colon == nullptr || strstr(colon, "System RAM") == nullptr) return false;
  RamRange r;
  const char* p = parse_hex(line, r.first);
  if (p == nullptr || *p != '-') return false;
  if (parse_hex(p + 1, r.last) == nullptr) return false;
  if (r.last < r.first) return false;
  out = r;
  return true;
}

}  // namespace

uint64_t system_page_size() {
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

void phys_setup(PhysMap& pm, const std::string& pagemap_path, const std::string& iomem_path) {
  phys_close(pm);
  pm.page_size = system_page_size();
  // Opened even without physical mapping: it costs nothing and keeps the
  // descriptor's life the same in every run.
  pm.pagemap_fd = open(pagemap_path.c_str(), O_RDONLY | O_CLOEXEC);
  pm.ram_ranges = read_ram_ranges(iomem_path);
}

void phys_close(PhysMap& pm) {
  if (pm.pagemap_fd >= 0) close(pm.pagemap_fd);
  pm.pagemap_fd = -1;
}

RamRanges read_ram_ranges(const std::string& iomem_path) {
  RamRanges ranges;
  FILE* f = fopen(iomem_path.c_str(), "re");
  if (f == nullptr) return ranges;
  for_each_line<512>(f, [&ranges](const char* line) {
    RamRange r;
    if (!parse_ram_line(line, r)) return false;
    if (ranges.count == 0) {
      ranges.lowest = r.first;
      ranges.highest = r.last;
    } else {
      if (r.first < ranges.lowest) ranges.lowest = r.first;
      if (r.last > ranges.highest) ranges.highest = r.last;
    }
    ranges.entries[ranges.count++] = r;
    return ranges.count == RamRanges::kMax;
  });
  fclose(f);
  // The map spans lowest to highest inclusive, highest - lowest + 1 bytes; a
  // range reaching the last byte of the 64-bit space would wrap that count.
  // No RAM sits there, so the bound stops one byte short.
  if (ranges.count > 0 && ranges.highest == UINT64_MAX) ranges.highest = UINT64_MAX - 1;
  return ranges;
}

uint64_t virt_to_phys(const PhysMap& pm, uint64_t vaddr) {
  if (pm.pagemap_fd < 0 || pm.page_size == 0) return 0;
  const uint64_t page = vaddr / pm.page_size;
  uint64_t entry = 0;
  const off_t offset = static_cast<off_t>(page * sizeof entry);
  if (pread(pm.pagemap_fd, &entry, sizeof entry, offset) != static_cast<ssize_t>(sizeof entry)) {
    return 0;
  }
  if ((entry & kPagePresent) == 0) return 0;
  // Frame 0 is how the kernel hides frame numbers from unprivileged readers.
  const uint64_t frame = entry & kFrameMask;
  if (frame == 0 || frame > UINT64_MAX / pm.page_size) return 0;
  return frame * pm.page_size + vaddr % pm.page_size;
}

int32_t ram_range_index(const RamRanges& ranges, uint64_t paddr) {
  for (int32_t i = 0; i < ranges.count; ++i) {
    if (ranges.entries[i].first <= paddr && paddr <= ranges.entries[i].last) return i;
  }
  return -1;
}

}  // namespace dravik
