#include "core/text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace dravik {

double thread_cpu_seconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0.0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double now_seconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC, &ts) == 0) {
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
  return static_cast<double>(time(nullptr));
}

void format_hms(char* dst, size_t cap, double seconds) {
  // The conversion to long long is only defined inside its range; a NaN or an
  // absurd duration prints as 0 rather than invoking undefined behaviour.
  const double rounded = seconds + 0.5;
  long long t = 0;
  if (rounded >= -9.2e18 && rounded <= 9.2e18) t = static_cast<long long>(rounded);
  snprintf(dst, cap, "%02lld:%02lld:%02lld", t / 3600, (t % 3600) / 60, t % 60);
}

void format_size(uint64_t bytes, char* dst, size_t cap) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  if (bytes < 1024) {
    snprintf(dst, cap, "%llu%s", static_cast<unsigned long long>(bytes), "B");
    return;
  }
  double value = static_cast<double>(bytes);
  int steps = 0;
  do {
    value /= 1024.0;
    ++steps;
  } while (value >= 1024.0 && steps < 5);
  snprintf(dst, cap, "%.2f%s", value, kUnits[steps - 1]);
}

unsigned visible_width(const char* text) {
  unsigned width = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    if (*p == 0x1B) {
      ++p;
      if (*p == '[') {
        ++p;
        while (*p && !(*p >= 0x40 && *p <= 0x7E)) ++p;
        if (*p) ++p;
      }
      continue;
    }
    if ((*p & 0xC0) != 0x80) ++width;
    ++p;
  }
  return width;
}

namespace {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when it is invalid;
// *span receives how many bytes the invalid prefix covers (at least 1).
size_t utf8_sequence(const unsigned char* p, size_t* span) {
  const unsigned char c = p[0];
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;         // no overlong forms
    if (c == 0xED) hi = 0x9F;         // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;         // nothing above U+10FFFF
  } else {
    *span = 1;
    return 0;
  }
  for (size_t i = 1; i < len; ++i) {
    const unsigned char b = p[i];
    const bool ok = (i == 1) ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) {  // a zero terminator also ends up here
      *span = i;
      return 0;
    }
  }
  *span = len;
  return len;
}

}  // namespace

void json_escape(const char* src, char* dst, size_t cap) {
  if (cap == 0) return;
  size_t w = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
  while (*p && w + 2 < cap) {
    const unsigned char c = *p;
    if (c == '"' || c == '\\') {
      dst[w++] = '\\';
      dst[w++] = static_cast<char>(c);
      ++p;
    } else if (c == '\n') {
      dst[w++] = '\\';
      dst[w++] = 'n';
      ++p;
    } else if (c < 0x20) {
      ++p;
    } else if (c < 0x80) {
      dst[w++] = static_cast<char>(c);
      ++p;
    } else {
      size_t span = 1;
      const size_t len = utf8_sequence(p, &span);
      if (len > 0) {
        if (w + len >= cap) break;  // never cut inside a character
        memcpy(dst + w, p, len);
        w += len;
      } else {
        if (w + 3 >= cap) break;
        dst[w++] = static_cast<char>(0xEF);  // U+FFFD replacement character
        dst[w++] = static_cast<char>(0xBF);
        dst[w++] = static_cast<char>(0xBD);
      }
      p += span;
    }
  }
  dst[w] = '\0';
}

}  // namespace dravik
