// Text for the page: every string from a stream goes through esc() before
// it is written, and figures are written by the few formatters here, so two
// sections never show one figure two ways.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dravik::html {

// text escaped for HTML content and attribute values (& < > " '), as valid
// UTF-8; control bytes other than tab and newline are dropped.
std::string esc(std::string_view text);

// value with the given number of decimals ("12.35"); "-" when not finite.
std::string fixed(double value, int decimals);

// A byte count in units of 1024 ("512 B", "1.00 KiB", ... "PiB"), as the
// console summary writes it but with a space.
std::string bytes_text(double bytes);

// Seconds as "1 h 02 min 03 s", "4 min 05 s" or "12.3 s".
std::string duration_text(double seconds);

// A whole count with thin grouping of thousands ("4 096").
std::string count_text(int64_t n);

// The words a page writes where the stream had no figure.
inline constexpr const char* kMissing = "not in the stream";

// "<span class=\"missing\">not in the stream</span>"
std::string missing();

// Appends <tr><th>label</th><td>value_html</td></tr>; value_html is already
// escaped HTML. A non-empty id names the value's cell.
void fact_row(std::string& out, std::string_view label, const std::string& value_html,
              std::string_view id = "");

// A CSS class for a status word ("pass", "warn", "fail", "info"): the
// colour only repeats the word written beside it.
const char* status_class(std::string_view word);

// A status word with its colour: <span class="tag CLASS">WORD</span>.
std::string status_tag(std::string_view word);

}  // namespace dravik::html
