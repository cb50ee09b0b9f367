#include "report/tui/draw/theme.h"

#include "report/tui/draw/ansi.h"

namespace dravik {

// The cell glyph is a full block, so a cell shows its foreground colour:
// every state has its own, suspect the yellow of a warning.
const UiTheme kAsciiTheme = {
    0,
    "┌", "┐", "└", "┘",
    "─", "│", "├", "┤",
    {SGR_BG_BRIGHT_BLACK SGR_FG_BRIGHT_BLACK, SGR_BG_BRIGHT_WHITE SGR_FG_BRIGHT_WHITE,
     SGR_BG_BLUE SGR_FG_BLUE, SGR_BG_GREEN SGR_FG_GREEN,
     SGR_BG_BRIGHT_GREEN SGR_FG_BRIGHT_GREEN, SGR_BG_CYAN SGR_FG_CYAN,
     SGR_BG_BRIGHT_CYAN SGR_FG_BRIGHT_CYAN, SGR_BG_BRIGHT_RED SGR_FG_BRIGHT_RED,
     SGR_BG_YELLOW SGR_FG_BRIGHT_YELLOW, SGR_BG_BLUE SGR_FG_BLUE},
    {"█", "█", "█", "█", "█", "█", "█", "█", "█", "█"},
    {"|", "/", "-", "\\", "", "", "", ""},
    4,
    "X", "!", "*", "o",
    "", "",
    SGR_BG_BLUE, SGR_BG_BRIGHT_BLACK, SGR_BG_BLUE,
    SGR_BOLD_BLACK, SGR_FG_WHITE,
};

const UiTheme kGlyphTheme = {
    1,
    "┌", "┐", "└", "┘",
    "─", "│", "├", "┤",
    {SGR_BG256(236) SGR_FG256(236), SGR_BG256(236) SGR_FG256(251),
     SGR_BG256(236) SGR_FG256(17), SGR_BG256(236) SGR_FG256(40),
     SGR_BG256(236) SGR_FG256(118), SGR_BG256(236) SGR_FG256(45),
     SGR_BG256(236) SGR_FG256(36), SGR_BG256(236) SGR_FG256(203),
     SGR_BG256(214) SGR_FG256(232), SGR_BG256(236) SGR_FG256(24)},
    {"▒", "░", "█", "█", "█", "█", "█", "█", "▒", "█"},
    {"⠋", "⠙", "⠹", "⠸", "⠼", "⠤", "⠦", "⠧"},
    8,
    "✖", "⚠", "•", "✓",
    "\uF2DB", "\uE0B0",
    SGR_BG256(34), SGR_BG256(236), SGR_BG256(32),
    SGR_FG256(240), SGR_FG256(245),
};

const UiTheme& ui_theme(OutputStyle style) {
  return style == OutputStyle::glyph_dashboard ? kGlyphTheme : kAsciiTheme;
}

const char* dot_separator(OutputStyle style) {
  return style == OutputStyle::glyph_dashboard ? "·" : "-";
}

const char* cell_legend_word(int state) {
  static const char* const kWords[] = {"reserved", "untested", "active", "ok-1", "ok-2",
                                       "ok-3",     "ok-4",     "FAULT",  "suspect"};
  return state >= 0 && state < 9 ? kWords[state] : "";
}

const char* const spinner_gallery[kSpinnerSets][kSpinnerFrames] = {
    {"◜", "◠", "◝", "◞", "◡", "◟", "◡", "☉", "◠", "⊶", "⊷", "⊶", "⊷", "⊶", "⊷", "◴"},
    {"◷", "◶", "◵", "◐", "◓", "◑", "◒", "◫", "▪", "◫", "▪", "□", "■", "■", "□", "▪"},
    {"✶", "✸", "✹", "✺", "✹", "✷", "✶", "✸", "✹", "✺", "✹", "✷", "✶", "✸", "✹", "✺"},
    {"⠋", "⠙", "⠹", "⠸", "⠼", "⠤", "⠦", "⠧", "⠋", "⠙", "⠹", "⠸", "⠼", "⠤", "⠦", "⠧"},
    {"\u243E", "\u243D", "\u243B", "⠿", "⡟", "\u242F", "␗", "␏",
     "\u243E", "\u243D", "\u243B", "⠿", "⡟", "\u242F", "␗", "␏"},
    {"⠋", "⠙", "⠚", "⠞", "⠖", "⠦", "⠴", "⠲", "⠳", "⠓", "⠋", "⠙", "⠚", "⠞", "⠖", "⠦"},
    {"⠄", "⠆", "⠇", "⠋", "⠙", "⠸", "⠰", "⠠", "⠰", "⠸", "⠙", "⠋", "⠇", "⠆", "⠄", "⠆"},
    {"⠋", "⠙", "⠚", "⠒", "⠂", "⠂", "⠒", "⠲", "⠴", "⠦", "⠖", "⠓", "⠑", "⠑", "⠒", "⠓"},
    {"⠁", "⠉", "⠙", "⠚", "⠒", "⠂", "⠂", "⠒", "⠲", "⠴", "⠤", "⠄", "⠄", "⠤", "⠴", "⠒"},
    {"⠈", "⠉", "⠋", "⠓", "⠒", "⠐", "⠐", "⠒", "⠖", "⠦", "⠤", "⠠", "⠠", "⠤", "⠦", "⠒"},
    {"⠁", "⠁", "⠉", "⠙", "⠚", "⠒", "⠂", "⠂", "⠒", "⠲", "⠴", "⠤", "⠄", "⠄", "⠤", "⠦"},
    {"⢹", "⢺", "⢼", "⣈", "⣇", "⡧", "⡗", "⡏", "⢹", "⢺", "⢼", "⣈", "⣇", "⡧", "⡗", "⡏"},
    {"⢄", "⢂", "⢁", "⡁", "⡈", "⡐", "⡠", "⢄", "⢂", "⢁", "⡁", "⡈", "⡐", "⡠", "⢄", "⢂"},
    {"⠁", "⠂", "⠄", "⡀", "⢀", "⠠", "⠐", "⠈", "⠠", "⠐", "⠈", "⠁", "⠂", "⠄", "⡀", "⢀"},
    {"⣼", "⣹", "⢻", "⠿", "⡟", "␏", "␧", "\u2436", "⣼", "⣹", "⢻", "⠿", "⡟", "␏", "␧", "\u2436"},
    {"⢎ ", "⠎⠁", "⠊⠑", "⠈⠱", " ⡱", "⢀⡰", "⢄⡠", "⢆⡀", "⢎ ", "⠎⠁", "⠊⠑", "⠈⠱", " ⡱", "⢀⡰", "⢄⡠", "⢆⡀"},
    {"⠷", "⠿", "⠿", "⢛", "⠛", "⡛", "⠉", "⠋", "⠍", "⡉", "⠑", "⠡", "⠡", "⠑", "⠉", "⠋"},
};

const char* spinner_frame(double now) {
  // The monotonic clock is never negative and stays far below the range of
  // a 64-bit integer; anything else (a NaN) shows the first frame.
  if (!(now >= 0.0 && now < 1e15)) return spinner_gallery[0][0];
  const int64_t set = static_cast<int64_t>(now / 2.5) % kSpinnerSets;
  const int64_t frame = static_cast<int64_t>(now * 8.0) & (kSpinnerFrames - 1);
  return spinner_gallery[set][frame];
}

}  // namespace dravik
