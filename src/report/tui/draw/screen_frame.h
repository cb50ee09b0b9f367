// The frame buffer of the dashboard: a whole screen is composed here and sent
// with one write, so the terminal never shows half a frame. The helpers place
// whole rows by absolute cursor address, which lets a frame leave rows out
// (unchanged map rows) and lets the terminal keep what it already shows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "report/tui/draw/ansi.h"
#include "report/tui/draw/theme.h"

namespace dravik {

struct ScreenFrame {
  static constexpr size_t kCapacity = 512 * 1024;

  ScreenFrame();

  std::unique_ptr<char[]> buf;  // kCapacity bytes, kept zero-terminated
  size_t len = 0;
  int32_t width = 0;   // W: columns between the two verticals of a row
  int32_t height = 0;  // H: rows below it are not drawn; 0 means no limit
  const UiTheme* theme = &kAsciiTheme;

  std::string_view text() const { return {buf.get(), len}; }
};

// A bounded text line built piece by piece; a piece that does not fit is
// left out whole.
template <size_t N>
struct LineText {
  char text[N];
  size_t len = 0;

  LineText() { text[0] = '\0'; }
  size_t room() const { return N - 1 - len; }
  bool add(const char* piece) {
    const size_t n = strlen(piece);
    if (n > room()) return false;
    memcpy(text + len, piece, n + 1);
    len += n;
    return true;
  }
  template <typename... Args>
  bool addf(const char* format, Args... args) {
    char piece[N];
    snprintf(piece, sizeof piece, format, args...);
    return add(piece);
  }
};

// Empties the buffer and sets the geometry and theme of the next frame.
void frame_reset(ScreenFrame& f, int32_t width, int32_t height, const UiTheme& theme);

// Appends text; text that would take the length past kCapacity - 1 is
// dropped whole, so a full buffer never ends in half an escape sequence.
void frame_puts(ScreenFrame& f, const char* text);
void frame_put(ScreenFrame& f, const char* text, size_t n);

// Formats into a 768-byte scratch (cut when longer) and appends it.
void frame_printf(ScreenFrame& f, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Appends text n times.
void frame_repeat(ScreenFrame& f, const char* text, int32_t n);

// Cursor to the first column of row, and clear that row.
void frame_goto_row(ScreenFrame& f, int32_t row);

// frame_row with printf-formatted text (2048-byte scratch).
bool frame_row_printf(ScreenFrame& f, int32_t row, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Copies text for the screen: control bytes (which could move the cursor or
// start an escape sequence) become blanks, and at most max_chars characters
// are kept, never cutting one in half. dst is always zero-terminated.
void copy_printable(char* dst, size_t cap, const char* src, int32_t max_chars);

// Writes the frame to fd, continuing after short writes and interruptions.
void frame_write(const ScreenFrame& f, int fd);

// True when row lies on the screen of this frame.
inline bool frame_has_row(const ScreenFrame& f, int32_t row) {
  return row >= 1 && (f.height <= 0 || row <= f.height);
}

// Appends at most max_cols visible columns of text (escape sequences cost
// nothing, a character is never cut) and returns the columns appended.
int32_t frame_put_clipped(ScreenFrame& f, const char* text, int32_t max_cols);

// A section header row, W + 2 columns wide:  ├─ TITLE ─────────┤
// colour null means bold white. Returns false when the row is off screen.
bool frame_section(ScreenFrame& f, int32_t row, const char* colour, const char* title);

// A content row, W + 2 columns wide:  │text         │
// The text is padded (or cut) to W visible columns, and the right border is
// placed at column W + 2 by address. Returns false when the row is off
// screen.
bool frame_row(ScreenFrame& f, int32_t row, const char* text);

}  // namespace dravik
