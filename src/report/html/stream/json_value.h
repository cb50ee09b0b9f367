// A small JSON reader for the lines of an event stream that come from
// outside (a saved file, a torn copy, a stream of another program): it parses
// one line into a tree, refuses anything that is not complete JSON, never
// reads past the line and never nests deeper than it can afford.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravik::html {

struct JsonMember;

struct JsonValue {
  enum class Type : uint8_t { null, boolean, number, string, array, object };
  Type type = Type::null;
  bool flag = false;
  double number = 0.0;
  std::string text;
  std::vector<JsonValue> items;                            // an array's values
  std::vector<JsonMember> members;  // an object's, in their order

  // The member named key of an object; nullptr when there is none or this is
  // not an object.
  const JsonValue* get(std::string_view key) const;
  // A member's value when it has that type; nullopt when it is missing or of
  // another type (a figure that is not a number is no figure).
  std::optional<double> number_of(std::string_view key) const;
  std::optional<std::string> text_of(std::string_view key) const;
  std::optional<bool> flag_of(std::string_view key) const;
  // A number member as a whole count: nullopt when missing, not a number, not
  // whole or outside the range of int64_t.
  std::optional<int64_t> count_of(std::string_view key) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// How deep arrays and objects may nest; deeper input is refused.
inline constexpr int kJsonMaxDepth = 32;

// The value of text (blanks around it allowed); nullopt when text is not one
// complete JSON value. Strings come out as UTF-8: escapes are decoded, a lone
// surrogate and an invalid byte become U+FFFD.
std::optional<JsonValue> parse_json(std::string_view text);

// text as a quoted JSON string: quotes, backslashes and control bytes
// escaped, invalid UTF-8 replaced by U+FFFD.
std::string json_quote(std::string_view text);

}  // namespace dravik::html
