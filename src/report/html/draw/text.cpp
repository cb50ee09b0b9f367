#include "report/html/draw/text.h"

#include <cmath>
#include <cstdio>

#include "report/html/stream/utf8.h"

namespace dravik::html {

std::string esc(std::string_view text) {
  const std::string clean = valid_utf8(text);
  std::string out;
  out.reserve(clean.size() + 16);
  for (const char c : clean) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\t':
      case '\n': out += c; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
        break;
    }
  }
  return out;
}

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "-";
  char buf[64];
  snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string bytes_text(double bytes) {
  if (!std::isfinite(bytes) || bytes < 0.0) return "-";
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  int unit = 0;
  while (bytes >= 1024.0 && unit < 5) {
    bytes /= 1024.0;
    ++unit;
  }
  char buf[64];
  if (unit == 0) snprintf(buf, sizeof buf, "%.0f B", bytes);
  else snprintf(buf, sizeof buf, "%.2f %s", bytes, kUnits[unit]);
  return buf;
}

std::string duration_text(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0.0) return "-";
  char buf[64];
  if (seconds < 60.0) {
    snprintf(buf, sizeof buf, "%.1f s", seconds);
    return buf;
  }
  const double whole = std::floor(seconds + 0.5);
  if (whole >= 1e12) return fixed(seconds, 0) + " s";
  const auto total = static_cast<int64_t>(whole);
  const int64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
  if (h > 0) {
    snprintf(buf, sizeof buf, "%lld h %02lld min %02lld s", static_cast<long long>(h),
             static_cast<long long>(m), static_cast<long long>(s));
  } else {
    snprintf(buf, sizeof buf, "%lld min %02lld s", static_cast<long long>(m),
             static_cast<long long>(s));
  }
  return buf;
}

std::string count_text(int64_t n) {
  std::string digits = std::to_string(n);
  const size_t first = digits[0] == '-' ? 1 : 0;
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > first && (digits.size() - i) % 3 == 0) out += "\u2009";
    out += digits[i];
  }
  return out;
}

std::string missing() { return std::string("<span class=\"missing\">") + kMissing + "</span>"; }

void fact_row(std::string& out, std::string_view label, const std::string& value_html,
              std::string_view id) {
  out += "<tr><th>";
  out += esc(label);
  out += id.empty() ? "</th><td>" : "</th><td id=\"" + esc(id) + "\">";
  out += value_html;
  out += "</td></tr>\n";
}

const char* status_class(std::string_view w) {
  if (w == "PASS" || w == "pass" || w == "done" || w == "ok" || w == "clean") return "pass";
  if (w == "FAIL" || w == "fail" || w == "hard" || w == "crit" || w == "ERRORS") return "fail";
  if (w == "PASS-UNQUALIFIED" || w == "PASS_WITH_TRANSIENTS" || w == "MARGINAL" ||
      w == "marginal" || w == "SUSPECT" || w == "INCONCLUSIVE" || w == "inconclusive" ||
      w == "transient" || w == "warn" || w == "skipped" || w == "unqualified") {
    return "warn";
  }
  return "info";
}

std::string status_tag(std::string_view word) {
  return std::string("<span class=\"tag ") + status_class(word) + "\">" + esc(word) + "</span>";
}

}  // namespace dravik::html
