// Option values read from text, whole and in range.
#include "app/cmdline/option_values.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace dravik {

namespace {

const char* skip_blanks(const char* text) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  return text;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_letter(char c) { return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Not empty, and every character is a decimal digit (or, with hex, also a-f).
bool only_digits(const char* text, bool hex) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (!is_digit(*text) && !(hex && is_hex_letter(*text))) return false;
  }
  return true;
}

bool has_hex_letter(const char* text) {
  for (; *text != '\0'; ++text) {
    if (is_hex_letter(*text)) return true;
  }
  return false;
}

}  // namespace

bool read_integer(const char* text, int64_t least, int64_t most, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  const long long value = strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  if (value < least || value > most) return false;
  *out = value;
  return true;
}

bool read_seed(const char* text, uint64_t* out) {
  // strtoull would take "-1" as 2^64 - 1; a seed is printed without a sign,
  // so one written with a sign is a mistake.
  if (*skip_blanks(text) == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = strtoull(text, &end, 0);
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  *out = value;
  return true;
}

std::string seed_hint(const char* text) {
  const char* digits = skip_blanks(text);
  if (only_digits(digits, true) && has_hex_letter(digits)) {
    errno = 0;
    (void)strtoull(digits, nullptr, 16);
    if (errno != ERANGE) return std::string("a hexadecimal seed is written 0x") + digits;
  }
  // A leading 0 makes the seed octal, and 8 or 9 ends an octal number.
  if (digits[0] == '0' && only_digits(digits, false)) return "a seed with a leading 0 is octal";
  return {};
}

bool read_figure(const char* text, double most, double* out) {
  char* end = nullptr;
  errno = 0;
  const double value = strtod(text, &end);
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  if (!std::isfinite(value) || value > most) return false;
  *out = value;
  return true;
}

SizeRead read_size(const char* text, uint64_t page, uint64_t* bytes) {
  char* end = nullptr;
  errno = 0;
  const double number = strtod(text, &end);
  if (end == text || errno == ERANGE || !std::isfinite(number) || number < 0.0) {
    return SizeRead::invalid;
  }
  double factor = 1.0;
  switch (*end) {
    case 'k': case 'K': factor = 1024.0; ++end; break;
    case 'm': case 'M': factor = 1048576.0; ++end; break;
    case 'g': case 'G': factor = 1073741824.0; ++end; break;
    case 't': case 'T': factor = 1099511627776.0; ++end; break;
    default: break;
  }
  if (*end != '\0') return SizeRead::invalid;
  const double product = number * factor;
  // A double converts to an unsigned 64-bit count only inside [0, 2^64);
  // 2^63 and above go through the upper half of the range, not clipped.
  if (product >= 18446744073709551616.0) return SizeRead::invalid;
  const uint64_t count = static_cast<uint64_t>(product);
  if (number != 0.0 && count < page) return SizeRead::below_page;
  *bytes = count;
  return SizeRead::ok;
}

}  // namespace dravik
