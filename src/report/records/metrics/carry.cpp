#include "report/records/metrics/carry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <vector>

#include "report/records/files/folder_file.h"

namespace dravik {

namespace {

bool name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool name_char(char c) { return name_start(c) || (c >= '0' && c <= '9'); }

// The metric or label name at the front of s, taken off it; "" when there is
// none.
std::string_view take_name(std::string_view& s, bool metric) {
  size_t n = 0;
  if (!s.empty() && (name_start(s[0]) || (metric && s[0] == ':'))) {
    n = 1;
    while (n < s.size() && (name_char(s[n]) || (metric && s[n] == ':'))) ++n;
  }
  const std::string_view name = s.substr(0, n);
  s.remove_prefix(n);
  return name;
}

// {name="value",...} at the front of s, taken off it: false when malformed.
bool take_labels(std::string_view& s) {
  if (s.empty() || s[0] != '{') return true;
  s.remove_prefix(1);
  while (!s.empty() && s[0] != '}') {
    if (take_name(s, false).empty() || s.substr(0, 2) != "=\"") return false;
    s.remove_prefix(2);
    for (;;) {
      if (s.empty()) return false;
      const char c = s[0];
      s.remove_prefix(1);
      if (c == '"') break;
      if (c == '\\') {
        if (s.empty() || (s[0] != '\\' && s[0] != '"' && s[0] != 'n')) return false;
        s.remove_prefix(1);
      }
    }
    if (!s.empty() && s[0] == ',') {
      s.remove_prefix(1);
    } else if (s.empty() || s[0] != '}') {
      return false;
    }
  }
  if (s.empty()) return false;
  s.remove_prefix(1);
  return true;
}

bool is_value(std::string_view s) {
  if (s == "NaN" || s == "+Inf" || s == "-Inf") return true;
  if (s.empty() || s[0] == '+') return false;
  double v = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  // from_chars reads "inf" and "nan" too, which the format spells otherwise.
  return ec == std::errc() && end == s.data() + s.size() &&
         s.find_first_of("iInN") == std::string_view::npos;
}

bool kept_family(std::string_view name) {
  return name.substr(0, 16) == "dravik_last_run_" || name.substr(0, 11) == "dravik_hcl_";
}

}  // namespace

std::string carried_metrics(std::string_view text) {
  if (text.empty() || text.size() > kCarriedMetricsMax || text.back() != '\n') return "";
  for (const char c : text) {
    if (c != '\n' && (c < 0x20 || c > 0x7e)) return "";
  }
  std::string kept;
  std::vector<std::string_view> seen;  // families, each once
  std::string_view family;             // the family of the last TYPE line
  bool help_pending = false;           // a HELP line awaits its TYPE line
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string_view line = text.substr(at, end + 1 - at);
    at = end + 1;
    std::string_view rest = line.substr(0, line.size() - 1);
    if (rest.substr(0, 7) == "# HELP ") {
      rest.remove_prefix(7);
      const std::string_view name = take_name(rest, true);
      if (help_pending || name.substr(0, 7) != "dravik_" || (!rest.empty() && rest[0] != ' ')) {
        return "";
      }
      for (const std::string_view f : seen) {
        if (f == name) return "";
      }
      seen.push_back(name);
      family = name;
      help_pending = true;
    } else if (rest.substr(0, 7) == "# TYPE ") {
      rest.remove_prefix(7);
      if (!help_pending || take_name(rest, true) != family ||
          (rest != " gauge" && rest != " counter")) {
        return "";
      }
      help_pending = false;
    } else {
      if (help_pending || family.empty() || take_name(rest, true) != family ||
          !take_labels(rest) || rest.empty() || rest[0] != ' ' || !is_value(rest.substr(1))) {
        return "";
      }
    }
    if (kept_family(family)) kept.append(line);
  }
  return help_pending ? "" : kept;
}

std::string read_previous_metrics(const std::string& path) {
  Folder folder;
  if (!open_folder_of(path, folder)) return "";
  Descriptor file;
  if (open_regular_at(folder.fd.get(), folder.name, O_RDONLY, 0, file) != Opened::kRegular) {
    return "";
  }
  const int fd = file.get();
  std::string text;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      static_cast<uint64_t>(st.st_size) <= kCarriedMetricsMax) {
    // One byte more than allowed: a file that grew since fstat is refused.
    text.resize(kCarriedMetricsMax + 1);
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = read(fd, text.data() + got, text.size() - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    text.resize(got <= kCarriedMetricsMax ? got : 0);
  }
  return text;
}

}  // namespace dravik
