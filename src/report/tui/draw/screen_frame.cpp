#include "report/tui/draw/screen_frame.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace dravik {

ScreenFrame::ScreenFrame() : buf(new char[kCapacity]) { buf[0] = '\0'; }

void frame_reset(ScreenFrame& f, int32_t width, int32_t height, const UiTheme& theme) {
  f.len = 0;
  f.buf[0] = '\0';
  f.width = width;
  f.height = height;
  f.theme = &theme;
}

void frame_put(ScreenFrame& f, const char* text, size_t n) {
  if (n > ScreenFrame::kCapacity - 1 - f.len) return;
  memcpy(f.buf.get() + f.len, text, n);
  f.len += n;
  f.buf[f.len] = '\0';
}

void frame_puts(ScreenFrame& f, const char* text) { frame_put(f, text, strlen(text)); }

void frame_printf(ScreenFrame& f, const char* format, ...) {
  char scratch[768];
  va_list ap;
  va_start(ap, format);
  vsnprintf(scratch, sizeof scratch, format, ap);
  va_end(ap);
  frame_puts(f, scratch);
}

void frame_repeat(ScreenFrame& f, const char* text, int32_t n) {
  const size_t len = strlen(text);
  for (int32_t i = 0; i < n; ++i) frame_put(f, text, len);
}

void frame_goto_row(ScreenFrame& f, int32_t row) { frame_printf(f, TERM_GOTO_FMT TERM_CLEAR_LINE, row, 1); }

int32_t frame_put_clipped(ScreenFrame& f, const char* text, int32_t max_cols) {
  // Walk the text the way visible_width counts it and cut before the first
  // character that would not fit.
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  int32_t cols = 0;
  while (p[i]) {
    if (p[i] == 0x1B) {
      ++i;
      if (p[i] == '[') {
        ++i;
        while (p[i] && !(p[i] >= 0x40 && p[i] <= 0x7E)) ++i;
        if (p[i]) ++i;
      }
      continue;
    }
    if ((p[i] & 0xC0) != 0x80) {
      if (cols >= max_cols) break;
      ++cols;
    }
    ++i;
  }
  frame_put(f, text, i);
  return cols;
}

bool frame_section(ScreenFrame& f, int32_t row, const char* colour, const char* title) {
  if (!frame_has_row(f, row)) return false;
  const UiTheme& t = *f.theme;
  frame_goto_row(f, row);
  frame_puts(f, t.frame_colour);
  frame_puts(f, t.left_tee);
  frame_puts(f, t.horizontal);
  frame_puts(f, " ");
  frame_puts(f, colour != nullptr ? colour : kBoldWhite);
  // Leave room for the space and the right tee after the title.
  const int32_t title_cols = frame_put_clipped(f, title, f.width - 3 > 0 ? f.width - 3 : 0);
  frame_puts(f, kReset);
  frame_puts(f, t.frame_colour);
  frame_puts(f, " ");
  for (int32_t col = title_cols + 3; col <= f.width - 1; ++col) frame_puts(f, t.horizontal);
  frame_puts(f, t.right_tee);
  frame_puts(f, kReset);
  return true;
}

bool frame_row(ScreenFrame& f, int32_t row, const char* text) {
  if (!frame_has_row(f, row)) return false;
  const UiTheme& t = *f.theme;
  frame_goto_row(f, row);
  frame_puts(f, t.frame_colour);
  frame_puts(f, t.vertical);
  frame_puts(f, kReset);
  // A row wider than the box would wrap into the next one (or scroll the
  // screen on the last row), so it is cut at the border.
  const int32_t cols = frame_put_clipped(f, text, f.width);
  frame_repeat(f, " ", f.width - cols);
  frame_puts(f, kReset);
  // The right border is placed by column, not by the count of what came
  // before: a terminal may draw a glyph wider or narrower than one column
  // (an emoji-width pause sign, a code point its font lacks).
  frame_printf(f, TERM_COLUMN_FMT, f.width + 2);
  frame_puts(f, t.frame_colour);
  frame_puts(f, t.vertical);
  frame_puts(f, kReset);
  return true;
}

bool frame_row_printf(ScreenFrame& f, int32_t row, const char* format, ...) {
  if (!frame_has_row(f, row)) return false;
  char scratch[2048];
  va_list ap;
  va_start(ap, format);
  vsnprintf(scratch, sizeof scratch, format, ap);
  va_end(ap);
  return frame_row(f, row, scratch);
}

void copy_printable(char* dst, size_t cap, const char* src, int32_t max_chars) {
  if (cap == 0) return;
  size_t w = 0;
  int32_t chars = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p; ++p) {
    const bool lead = (*p & 0xC0) != 0x80;
    if (lead) {
      if (chars >= max_chars) break;
      // The whole character must fit, or none of it is copied.
      size_t need = 1;
      while (p[need] != 0 && (p[need] & 0xC0) == 0x80) ++need;
      if (w + need >= cap) break;
      ++chars;
    } else if (w + 1 >= cap) {
      break;  // a stray continuation byte
    }
    dst[w++] = (*p < 0x20 || *p == 0x7F) ? ' ' : static_cast<char>(*p);
  }
  dst[w] = '\0';
}

void frame_write(const ScreenFrame& f, int fd) {
  size_t done = 0;
  while (done < f.len) {
    const ssize_t n = write(fd, f.buf.get() + done, f.len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // a closed or broken output: nothing more to do for this frame
    }
  }
}

}  // namespace dravik
