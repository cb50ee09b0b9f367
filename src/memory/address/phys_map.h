// Virtual-to-physical translation through the kernel's page map, and the
// "System RAM" ranges of the kernel's resource list.
#pragma once
#include <cstdint>
#include <string>

namespace dravik {

struct RamRange {
  uint64_t first = 0;  // inclusive
  uint64_t last = 0;   // inclusive
};

struct RamRanges {
  static constexpr int kMax = 256;
  RamRange entries[kMax];
  int32_t count = 0;
  uint64_t lowest = 0;
  uint64_t highest = 0;
};

struct PhysMap {
  uint64_t page_size = 4096;
  int pagemap_fd = -1;
  RamRanges ram_ranges;
};

// sysconf page size (4096 when it gives 0 or less).
uint64_t system_page_size();

// Sets page_size, opens the page map and reads the RAM ranges.
void phys_setup(PhysMap& pm, const std::string& pagemap_path = "/proc/self/pagemap",
                const std::string& iomem_path = "/proc/iomem");
void phys_close(PhysMap& pm);

// Reads the "System RAM" ranges (at most 256) of an iomem-format file.
RamRanges read_ram_ranges(const std::string& iomem_path = "/proc/iomem");

// Physical address of a virtual address, 0 when no translation is available.
// Safe to call from any thread (positioned read on a shared descriptor).
uint64_t virt_to_phys(const PhysMap& pm, uint64_t vaddr);

// Index of the first range holding paddr, -1 when none does.
int32_t ram_range_index(const RamRanges& ranges, uint64_t paddr);

}  // namespace dravik
