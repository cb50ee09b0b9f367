#include "memory/phys_map.h"

#include <unistd.h>

namespace dravik {

uint64_t system_page_size() {
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

}  // namespace dravik
