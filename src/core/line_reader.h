// Line reading for the small kernel text files the probes parse and the
// kernel log's one-shot sources. fgets is not enough: a NUL byte inside a line hides the newline after it from strlen, so
// the next line would be taken for the rest of this one and dropped.
#pragma once
#include <cstddef>
#include <cstdio>

namespace dravik {

// Hands fn every line of f without its newline, zero-terminated, cut to
// Cap - 1 bytes; the rest of an over-long line is skipped, never read as a
// line of its own. A NUL inside a line is handed on as nul_as: by default it
// ends the text fn sees but not the line. Stops when fn returns true.
template <size_t Cap, typename Fn>
void for_each_line(FILE* f, Fn fn, char nul_as = '\0') {
  static_assert(Cap >= 2, "a line needs room for one byte and the terminator");
  char buf[Cap];
  for (;;) {
    size_t len = 0;
    bool any = false;
    int c = 0;
    // The stream belongs to the calling thread alone, so the unlocked read
    // is safe and keeps a byte-at-a-time loop cheap.
    while ((c = getc_unlocked(f)) != EOF) {
      any = true;
      if (c == '\n') break;
      if (len + 1 < Cap) buf[len++] = c == '\0' ? nul_as : static_cast<char>(c);
    }
    if (!any) return;
    buf[len] = '\0';
    if (fn(buf) || c == EOF) return;
  }
}

}  // namespace dravik
