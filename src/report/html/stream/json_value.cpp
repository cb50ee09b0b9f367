#include "report/html/stream/json_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "report/html/stream/utf8.h"

namespace dravik::html {

namespace {

// Longest number text read (digits, sign, point, exponent): a longer one is
// refused rather than copied.
constexpr size_t kMaxNumberText = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  std::optional<JsonValue> document() {
    JsonValue v;
    skip_blanks();
    if (!value(v, 0)) return std::nullopt;
    skip_blanks();
    if (i_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  std::string_view s_;
  size_t i_ = 0;

  bool at_end() const { return i_ >= s_.size(); }
  char peek() const { return at_end() ? '\0' : s_[i_]; }

  void skip_blanks() {
    while (!at_end() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }

  bool word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }

  bool value(JsonValue& v, int depth) {
    switch (peek()) {
      case '{': return object(v, depth + 1);
      case '[': return array(v, depth + 1);
      case '"': v.type = JsonValue::Type::string; return string(v.text);
      case 't': v.type = JsonValue::Type::boolean; v.flag = true; return word("true");
      case 'f': v.type = JsonValue::Type::boolean; v.flag = false; return word("false");
      case 'n': v.type = JsonValue::Type::null; return word("null");
      default: v.type = JsonValue::Type::number; return number(v.number);
    }
  }

  bool object(JsonValue& v, int depth) {
    if (depth > kJsonMaxDepth) return false;
    v.type = JsonValue::Type::object;
    ++i_;
    skip_blanks();
    if (peek() == '}') {
      ++i_;
      return true;
    }
    for (;;) {
      skip_blanks();
      std::string key;
      if (peek() != '"' || !string(key)) return false;
      skip_blanks();
      if (peek() != ':') return false;
      ++i_;
      skip_blanks();
      JsonValue member;
      if (!value(member, depth)) return false;
      v.members.push_back(JsonMember{std::move(key), std::move(member)});
      skip_blanks();
      if (peek() == ',') {
        ++i_;
        continue;
      }
      if (peek() != '}') return false;
      ++i_;
      return true;
    }
  }

  bool array(JsonValue& v, int depth) {
    if (depth > kJsonMaxDepth) return false;
    v.type = JsonValue::Type::array;
    ++i_;
    skip_blanks();
    if (peek() == ']') {
      ++i_;
      return true;
    }
    for (;;) {
      skip_blanks();
      JsonValue item;
      if (!value(item, depth)) return false;
      v.items.push_back(std::move(item));
      skip_blanks();
      if (peek() == ',') {
        ++i_;
        continue;
      }
      if (peek() != ']') return false;
      ++i_;
      return true;
    }
  }

  bool hex4(uint32_t* out) {
    if (i_ + 4 > s_.size()) return false;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
      else return false;
    }
    *out = v;
    return true;
  }

  bool escape(std::string& out) {
    if (at_end()) return false;
    const char c = s_[i_++];
    switch (c) {
      case '"': out += '"'; return true;
      case '\\': out += '\\'; return true;
      case '/': out += '/'; return true;
      case 'b': out += '\b'; return true;
      case 'f': out += '\f'; return true;
      case 'n': out += '\n'; return true;
      case 'r': out += '\r'; return true;
      case 't': out += '\t'; return true;
      case 'u': break;
      default: return false;
    }
    uint32_t cp = 0;
    if (!hex4(&cp)) return false;
    // A high surrogate followed by a low one is one code point; any other
    // surrogate stands alone and becomes U+FFFD.
    if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(i_, 2) == "\\u") {
      const size_t back = i_;
      i_ += 2;
      uint32_t low = 0;
      if (hex4(&low) && low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      } else {
        i_ = back;
      }
    }
    append_code_point(out, cp);
    return true;
  }

  bool string(std::string& out) {
    ++i_;  // the opening quote
    std::string raw;
    while (!at_end()) {
      const char c = s_[i_];
      if (c == '"') {
        ++i_;
        out = valid_utf8(raw);
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        ++i_;
        if (!escape(raw)) return false;
        continue;
      }
      raw += c;
      ++i_;
    }
    return false;
  }

  bool number(double& out) {
    const size_t start = i_;
    if (peek() == '-') ++i_;
    if (peek() == '0') {
      ++i_;
    } else if (peek() >= '1' && peek() <= '9') {
      while (peek() >= '0' && peek() <= '9') ++i_;
    } else {
      return false;
    }
    if (peek() == '.') {
      ++i_;
      if (!(peek() >= '0' && peek() <= '9')) return false;
      while (peek() >= '0' && peek() <= '9') ++i_;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++i_;
      if (peek() == '+' || peek() == '-') ++i_;
      if (!(peek() >= '0' && peek() <= '9')) return false;
      while (peek() >= '0' && peek() <= '9') ++i_;
    }
    if (i_ - start > kMaxNumberText) return false;
    const std::string text(s_.substr(start, i_ - start));
    out = strtod(text.c_str(), nullptr);
    // A number too large for a double is no figure.
    return std::isfinite(out);
  }
};

}  // namespace

const JsonValue* JsonValue::get(std::string_view key) const {
  if (type != Type::object) return nullptr;
  // A key given twice: the last one counts, as most readers do.
  const JsonValue* found = nullptr;
  for (const auto& [name, value] : members) {
    if (name == key) found = &value;
  }
  return found;
}

std::optional<double> JsonValue::number_of(std::string_view key) const {
  const JsonValue* v = get(key);
  if (v == nullptr || v->type != Type::number) return std::nullopt;
  return v->number;
}

std::optional<std::string> JsonValue::text_of(std::string_view key) const {
  const JsonValue* v = get(key);
  if (v == nullptr || v->type != Type::string) return std::nullopt;
  return v->text;
}

std::optional<bool> JsonValue::flag_of(std::string_view key) const {
  const JsonValue* v = get(key);
  if (v == nullptr || v->type != Type::boolean) return std::nullopt;
  return v->flag;
}

std::optional<int64_t> JsonValue::count_of(std::string_view key) const {
  const std::optional<double> n = number_of(key);
  // 2^63 is the first double past int64_t's range.
  if (!n || *n != std::floor(*n) || *n < -9223372036854775808.0 || *n >= 9223372036854775808.0) {
    return std::nullopt;
  }
  return static_cast<int64_t>(*n);
}

std::optional<JsonValue> parse_json(std::string_view text) { return Parser(text).document(); }

std::string json_quote(std::string_view text) {
  const std::string clean = valid_utf8(text);
  std::string out = "\"";
  for (const char c : clean) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u == 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace dravik::html
