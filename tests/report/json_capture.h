// Helpers for the JSON stream tests: capture the sink's lines in a temporary
// file, and look at keys and number formats of a line.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "report/json_sink.h"

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
  std::smatch m;
  const std::regex re("\"" + key + "\":(-?[0-9]+)(\\.([0-9]+))?[,}]");
  if (!std::regex_search(line, m, re)) return -1;
  return m[3].matched ? static_cast<int>(m[3].length()) : 0;
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

}  // namespace dravik::testing
