// The kernel's resource list: the input is /proc/iomem. Besides crashes the
// target stops on a table that breaks its own rules.
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.h"
#include "memory/address/phys_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile file;
  const dravik::RamRanges r = dravik::read_ram_ranges(file.set(data, size));
  if (r.count < 0 || r.count > dravik::RamRanges::kMax) abort();
  for (int32_t i = 0; i < r.count; ++i) {
    const dravik::RamRange& e = r.entries[i];
    // highest stops one byte short of the top of the address space.
    const bool top = e.last == UINT64_MAX && r.highest == UINT64_MAX - 1;
    if (e.first > e.last || e.first < r.lowest || (e.last > r.highest && !top)) abort();
    if (dravik::ram_range_index(r, e.first) < 0 || dravik::ram_range_index(r, e.first) > i) abort();
  }
  // The span the memory map draws must count in 64 bits.
  if (r.count > 0 && r.highest - r.lowest + 1 == 0) abort();
  return 0;
}
