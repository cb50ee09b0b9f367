// Helpers for the JSON stream tests: capture the sink's lines in a temporary
// file, and look at keys and number formats of a line.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cctype>
#include <string>
#include <vector>

#include "report/json/json_sink.h"

namespace dravik::testing {

using ojson = nlohmann::ordered_json;

class JsonCapture {
 public:
  JsonCapture() : file_(tmpfile()) { set_json_output(file_); }
  ~JsonCapture() {
    set_json_output(nullptr);
    if (file_) fclose(file_);
  }
  JsonCapture(const JsonCapture&) = delete;
  JsonCapture& operator=(const JsonCapture&) = delete;

  // Everything written so far.
  std::string text() const {
    std::string all;
    fflush(file_);
    rewind(file_);
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, file_)) > 0) all.append(buf, n);
    fseek(file_, 0, SEEK_END);
    return all;
  }
  // The complete lines written so far (the text must end in a newline).
  std::vector<std::string> lines() const { return split_lines(text()); }

  static std::vector<std::string> split_lines(const std::string& all) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl = all.find('\n'); nl != std::string::npos; nl = all.find('\n', start)) {
      out.push_back(all.substr(start, nl - start));
      start = nl + 1;
    }
    return out;
  }

 private:
  FILE* file_;
};

// Keys of an object in the order they appear.
inline std::vector<std::string> keys_of(const ojson& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}

// Digits after the decimal point of the number written for "key" (the first
// occurrence in the line), 0 for an integer, -1 when the key is missing.
inline int decimals_of(const std::string& line, const std::string& key) {
  const std::string needle = "\"" + key + "\":";
  for (size_t at = line.find(needle); at != std::string::npos; at = line.find(needle, at + 1)) {
    size_t i = at + needle.size();
    if (i < line.size() && line[i] == '-') ++i;
    const size_t int_start = i;
    while (i < line.size() && isdigit(static_cast<unsigned char>(line[i]))) ++i;
    if (i == int_start) continue;  // not a number here: look further
    int decimals = 0;
    if (i < line.size() && line[i] == '.') {
      const size_t frac_start = ++i;
      while (i < line.size() && isdigit(static_cast<unsigned char>(line[i]))) ++i;
      if (i == frac_start) continue;
      decimals = static_cast<int>(i - frac_start);
    }
    if (i < line.size() && (line[i] == ',' || line[i] == '}')) return decimals;
  }
  return -1;
}

}  // namespace dravik::testing

namespace dravik::testing {

// True when the line has no blank, tab or newline outside its strings.
inline bool compact_outside_strings(const std::string& line) {
  bool in_string = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      return false;
    }
  }
  return !in_string;
}

// Checks every number of a line: the keys in float_keys are written with the
// given count of decimals, every other number is a plain integer. Returns a
// description of the first problem, or "" when all is well.
inline std::string check_numbers(const std::string& line,
                                 const std::vector<std::pair<std::string, int>>& float_keys) {
  const ojson j = ojson::parse(line);
  for (const auto& [key, decimals] : float_keys) {
    const int got = decimals_of(line, key);
    if (got != decimals) {
      return key + " has " + std::to_string(got) + " decimals, want " + std::to_string(decimals);
    }
  }
  std::string problem;
  auto visit = [&](const ojson& object, auto&& self) -> void {
    for (auto it = object.begin(); it != object.end(); ++it) {
      if (it->is_object()) {
        self(*it, self);
        continue;
      }
      if (!it->is_number_float()) continue;
      bool listed = false;
      for (const auto& fk : float_keys) listed = listed || fk.first == it.key();
      if (!listed && problem.empty()) problem = it.key() + " is not an integer";
    }
  };
  visit(j, visit);
  return problem;
}

// The documented shape of each event line: its keys in order, the keys of
// its nested objects, and its numbers with fixed decimals.
struct JsonFormat {
  std::string event;
  std::vector<std::string> keys;
  std::vector<std::pair<std::string, std::vector<std::string>>> nested;
  std::vector<std::pair<std::string, int>> floats;
};

inline const std::vector<JsonFormat>& json_formats() {
  static const std::vector<JsonFormat> formats = {
      {"start",
       {"event", "ts", "version", "name", "contact", "forum", "mode", "profile", "mem_total",
        "reserved", "phys", "root", "seed", "flush", "cache", "klog", "cell_legend", "edac_before"},
       {{"cache", {"l1", "l2", "l3"}},
        {"klog", {"available", "source"}},
        {"edac_before", {"ce", "ue"}}},
       {{"ts", 3}}},
      {"map",
       {"event", "cols", "rows", "cells", "bytes_per_cell", "logical", "base", "span",
        "cell_states"},
       {},
       {}},
      {"phase", {"event", "test", "pass", "total_passes", "pct"}, {}, {}},
      {"progress",
       {"event", "covered", "total", "win", "hard", "trans", "elapsed", "pct", "algo", "algo_pct",
        "pass", "total_passes", "paused", "mlock", "sched_nice", "spin", "klog"},
       {{"klog", {"crit", "warn", "info"}}},
       {{"elapsed", 1}, {"pct", 1}}},
      {"cell", {"event", "active_lo", "active_hi", "win"}, {}, {}},
      {"fault",
       {"event", "vaddr", "paddr", "region", "cell", "dimm", "expected", "actual", "xor", "bits",
        "test", "pass", "class", "count", "ts"},
       {},
       {{"ts", 1}}},
      {"pressure",
       {"event", "action", "mem_available", "threshold", "pause_no", "max_pauses", "wait_s"},
       {},
       {{"wait_s", 1}}},
      {"bench_point", {"event", "size", "op", "value"}, {}, {{"value", 3}}},
      {"bench_summary", {"event", "note"}, {}, {}},
      {"summary",
       {"event", "verdict", "hard", "transient", "covered_total", "duration", "end_reason",
        "addressing_suspect", "edac_after", "edac_delta", "klog", "caveat", "unused_module"},
       {{"edac_after", {"ce", "ue"}},
        {"edac_delta", {"ce", "ue"}},
        {"klog", {"source", "crit", "warn", "info", "crit_during", "warn_during"}}},
       {{"duration", 1}}},
      {"log", {"event", "msg", "ts"}, {}, {{"ts", 1}}},
      {"klog", {"event", "level", "tag", "text", "count", "kts"}, {}, {{"kts", 3}}},
  };
  return formats;
}

// Checks one line against its event's format: valid JSON (UTF-8 included),
// compact, keys in order, numbers as documented. Returns "" when it conforms.
inline std::string check_line_format(const std::string& line) {
  ojson j;
  try {
    j = ojson::parse(line);
  } catch (const std::exception& e) {
    return std::string("does not parse: ") + e.what();
  }
  if (!compact_outside_strings(line)) return "blank outside a string";
  if (!j.is_object() || !j.contains("event") || !j["event"].is_string()) return "no event name";
  const std::string event = j["event"];
  for (const JsonFormat& f : json_formats()) {
    if (f.event != event) continue;
    if (keys_of(j) != f.keys) return event + ": keys differ";
    for (const auto& [key, inner] : f.nested) {
      if (!j[key].is_object() || keys_of(j[key]) != inner) return event + ": keys of " + key + " differ";
    }
    return check_numbers(line, f.floats);
  }
  return "unknown event " + event;
}

}  // namespace dravik::testing
