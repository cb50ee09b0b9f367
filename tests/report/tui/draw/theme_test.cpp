// The map cells of both themes: a cell is a glyph drawn in its foreground
// colour, so every state a user must tell apart needs a foreground of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "engine/map/memory_map.h"
#include "report/tui/draw/theme.h"

namespace dravik {
namespace {

// The foreground an SGR string leaves set ("" for the terminal's default):
// "3N"/"9N" for the 16 colours, "38;5;N" for the 256.
std::string foreground_of(const std::string& sgr) {
  std::string fg;
  size_t at = 0;
  while ((at = sgr.find("\033[", at)) != std::string::npos) {
    const size_t end = sgr.find('m', at);
    if (end == std::string::npos) break;
    const std::string params = sgr.substr(at + 2, end - at - 2);
    const int first = std::atoi(params.c_str());
    if (params.rfind("38;5;", 0) == 0 || (first >= 30 && first <= 37) || (first >= 90 && first <= 97)) {
      fg = params;
    }
    at = end + 1;
  }
  return fg;
}

TEST(Theme, EveryStateOnTheMapHasItsOwnVisibleForeground) {
  const int states[] = {static_cast<int>(CellState::active), static_cast<int>(CellState::ok1),
                        static_cast<int>(CellState::ok2),    static_cast<int>(CellState::ok3),
                        static_cast<int>(CellState::ok4),    static_cast<int>(CellState::fault),
                        static_cast<int>(CellState::suspect)};
  for (const UiTheme* theme : {&kAsciiTheme, &kGlyphTheme}) {
    std::map<std::string, int> seen;
    for (int state : states) {
      const std::string fg = foreground_of(theme->cell_colour[state]);
      EXPECT_NE(fg, "") << "state " << state << " glyph " << theme->glyph;
      const auto [it, fresh] = seen.emplace(fg, state);
      EXPECT_TRUE(fresh) << "states " << it->second << " and " << state << " share " << fg
                         << " in glyph theme " << theme->glyph;
    }
  }
}

TEST(Theme, SuspectIsDrawnInAWarningYellow) {
  EXPECT_EQ(foreground_of(kAsciiTheme.cell_colour[static_cast<int>(CellState::suspect)]), "93");
  EXPECT_EQ(foreground_of(kAsciiTheme.cell_colour[static_cast<int>(CellState::fault)]), "91");
}

}  // namespace
}  // namespace dravik
