#include "cli/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <variant>

namespace pel_mora::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// Deep enough for any argument a person types; shallow enough that the recursive descent (and
// the recursive destruction of the value) cannot exhaust the stack.
constexpr int kMaxNestingDepth = 256;

// Thrown inside the parser only; ParseJson turns it into the result's error line.
class JsonSyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends the UTF-8 form of a code point (at most U+10FFFF, never a surrogate).
void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

// The length of the well-formed UTF-8 sequence at text[position], or 0 when the bytes there are
// not one (overlong forms, encoded surrogates and values above U+10FFFF included).
size_t Utf8SequenceLength(std::string_view text, size_t position) {
  const auto byte_at = [&](size_t index) -> uint8_t {
    return index < text.size() ? static_cast<uint8_t>(text[index]) : 0;
  };
  const uint8_t lead = byte_at(position);
  const auto is_continuation = [](uint8_t byte) { return (byte & 0xC0) == 0x80; };
  if (lead < 0x80) {
    return position < text.size() ? 1 : 0;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    return is_continuation(byte_at(position + 1)) ? 2 : 0;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    const uint8_t second = byte_at(position + 1);
    // E0 needs A0..BF (no overlong form); ED needs 80..9F (no surrogates).
    const uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
    const uint8_t high = lead == 0xED ? 0x9F : 0xBF;
    if (second < low || second > high || !is_continuation(byte_at(position + 2))) {
      return 0;
    }
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const uint8_t second = byte_at(position + 1);
    // F0 needs 90..BF (no overlong form); F4 needs 80..8F (nothing above U+10FFFF).
    const uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
    const uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high || !is_continuation(byte_at(position + 2)) ||
        !is_continuation(byte_at(position + 3))) {
      return 0;
    }
    return 4;
  }
  return 0;
}

class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  EncodableValue ParseDocument() {
    SkipWhitespace();
    EncodableValue value = ParseValue(0);
    SkipWhitespace();
    if (position_ < text_.size()) {
      Fail("unexpected " + Describe(position_) + " after the value");
    }
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const { FailAt(position_, what); }

  [[noreturn]] void FailAt(size_t position, const std::string& what) const {
    size_t line = 1;
    size_t line_start = 0;
    for (size_t index = 0; index < position && index < text_.size(); ++index) {
      if (text_[index] == '\n') {
        ++line;
        line_start = index + 1;
      }
    }
    throw JsonSyntaxError(what + " at line " + std::to_string(line) + ", column " +
                          std::to_string(position - line_start + 1));
  }

  // Names what stands at a position, for error lines.
  std::string Describe(size_t position) const {
    if (position >= text_.size()) {
      return "end of input";
    }
    const auto byte = static_cast<unsigned char>(text_[position]);
    if (byte >= 0x20 && byte < 0x7F) {
      return std::string("character '") + static_cast<char>(byte) + "'";
    }
    static constexpr char kHexDigits[] = "0123456789abcdef";
    return std::string("byte 0x") + kHexDigits[byte >> 4] + kHexDigits[byte & 0xF];
  }

  bool AtEnd() const { return position_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[position_]; }

  void SkipWhitespace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++position_;
    }
  }

  void Expect(char wanted, const char* context) {
    if (Peek() != wanted || AtEnd()) {
      Fail(std::string("expected '") + wanted + "' " + context + ", found " + Describe(position_));
    }
    ++position_;
  }

  EncodableValue ParseValue(int depth) {
    if (AtEnd()) {
      Fail("expected a value, found end of input");
    }
    switch (Peek()) {
      case '{':
        return ParseObject(depth + 1);
      case '[':
        return ParseArray(depth + 1);
      case '"':
        return EncodableValue(ParseString());
      case 't':
        ParseLiteral("true");
        return EncodableValue(true);
      case 'f':
        ParseLiteral("false");
        return EncodableValue(false);
      case 'n':
        ParseLiteral("null");
        return EncodableValue();
      default:
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) {
          return ParseNumber();
        }
        Fail("expected a value, found " + Describe(position_));
    }
  }

  void ParseLiteral(std::string_view literal) {
    if (text_.substr(position_, literal.size()) != literal) {
      Fail("expected a value, found " + Describe(position_));
    }
    position_ += literal.size();
  }

  EncodableValue ParseObject(int depth) {
    if (depth > kMaxNestingDepth) {
      Fail("nesting deeper than " + std::to_string(kMaxNestingDepth) + " levels");
    }
    ++position_;  // '{'
    EncodableMap map;
    SkipWhitespace();
    if (Peek() == '}' && !AtEnd()) {
      ++position_;
      return EncodableValue(std::move(map));
    }
    while (true) {
      SkipWhitespace();
      const size_t key_position = position_;
      if (Peek() != '"' || AtEnd()) {
        Fail("expected a string key, found " + Describe(position_));
      }
      std::string key = ParseString();
      SkipWhitespace();
      Expect(':', "after an object key");
      SkipWhitespace();
      EncodableValue member = ParseValue(depth);
      const bool inserted = map.emplace(EncodableValue(key), std::move(member)).second;
      if (!inserted) {
        FailAt(key_position, "duplicate key \"" + key + "\"");
      }
      SkipWhitespace();
      if (Peek() == ',' && !AtEnd()) {
        ++position_;
        continue;
      }
      Expect('}', "or ',' in an object");
      return EncodableValue(std::move(map));
    }
  }

  EncodableValue ParseArray(int depth) {
    if (depth > kMaxNestingDepth) {
      Fail("nesting deeper than " + std::to_string(kMaxNestingDepth) + " levels");
    }
    ++position_;  // '['
    EncodableList list;
    SkipWhitespace();
    if (Peek() == ']' && !AtEnd()) {
      ++position_;
      return EncodableValue(std::move(list));
    }
    while (true) {
      SkipWhitespace();
      list.push_back(ParseValue(depth));
      SkipWhitespace();
      if (Peek() == ',' && !AtEnd()) {
        ++position_;
        continue;
      }
      Expect(']', "or ',' in an array");
      return EncodableValue(std::move(list));
    }
  }

  // Four hex digits of a \u escape, at position_.
  uint32_t ParseHexQuad() {
    uint32_t value = 0;
    for (int digit = 0; digit < 4; ++digit) {
      const char character = Peek();
      uint32_t nibble = 0;
      if (AtEnd()) {
        Fail("incomplete \\u escape");
      } else if (character >= '0' && character <= '9') {
        nibble = static_cast<uint32_t>(character - '0');
      } else if (character >= 'a' && character <= 'f') {
        nibble = static_cast<uint32_t>(character - 'a' + 10);
      } else if (character >= 'A' && character <= 'F') {
        nibble = static_cast<uint32_t>(character - 'A' + 10);
      } else {
        Fail("expected a hex digit in a \\u escape, found " + Describe(position_));
      }
      value = (value << 4) | nibble;
      ++position_;
    }
    return value;
  }

  std::string ParseString() {
    const size_t opening = position_;
    ++position_;  // '"'
    std::string out;
    while (true) {
      if (AtEnd()) {
        FailAt(opening, "unterminated string");
      }
      const auto byte = static_cast<unsigned char>(Peek());
      if (byte == '"') {
        ++position_;
        return out;
      }
      if (byte < 0x20) {
        Fail("control character " + Describe(position_) + " in a string (write it as an escape)");
      }
      if (byte == '\\') {
        ParseEscape(&out);
        continue;
      }
      const size_t length = Utf8SequenceLength(text_, position_);
      if (length == 0) {
        Fail("invalid UTF-8 in a string");
      }
      out.append(text_.substr(position_, length));
      position_ += length;
    }
  }

  void ParseEscape(std::string* out) {
    const size_t escape_start = position_;
    ++position_;  // '\'
    const char kind = Peek();
    if (AtEnd()) {
      FailAt(escape_start, "incomplete escape");
    }
    ++position_;
    switch (kind) {
      case '"': out->push_back('"'); return;
      case '\\': out->push_back('\\'); return;
      case '/': out->push_back('/'); return;
      case 'b': out->push_back('\b'); return;
      case 'f': out->push_back('\f'); return;
      case 'n': out->push_back('\n'); return;
      case 'r': out->push_back('\r'); return;
      case 't': out->push_back('\t'); return;
      case 'u': break;
      default:
        FailAt(escape_start, "invalid escape '\\" + std::string(1, kind) + "'");
    }
    uint32_t code_point = ParseHexQuad();
    if (code_point >= 0xDC00 && code_point <= 0xDFFF) {
      FailAt(escape_start, "unpaired low surrogate in a \\u escape");
    }
    if (code_point >= 0xD800 && code_point <= 0xDBFF) {
      // A high surrogate only means something together with the low one that must follow.
      if (text_.substr(position_, 2) != "\\u") {
        FailAt(escape_start, "unpaired high surrogate in a \\u escape");
      }
      position_ += 2;
      const uint32_t low = ParseHexQuad();
      if (low < 0xDC00 || low > 0xDFFF) {
        FailAt(escape_start, "unpaired high surrogate in a \\u escape");
      }
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(code_point, out);
  }

  EncodableValue ParseNumber() {
    const size_t start = position_;
    const auto is_digit = [this] { return !AtEnd() && Peek() >= '0' && Peek() <= '9'; };
    if (Peek() == '-') {
      ++position_;
    }
    if (!is_digit()) {
      Fail("expected a digit, found " + Describe(position_));
    }
    if (Peek() == '0') {
      ++position_;
      if (is_digit()) {
        FailAt(start, "number with a leading zero");
      }
    } else {
      while (is_digit()) {
        ++position_;
      }
    }
    bool integral = true;
    if (Peek() == '.' && !AtEnd()) {
      integral = false;
      ++position_;
      if (!is_digit()) {
        Fail("expected a digit after the decimal point, found " + Describe(position_));
      }
      while (is_digit()) {
        ++position_;
      }
    }
    if ((Peek() == 'e' || Peek() == 'E') && !AtEnd()) {
      integral = false;
      ++position_;
      if (Peek() == '+' || Peek() == '-') {
        ++position_;
      }
      if (!is_digit()) {
        Fail("expected a digit in the exponent, found " + Describe(position_));
      }
      while (is_digit()) {
        ++position_;
      }
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + position_;
    const std::string literal(first, last);
    if (integral) {
      int64_t number = 0;
      const auto [end, error] = std::from_chars(first, last, number);
      if (error != std::errc() || end != last) {
        FailAt(start, "integer " + literal + " does not fit in 64 bits");
      }
      if (number >= std::numeric_limits<int32_t>::min() && number <= std::numeric_limits<int32_t>::max()) {
        return EncodableValue(static_cast<int32_t>(number));
      }
      return EncodableValue(number);
    }
    // from_chars, unlike strtod, ignores the locale: a decimal point is always '.'.
    double number = 0;
    const auto [end, error] = std::from_chars(first, last, number);
    if (error == std::errc::result_out_of_range) {
      // from_chars leaves the number untouched either way, so the literal itself tells a
      // harmless underflow (to zero) from an overflow, which no double can hold.
      if (IsUnderflow(literal)) {
        return EncodableValue(literal.front() == '-' ? -0.0 : 0.0);
      }
      FailAt(start, "number " + literal + " is out of range");
    }
    if (error != std::errc() || end != last) {
      FailAt(start, "invalid number " + literal);
    }
    return EncodableValue(number);
  }

  // For a well-formed literal that a double cannot hold: true when its magnitude is tiny rather
  // than huge, judged by the decimal exponent of its first significant digit.
  static bool IsUnderflow(const std::string& literal) {
    const size_t exponent_mark = literal.find_first_of("eE");
    const std::string mantissa = literal.substr(0, exponent_mark);
    int64_t exponent = 0;
    if (exponent_mark != std::string::npos) {
      const char* digits = literal.data() + exponent_mark + 1;
      if (*digits == '+') {
        ++digits;
      }
      // Saturates instead of failing: only the sign of the sum below matters.
      if (std::from_chars(digits, literal.data() + literal.size(), exponent).ec != std::errc()) {
        exponent = literal[exponent_mark + 1] == '-' ? -1'000'000'000 : 1'000'000'000;
      }
    }
    const size_t point = mantissa.find('.');
    const std::string whole = mantissa.substr(mantissa[0] == '-' ? 1 : 0, point - (mantissa[0] == '-' ? 1 : 0));
    if (whole != "0") {
      return exponent + static_cast<int64_t>(whole.size()) - 1 < 0;
    }
    const std::string fraction = point == std::string::npos ? std::string() : mantissa.substr(point + 1);
    const size_t first_significant = fraction.find_first_not_of('0');
    return exponent - static_cast<int64_t>(first_significant) - 1 < 0;
  }

  std::string_view text_;
  size_t position_ = 0;
};

class JsonWriter {
 public:
  JsonWriter(JsonLayout layout, std::string* out) : layout_(layout), out_(out) {}

  void Write(const EncodableValue& value, int depth) {
    std::visit([&](const auto& alternative) { WriteAlternative(alternative, depth); },
               static_cast<const flutter::EncodableValueVariant&>(value));
  }

 private:
  void WriteAlternative(const flutter::EncodableNull&, int) { out_->append("null"); }
  void WriteAlternative(bool value, int) { out_->append(value ? "true" : "false"); }
  void WriteAlternative(int32_t value, int) { out_->append(std::to_string(value)); }
  void WriteAlternative(int64_t value, int) { out_->append(std::to_string(value)); }
  void WriteAlternative(double value, int) { WriteDouble(value); }
  void WriteAlternative(const std::string& value, int) { WriteString(value); }
  void WriteAlternative(const flutter::CustomEncodableValue&, int) { out_->append("null"); }

  template <typename Number>
  void WriteAlternative(const std::vector<Number>& numbers, int depth) {
    WriteSequence(numbers.size(), depth, [&](size_t index) {
      if constexpr (std::is_floating_point_v<Number>) {
        WriteDouble(static_cast<double>(numbers[index]));
      } else {
        out_->append(std::to_string(numbers[index]));
      }
    });
  }

  void WriteAlternative(const EncodableList& list, int depth) {
    WriteSequence(list.size(), depth, [&](size_t index) { Write(list[index], depth + 1); });
  }

  void WriteAlternative(const EncodableMap& map, int depth) {
    bool string_keys = true;
    for (const auto& [key, member] : map) {
      string_keys = string_keys && std::holds_alternative<std::string>(key);
    }
    if (!string_keys) {
      // Pairs keep every entry and its key's own type; an object would merge 1 and "1".
      auto entry = map.begin();
      WriteSequence(map.size(), depth, [&](size_t) {
        const EncodableList pair{entry->first, entry->second};
        ++entry;
        Write(EncodableValue(pair), depth + 1);
      });
      return;
    }
    if (map.empty()) {
      out_->append("{}");
      return;
    }
    out_->push_back('{');
    bool first = true;
    for (const auto& [key, member] : map) {
      if (!first) {
        out_->push_back(',');
      }
      first = false;
      NewLine(depth + 1);
      WriteString(std::get<std::string>(key));
      out_->append(layout_ == JsonLayout::kIndented ? ": " : ":");
      Write(member, depth + 1);
    }
    NewLine(depth);
    out_->push_back('}');
  }

  template <typename WriteElement>
  void WriteSequence(size_t count, int depth, WriteElement write_element) {
    if (count == 0) {
      out_->append("[]");
      return;
    }
    out_->push_back('[');
    for (size_t index = 0; index < count; ++index) {
      if (index > 0) {
        out_->push_back(',');
      }
      NewLine(depth + 1);
      write_element(index);
    }
    NewLine(depth);
    out_->push_back(']');
  }

  void NewLine(int depth) {
    if (layout_ == JsonLayout::kIndented) {
      out_->push_back('\n');
      out_->append(static_cast<size_t>(depth) * 2, ' ');
    }
  }

  void WriteDouble(double value) {
    if (std::isnan(value)) {
      out_->append("\"NaN\"");
      return;
    }
    if (std::isinf(value)) {
      out_->append(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
      return;
    }
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof(buffer), value);
    if (error != std::errc()) {
      // Cannot happen for a finite double and 64 bytes; written defensively all the same.
      out_->append("null");
      return;
    }
    const std::string_view text(buffer, static_cast<size_t>(end - buffer));
    out_->append(text);
    if (text.find_first_of(".e") == std::string_view::npos) {
      out_->append(".0");
    }
  }

  void WriteString(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out_->push_back('"');
    size_t position = 0;
    while (position < text.size()) {
      const auto byte = static_cast<unsigned char>(text[position]);
      switch (byte) {
        case '"': out_->append("\\\""); ++position; continue;
        case '\\': out_->append("\\\\"); ++position; continue;
        case '\b': out_->append("\\b"); ++position; continue;
        case '\f': out_->append("\\f"); ++position; continue;
        case '\n': out_->append("\\n"); ++position; continue;
        case '\r': out_->append("\\r"); ++position; continue;
        case '\t': out_->append("\\t"); ++position; continue;
        default: break;
      }
      if (byte < 0x20) {
        out_->append("\\u00");
        out_->push_back(kHexDigits[byte >> 4]);
        out_->push_back(kHexDigits[byte & 0xF]);
        ++position;
        continue;
      }
      const size_t length = Utf8SequenceLength(text, position);
      if (length == 0) {
        // One replacement per bad byte, so the output stays valid and the damage visible.
        out_->append("\\ufffd");
        ++position;
        continue;
      }
      out_->append(text.substr(position, length));
      position += length;
    }
    out_->push_back('"');
  }

  JsonLayout layout_;
  std::string* out_;
};

}  // namespace

JsonParseResult ParseJson(std::string_view text) {
  JsonParseResult result;
  try {
    result.value = JsonParser(text).ParseDocument();
  } catch (const JsonSyntaxError& error) {
    result.value = EncodableValue();
    result.error = error.what();
  }
  return result;
}

std::string FormatJson(const flutter::EncodableValue& value, JsonLayout layout) {
  std::string out;
  JsonWriter(layout, &out).Write(value, 0);
  return out;
}

}  // namespace pel_mora::cli
