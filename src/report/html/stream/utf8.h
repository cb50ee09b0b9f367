// Text from a stream is shown as it came, but only as valid UTF-8: a page
// must not carry a byte sequence a browser would read differently.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace dravik::html {

// text with every invalid or cut UTF-8 sequence (overlong forms, surrogates,
// code points past U+10FFFF) replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

// Appends code point cp as UTF-8 (U+FFFD for a surrogate or one past U+10FFFF).
void append_code_point(std::string& out, uint32_t cp);

}  // namespace dravik::html
