// The text helpers the reports run over outside text (kernel-log lines):
// JSON escaping into buffers of every small size, and the display width.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/text.h"

namespace {

// Whole, well-formed UTF-8 with no control byte left unescaped.
bool valid_json_text(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p != 0) {
    if (*p < 0x20) return false;
    int more = 0;
    if (*p >= 0xf0 && *p <= 0xf4) more = 3;
    else if (*p >= 0xe0) more = *p < 0xf0 ? 2 : -1;
    else if (*p >= 0xc2) more = 1;
    else if (*p >= 0x80) more = -1;
    if (more < 0) return false;
    ++p;
    for (int i = 0; i < more; ++i, ++p) {
      if ((*p & 0xc0) != 0x80) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  dravik::visible_width(text.c_str());
  for (size_t cap : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, 6 * size + 8}) {
    std::vector<char> out(cap, 'x');
    dravik::json_escape(text.c_str(), out.data(), cap);
    if (memchr(out.data(), '\0', cap) == nullptr || !valid_json_text(out.data())) abort();
  }
  return 0;
}
