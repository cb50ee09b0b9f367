// The frame buffer helpers and the themes: overflow, widths of rows and
// section headers, cutting text for the screen, spinner frames.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/text.h"
#include "report/tui/draw/screen_frame.h"
#include "report/tui/draw/theme.h"
#include "report/tui/vt_screen.h"

namespace dravik {
namespace {

using testing::VtScreen;

TEST(ScreenFrameTest, PutsDropsTextThatWouldOverflow) {
  ScreenFrame f;
  frame_reset(f, 20, 10, kAsciiTheme);
  const std::string big(ScreenFrame::kCapacity - 10, 'a');
  frame_puts(f, big.c_str());
  ASSERT_EQ(f.len, big.size());
  frame_puts(f, "0123456789");  // would reach kCapacity: dropped whole
  EXPECT_EQ(f.len, big.size());
  frame_puts(f, "012345678");  // reaches kCapacity - 1 exactly
  EXPECT_EQ(f.len, ScreenFrame::kCapacity - 1);
  EXPECT_EQ(f.text().substr(f.len - 9), "012345678");
  EXPECT_EQ(f.buf[f.len], '\0');
}

TEST(ScreenFrameTest, PrintfCutsAtItsScratch) {
  ScreenFrame f;
  frame_reset(f, 20, 10, kAsciiTheme);
  frame_printf(f, "%s", std::string(2000, 'x').c_str());
  EXPECT_EQ(f.len, 767u);
}

TEST(ScreenFrameTest, RowIsPaddedOrCutToTheInnerWidth) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"", ""},
      {"\033[1;31mé█x\033[0m", "é█x"},
      {"abc\033[0m\033[44m", "abc"},
      {"0123456789012345678901234", "01234567890123456789"},
      {"0123456789012345678\033[31m█▒x", "0123456789012345678█"},
  };
  for (const Case& c : cases) {
    ScreenFrame f;
    frame_reset(f, 20, 10, kGlyphTheme);
    ASSERT_TRUE(frame_row(f, 3, c.text));
    VtScreen vt(22, 10);
    vt.apply(f.text());
    EXPECT_EQ(vt.written(3), 22) << c.text;
    EXPECT_EQ(vt.overflow(), 0);
    std::string want = std::string("│") + c.shown;
    want += std::string(20 - visible_width(c.shown), ' ') + "│";
    EXPECT_EQ(vt.row(3), want);
    EXPECT_EQ(visible_width(std::string(f.text().substr(f.text().find('K') + 1)).c_str()), 22u);
  }
}

TEST(ScreenFrameTest, RightBorderStaysPutWhenTheTerminalDrawsAGlyphWiderOrNarrower) {
  for (int width : {0, 2}) {
    ScreenFrame f;
    frame_reset(f, 20, 10, kGlyphTheme);
    frame_row(f, 3, " PAUSED ⏸ x");
    VtScreen vt(22, 10);
    vt.set_width("⏸", width);
    vt.apply(f.text());
    EXPECT_EQ(vt.cell(3, 22).ch, "│") << width;
    EXPECT_EQ(vt.overflow(), 0);
  }
}

TEST(ScreenFrameTest, RowsBelowTheScreenAreNotDrawn) {
  ScreenFrame f;
  frame_reset(f, 20, 10, kAsciiTheme);
  EXPECT_FALSE(frame_row(f, 11, "x"));
  EXPECT_FALSE(frame_section(f, 11, nullptr, "x"));
  EXPECT_FALSE(frame_row(f, 0, "x"));
  EXPECT_EQ(f.len, 0u);
  EXPECT_TRUE(frame_row(f, 10, "x"));
}

TEST(ScreenFrameTest, SectionIsTwoColumnsWiderThanTheInside) {
  for (const char* title : {"", "PROGRESS", "MEMORY MAP \033[37m96 cells · 1.00MiB/cell",
                            "a title far too long for a box of twenty"}) {
    for (int width : {20, 40}) {
      ScreenFrame f;
      frame_reset(f, width, 10, kGlyphTheme);
      ASSERT_TRUE(frame_section(f, 4, nullptr, title));
      VtScreen vt(width + 2, 10);
      vt.apply(f.text());
      EXPECT_EQ(vt.written(4), width + 2) << title << " W=" << width;
      EXPECT_EQ(vt.overflow(), 0);
      const std::string row = vt.row(4);
      EXPECT_EQ(row.rfind("├─ ", 0), 0u) << row;
      EXPECT_EQ(row.substr(row.size() - strlen("┤")), "┤");
    }
  }
  ScreenFrame f;
  frame_reset(f, 30, 10, kAsciiTheme);
  frame_section(f, 4, nullptr, "STATUS");
  VtScreen vt(32, 10);
  vt.apply(f.text());
  EXPECT_EQ(vt.row(4), "├─ STATUS ─────────────────────┤");
  EXPECT_EQ(vt.cell(4, 4).sgr, std::string(kAsciiTheme.frame_colour) + kBoldWhite);
}

TEST(ScreenFrameTest, CopyPrintableKeepsWholeCharactersAndBlanksControls) {
  struct Case {
    const char* src;
    size_t cap;
    int max_chars;
    const char* want;
  } cases[] = {
      {"plain", 64, 100, "plain"},
      {"a\tb\nc\033[2Jd\x7f", 64, 100, "a b c [2Jd "},
      {"ééé", 64, 2, "éé"},
      {"ééé", 4, 100, "é"},  // the second é would not fit with the terminator
      {"\x80\x80\x80\x80\x80\x80", 4, 100, "\x80\x80\x80"},
      {"abc", 1, 100, ""},
  };
  for (const Case& c : cases) {
    char dst[64];
    memset(dst, 'Z', sizeof dst);
    copy_printable(dst, c.cap, c.src, c.max_chars);
    EXPECT_STREQ(dst, c.want) << c.src;
  }
}

TEST(ThemeTest, SpinnerFramesAndSeparators) {
  EXPECT_STREQ(dot_separator(OutputStyle::glyph_dashboard), "·");
  EXPECT_STREQ(dot_separator(OutputStyle::ascii_dashboard), "-");
  for (const auto& set : spinner_gallery) {
    for (const char* frame : set) EXPECT_EQ(visible_width(frame), &set == &spinner_gallery[15] ? 2u : 1u);
  }
  EXPECT_STREQ(spinner_frame(0.0), "◜");
  EXPECT_STREQ(spinner_frame(3 * 2.5), "⠼");  // set 3, frame 60 & 15 = 12
  EXPECT_STREQ(spinner_frame(17 * 2.5), "◡");  // set 0 again, frame 340 & 15 = 4
  EXPECT_STREQ(kGlyphTheme.memory_icon, "\xEF\x8B\x9B");
  EXPECT_STREQ(kGlyphTheme.arrow_icon, "\xEE\x82\xB0");
  EXPECT_EQ(drawn_state(12), 1);
  EXPECT_EQ(drawn_state(9), 9);
}

}  // namespace
}  // namespace dravik
