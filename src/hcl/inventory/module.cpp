// One SMBIOS memory device (type 17) decoded: size, rated and configured
// speed, data width, ECC, type, and the locator, bank and vendor strings,
// the vendors' placeholders read as empty. A field past the structure's
// length is absent, a string past the table's end is cut.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hcl/inventory/inventory.h"

namespace dravik {

namespace {

unsigned word_at(const uint8_t* p, size_t off) {
  return static_cast<unsigned>(p[off]) | static_cast<unsigned>(p[off + 1]) << 8;
}

uint32_t dword_at(const uint8_t* p, size_t off) {
  return static_cast<uint32_t>(p[off]) | static_cast<uint32_t>(p[off + 1]) << 8 |
         static_cast<uint32_t>(p[off + 2]) << 16 | static_cast<uint32_t>(p[off + 3]) << 24;
}

// Copies string number `n` (1-based) of the set into dst (capacity cap,
// truncated). Number 0, or a number past the last string, gives "". A string
// cut by the end of the table keeps the bytes that are there.
void string_at(const uint8_t* set, size_t set_len, unsigned n, char* dst, size_t cap) {
  dst[0] = '\0';
  if (n == 0) return;
  size_t p = 0;
  for (unsigned k = 1; k < n; ++k) {
    if (p >= set_len || set[p] == 0) return;  // the set ended before string n
    while (p < set_len && set[p] != 0) ++p;
    ++p;  // past the string's terminator
  }
  if (p >= set_len || set[p] == 0) return;
  size_t out = 0;
  while (p < set_len && set[p] != 0 && out + 1 < cap) dst[out++] = static_cast<char>(set[p++]);
  dst[out] = '\0';
}

void strip_trailing_blanks(char* s) {
  size_t n = strlen(s);
  while (n > 0 && s[n - 1] == ' ') s[--n] = '\0';
}

// Vendors fill unused manufacturer and part fields with placeholders; those
// read as empty so that two blank fields compare as "unknown", not as equal.
void filter_vendor_text(char* s) {
  strip_trailing_blanks(s);
  if (strncmp(s, "Unknown", 7) == 0 || strncmp(s, "Not Spec", 8) == 0 ||
      strncmp(s, "To Be Filled", 12) == 0 || strcmp(s, "NO DIMM") == 0) {
    s[0] = '\0';
  }
}

// Module size in bytes; 0 when the slot is empty or the size unknown.
uint64_t device_size(const uint8_t* fmt, size_t len) {
  const unsigned size = word_at(fmt, 0x0C);
  if (size == 0 || size == 0xFFFF) return 0;
  if (size == 0x7FFF && len > 31) {
    // Extended size: MiB in bits 0..30 of the double word.
    return static_cast<uint64_t>(dword_at(fmt, 0x1C) & 0x7FFFFFFFu) << 20;
  }
  if (size & 0x8000) return static_cast<uint64_t>(size & 0x7FFF) << 10;  // KiB granularity
  return static_cast<uint64_t>(size) << 20;
}

}  // namespace

const char* memory_type_name(unsigned code) {
  switch (code) {
    case 0x12: return "DDR";
    case 0x13: return "DDR2";
    case 0x18: return "DDR3";
    case 0x1A: return "DDR4";
    case 0x1B: return "LPDDR";
    case 0x1C: return "LPDDR2";
    case 0x1D: return "LPDDR3";
    case 0x1E: return "LPDDR4";
    case 0x22: return "DDR5";
    default: return "RAM";
  }
}

bool decode_memory_device(const uint8_t* fmt, size_t len, const uint8_t* strings,
                          size_t strings_len, MemoryModule& module) {
  if (len < 21) return false;
  const uint64_t size = device_size(fmt, len);
  if (size == 0) return false;

  module = MemoryModule{};
  module.size = size;

  const unsigned total = word_at(fmt, 0x08);
  const unsigned data = word_at(fmt, 0x0A);
  module.ecc = (total != 0xFFFF && data != 0xFFFF && data < total) ? 1 : 0;
  module.data_width = (data >= 8 && data <= 128) ? static_cast<int>(data) : 64;

  if (len > 22) module.speed = static_cast<int>(word_at(fmt, 0x15));
  if (len > 33) module.configured_speed = static_cast<int>(word_at(fmt, 0x20));

  const char* type = memory_type_name(fmt[0x12]);
  memcpy(module.type, type, strlen(type) + 1);

  string_at(strings, strings_len, fmt[0x10], module.locator, sizeof module.locator);
  string_at(strings, strings_len, fmt[0x11], module.bank, sizeof module.bank);
  if (len > 26) {
    string_at(strings, strings_len, fmt[0x17], module.manufacturer, sizeof module.manufacturer);
    string_at(strings, strings_len, fmt[0x1A], module.part, sizeof module.part);
    filter_vendor_text(module.manufacturer);
    filter_vendor_text(module.part);
  }
  return true;
}

}  // namespace dravik
