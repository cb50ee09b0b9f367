#include "report/records/history/line.h"

#include <cmath>
#include <ctime>
#include <vector>

#include "core/text.h"

namespace dravik {

namespace {

// A JSON string of any text: escaped as the stream escapes, at any length.
std::string json_string(const std::string& text) {
  // json_escape writes at most three bytes for one (U+FFFD for a stray byte).
  std::vector<char> buf(text.size() * 3 + 8);
  json_escape(text.c_str(), buf.data(), buf.size());
  return '"' + std::string(buf.data()) + '"';
}

// Gives the event's "verdict", the key the stream writes second (after
// "event"), the word verdict; a line without one is left as it is.
void set_verdict(std::string& line, const char* verdict) {
  static constexpr char kKey[] = ",\"verdict\":\"";
  const size_t event_end = line.find(',');
  if (verdict == nullptr || event_end == std::string::npos ||
      line.compare(event_end, sizeof kKey - 1, kKey) != 0) {
    return;
  }
  const size_t from = event_end + sizeof kKey - 1;
  const size_t to = line.find('"', from);
  if (to != std::string::npos) line.replace(from, to - from, verdict);
}

}  // namespace

std::string utc_iso8601(double unix_seconds) {
  const time_t t =
      std::isfinite(unix_seconds) && unix_seconds > 0 ? static_cast<time_t>(unix_seconds) : 0;
  tm parts{};
  gmtime_r(&t, &parts);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buf;
}

std::string history_line(const RunOutcome& o) {
  std::string line = o.result_line;
  if (line.size() < 2 || line.front() != '{' || line.back() != '}') {
    line = std::string("{\"event\":\"run_end\",\"verdict\":") +
           (o.verdict != nullptr ? json_string(o.verdict) : "null") + "}";
  }
  set_verdict(line, o.verdict);
  line.pop_back();
  line += ",\"host\":" + json_string(o.host);
  line += ",\"version\":" + json_string(kVersion);
  line += ",\"start\":" + json_string(utc_iso8601(o.start_time));
  line += ",\"options\":[";
  for (size_t i = 0; i < o.options.size(); ++i) {
    if (i > 0) line += ',';
    line += json_string(o.options[i]);
  }
  line += "],\"exit_status\":" + std::to_string(o.exit_status) + "}";
  return line;
}

}  // namespace dravik
