// Formatting and clock helpers shared by the reports.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dravik {

// Monotonic seconds; wall-clock seconds when the monotonic clock fails.
double now_seconds();

// The calling thread's CPU time in seconds (0 when the clock fails).
double thread_cpu_seconds();

// "%02lld:%02lld:%02lld" of seconds rounded to the nearest second.
void format_hms(char* dst, size_t cap, double seconds);

// Bytes in units of 1024: "512B", "1.00KiB", ... "PiB".
void format_size(uint64_t bytes, char* dst, size_t cap);

// Display width: one per UTF-8 character, CSI escape sequences count 0.
unsigned visible_width(const char* text);

// Bounded JSON escaping, always zero-terminated and always valid UTF-8:
// " and \ are escaped, newline becomes \n, other control bytes are dropped,
// invalid or cut UTF-8 sequences become U+FFFD, and a character is never cut.
void json_escape(const char* src, char* dst, size_t cap);

}  // namespace dravik
