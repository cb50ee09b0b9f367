// Page-map translation: the first 8 input bytes are a virtual address, the
// rest the page map it is looked up in.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "memory/address/phys_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile file;
  if (size < 8) return 0;
  uint64_t vaddr = 0;
  memcpy(&vaddr, data, 8);
  file.set(data + 8, size - 8);
  dravik::PhysMap pm;
  pm.page_size = dravik::system_page_size();
  pm.pagemap_fd = file.fd();
  // Small addresses land inside the input; any other must read nothing.
  for (uint64_t v : {vaddr, vaddr % (64 * pm.page_size)}) {
    const uint64_t pa = dravik::virt_to_phys(pm, v);
    if (pa != 0 && pa % pm.page_size != v % pm.page_size) abort();
  }
  return 0;
}
