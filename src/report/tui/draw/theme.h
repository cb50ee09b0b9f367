// The two looks of the dashboard: ui (boxes that any terminal shows, 16
// colours) and ui2 (glyphs, 256 colours, animation). Every draw picks one by
// the output style, so nothing else in the screen code branches on the style
// except where the two layouts differ.
#pragma once
#include <cstdint>

#include "core/config.h"

namespace dravik {

inline constexpr int kCellStates = 10;  // CellState 0..9; a byte of 10 or more draws as 1

struct UiTheme {
  int32_t glyph;  // 1: the ui2 look
  const char* top_left;
  const char* top_right;
  const char* bottom_left;
  const char* bottom_right;
  const char* horizontal;
  const char* vertical;
  const char* left_tee;
  const char* right_tee;
  const char* cell_colour[kCellStates];
  const char* cell_glyph[kCellStates];
  const char* spinner[8];
  int32_t spinner_frames;
  const char* crit_icon;
  const char* warn_icon;
  const char* info_icon;
  const char* ok_icon;
  const char* memory_icon;  // U+F2DB in ui2, empty in ui
  const char* arrow_icon;   // U+E0B0 in ui2, empty in ui
  const char* bar_filled;
  const char* bar_empty;
  const char* third_background;
  const char* frame_colour;
  const char* dim_colour;
};

extern const UiTheme kAsciiTheme;
extern const UiTheme kGlyphTheme;

// ui2 selects the glyph theme; everything else the ASCII theme.
const UiTheme& ui_theme(OutputStyle style);

// "·" with ui2, "-" otherwise.
const char* dot_separator(OutputStyle style);

// The state a cell byte is drawn as: bytes of 10 or more draw as untested.
inline uint8_t drawn_state(uint8_t byte) { return byte < kCellStates ? byte : 1; }

// Word shown in the legend for states 0..8.
const char* cell_legend_word(int state);

// 17 animations of 16 frames; the STATUS row picks one by the clock.
inline constexpr int kSpinnerSets = 17;
inline constexpr int kSpinnerFrames = 16;
extern const char* const spinner_gallery[kSpinnerSets][kSpinnerFrames];

// The frame of spinner_gallery shown at monotonic time now: the set changes
// every 2.5 s, the frame eight times a second.
const char* spinner_frame(double now);

}  // namespace dravik
