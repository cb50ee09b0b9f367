// Option values read from text. A value is taken only when the whole text is
// one value that fits its field; no number, text after it, or a number the
// field cannot hold is refused, never read as 0 or narrowed. The numbers
// themselves follow the standard conversions (strtoll, strtoull, strtod):
// leading blanks are skipped and a sign is allowed where the field has one.
#pragma once
#include <cstdint>
#include <string>

namespace dravik {

// A decimal integer in [least, most].
bool read_integer(const char* text, int64_t least, int64_t most, int64_t* out);

// An unsigned 64-bit integer whose base is taken from its prefix: "0x"
// hexadecimal, a leading "0" octal, otherwise decimal. No sign.
bool read_seed(const char* text, uint64_t* out);

// Why a refused seed may not mean what its writer thought: a hint such as
// "a hexadecimal seed is written 0xdeadbeef"; empty when there is none.
std::string seed_hint(const char* text);

// A finite floating-point number of at most `most`.
bool read_figure(const char* text, double most, double* out);

enum class SizeRead { ok, invalid, below_page };

// A size in bytes: a floating-point number, then one optional unit letter in
// either case (K 1024, M 1048576, G 1073741824, T 1099511627776) and nothing
// after it. 0 reads as 0 (no cap); any other size of less than `page` bytes
// is below_page. Negative, NaN, infinite and 2^64 bytes or more are invalid.
SizeRead read_size(const char* text, uint64_t page, uint64_t* bytes);

}  // namespace dravik
