// A small model of a terminal screen for the dashboard tests: it applies the
// escape sequences a frame uses (cursor position, clear line, clear below,
// colours) to a grid, so tests can read rows as a user would see them and
// know which colour each cell was drawn with.
#pragma once
#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace dravik::testing {

class VtScreen {
 public:
  struct Cell {
    std::string ch = " ";
    std::string sgr;  // colour sequences in force since the last reset
  };

  VtScreen(int cols, int rows) : cols_(cols), rows_(rows), grid_(rows, std::vector<Cell>(cols)) {}

  // Applies a frame. Characters written past the right edge are counted in
  // overflow() instead of wrapping.
  void apply(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c == 0x1B && i + 1 < s.size() && s[i + 1] == '[') {
        size_t j = i + 2;
        while (j < s.size() && !(s[j] >= 0x40 && s[j] <= 0x7E)) ++j;
        if (j >= s.size()) break;
        control(s.substr(i, j + 1 - i), s.substr(i + 2, j - i - 2), s[j]);
        i = j + 1;
        continue;
      }
      size_t len = 1;
      while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80) ++len;
      put(std::string(s.substr(i, len)));
      i += len;
    }
  }

  // The visible text of a 1-based row, trailing blanks removed.
  std::string row(int r) const {
    std::string out;
    if (r < 1 || r > rows_) return out;
    for (const Cell& cell : grid_[r - 1]) out += cell.ch;
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  }
  const Cell& cell(int r, int c) const { return grid_[r - 1][c - 1]; }
  // Columns actually written on a row since it was last cleared.
  int written(int r) const { return written_[r - 1]; }
  int overflow() const { return overflow_; }
  // Draws ch as width columns (0 or 2), as some terminals do with glyphs
  // their font lacks or shows emoji-wide.
  void set_width(const std::string& ch, int width) { widths_[ch] = width; }
  // First row whose text contains needle, 0 when none does.
  int find(std::string_view needle) const {
    for (int r = 1; r <= rows_; ++r) {
      if (row(r).find(needle) != std::string::npos) return r;
    }
    return 0;
  }

 private:
  void control(std::string_view whole, std::string_view params, char final) {
    if (!params.empty() && params[0] == '?') return;  // modes: cursor, synchronized output
    if (final == 'H') {
      int r = 1, c = 1;
      const size_t semi = params.find(';');
      if (!params.empty()) r = std::stoi(std::string(params.substr(0, semi)));
      if (semi != std::string_view::npos) c = std::stoi(std::string(params.substr(semi + 1)));
      row_ = std::min(std::max(r, 1), rows_);
      col_ = std::min(std::max(c, 1), cols_ + 1);
    } else if (final == 'G') {
      col_ = std::min(std::max(params.empty() ? 1 : std::stoi(std::string(params)), 1), cols_ + 1);
    } else if (final == 'K') {
      for (int c = col_; c <= cols_; ++c) grid_[row_ - 1][c - 1] = Cell{};
      written_[row_ - 1] = col_ - 1;
    } else if (final == 'J') {
      for (int c = col_; c <= cols_; ++c) grid_[row_ - 1][c - 1] = Cell{};
      for (int r = row_ + 1; r <= rows_; ++r) {
        grid_[r - 1].assign(cols_, Cell{});
        written_[r - 1] = 0;
      }
    } else if (final == 'm') {
      if (params.empty() || params == "0") {
        sgr_.clear();
      } else {
        sgr_ += whole;
      }
    }
  }
  void put(const std::string& ch) {
    const auto w = widths_.find(ch);
    const int width = w == widths_.end() ? 1 : w->second;
    if (width == 0) return;
    if (col_ + width - 1 > cols_) {
      ++overflow_;
      return;
    }
    grid_[row_ - 1][col_ - 1] = Cell{ch, sgr_};
    for (int k = 1; k < width; ++k) grid_[row_ - 1][col_ - 1 + k] = Cell{"", sgr_};
    col_ += width;
    written_[row_ - 1] = std::max(written_[row_ - 1], col_ - 1);
  }

  int cols_, rows_;
  std::vector<std::vector<Cell>> grid_;
  std::vector<int> written_ = std::vector<int>(static_cast<size_t>(rows_), 0);
  int row_ = 1, col_ = 1;
  std::string sgr_;
  int overflow_ = 0;
  std::map<std::string, int> widths_;
};

// Rows a frame moves the cursor to with "ESC[row;1H" (whole-row draws).
inline std::set<int> rows_addressed(std::string_view frame) {
  std::set<int> rows;
  size_t at = 0;
  while ((at = frame.find("\033[", at)) != std::string_view::npos) {
    size_t j = at + 2;
    int r = 0;
    while (j < frame.size() && frame[j] >= '0' && frame[j] <= '9') r = r * 10 + (frame[j++] - '0');
    if (r > 0 && frame.substr(j, 3) == ";1H") rows.insert(r);
    at = j;
  }
  return rows;
}

}  // namespace dravik::testing
