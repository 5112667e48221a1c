#include "cli/common/json.h"

#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace pel_mora::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Json = nlohmann::json;

// Deep enough for any argument a person types. The library parses without recursion, but the
// value built from it is destroyed recursively, so the depth stays bounded.
constexpr size_t kMaxNestingDepth = 256;

// Line and column (counted in bytes from 1) of a byte offset, for error lines.
std::string DescribePosition(std::string_view text, size_t offset) {
  size_t line = 1;
  size_t line_start = 0;
  for (size_t index = 0; index < offset && index < text.size(); ++index) {
    if (text[index] == '\n') {
      ++line;
      line_start = index + 1;
    }
  }
  return " at line " + std::to_string(line) + ", column " + std::to_string(offset - line_start + 1);
}

// Names what stands at an offset: a printable character, a byte in hexadecimal, or the end.
std::string DescribeByte(std::string_view text, size_t offset) {
  if (offset >= text.size()) {
    return "end of input";
  }
  const auto byte = static_cast<unsigned char>(text[offset]);
  if (byte >= 0x20 && byte < 0x7F) {
    return std::string("character '") + static_cast<char>(byte) + "'";
  }
  static constexpr char kHexDigits[] = "0123456789abcdef";
  return std::string("byte 0x") + kHexDigits[byte >> 4] + kHexDigits[byte & 0xF];
}

// The offset of the quote that opens the string ending just before `end` (exclusive): the last
// quote before it that no backslash escapes. A string's contents hold no such quote.
size_t OpeningQuoteBefore(std::string_view text, size_t end) {
  size_t index = std::min(end, text.size());
  while (index > 0) {
    --index;
    if (text[index] != '"') {
      continue;
    }
    size_t backslashes = 0;
    while (backslashes < index && text[index - 1 - backslashes] == '\\') {
      ++backslashes;
    }
    if (backslashes % 2 == 0) {
      return index;
    }
  }
  return 0;
}

// The characters a number or a literal is made of.
bool IsWordCharacter(char character) {
  return (character >= '0' && character <= '9') || (character >= 'a' && character <= 'z') ||
         (character >= 'A' && character <= 'Z') || character == '.' || character == '+' || character == '-';
}

// Reads the text for the library one byte at a time and records how far it has read, which is
// how the handler below knows where a key or a number it refuses stands.
class CountingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* position, const char** furthest) : position_(position), furthest_(furthest) {}

  reference operator*() const { return *position_; }
  CountingIterator& operator++() {
    ++position_;
    if (position_ > *furthest_) {
      *furthest_ = position_;
    }
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator previous = *this;
    ++*this;
    return previous;
  }
  bool operator==(const CountingIterator& other) const { return position_ == other.position_; }
  bool operator!=(const CountingIterator& other) const { return position_ != other.position_; }

 private:
  const char* position_;
  const char** furthest_;
};

// Turns the library's own error into one of our lines. Its messages are fixed texts of the
// version Debian ships; one we do not know is passed on as it stands, still with our position.
std::string TranslateLibraryError(std::string_view text, size_t characters_read, const std::string& last_token,
                                  const nlohmann::detail::exception& error) {
  // The library counts the read of the end of input as a character; what it read last is the
  // offending byte, or the end.
  const size_t last_read = characters_read == 0 ? 0 : std::min(characters_read - 1, text.size());
  const size_t token_start = characters_read >= last_token.size() ? characters_read - last_token.size() : 0;
  if (error.id == 406) {
    // "number overflow parsing '1e400'": a number no double holds.
    return "number " + last_token + " is out of range" + DescribePosition(text, token_start);
  }
  std::string message = error.what();
  const std::string context_mark = "syntax error while parsing ";
  const size_t context_start = message.find(context_mark);
  if (context_start == std::string::npos) {
    return message + DescribePosition(text, last_read);
  }
  message.erase(0, context_start + context_mark.size());
  const size_t dash = message.find(" - ");
  const std::string context = message.substr(0, dash);
  std::string detail = dash == std::string::npos ? std::string() : message.substr(dash + 3);
  const size_t last_read_mark = detail.find("; last read: ");
  const std::string reason = detail.substr(0, last_read_mark);
  const auto at = [&](size_t offset) { return DescribePosition(text, offset); };

  if (reason.rfind("unexpected ", 0) == 0) {
    // A well-formed token that does not belong here; find where it starts.
    size_t start = last_read;
    if (reason.rfind("unexpected end of input", 0) == 0) {
      start = text.size();
    } else if (reason.rfind("unexpected string literal", 0) == 0) {
      start = OpeningQuoteBefore(text, last_read);
    } else if (reason.rfind("unexpected number literal", 0) == 0 || reason.rfind("unexpected true literal", 0) == 0 ||
               reason.rfind("unexpected false literal", 0) == 0 || reason.rfind("unexpected null literal", 0) == 0) {
      while (start > 0 && IsWordCharacter(text[start - 1])) {
        --start;
      }
    }
    const std::string found = DescribeByte(text, start);
    if (reason.rfind("unexpected number literal", 0) == 0 && start + 1 < text.size() && text[start] == '0' &&
        text[start + 1] >= '0' && text[start + 1] <= '9') {
      // "012" reads as the number 0 followed by the number 12.
      return "number with a leading zero" + at(start);
    }
    if (context == "value" && reason.find("; expected end of input") != std::string::npos) {
      return "unexpected " + found + " after the value" + at(start);
    }
    if (context == "object separator") {
      return "expected ':' after an object key, found " + found + at(start);
    }
    if (context == "object key") {
      return "expected a string key, found " + found + at(start);
    }
    if (context == "object") {
      return "expected '}' or ',' in an object, found " + found + at(start);
    }
    if (context == "array") {
      return "expected ']' or ',' in an array, found " + found + at(start);
    }
    return "expected a value, found " + found + at(start);
  }
  if (reason == "invalid literal") {
    // Back to the first letter of the word the library stopped in ("tru" at the end of input).
    size_t start = last_read;
    while (start > 0 && IsWordCharacter(text[start - 1]) && (start == text.size() || IsWordCharacter(text[start]))) {
      --start;
    }
    return std::string(context == "object key" ? "expected a string key" : "expected a value") + ", found " +
           DescribeByte(text, start) + at(start);
  }
  if (reason == "invalid string: missing closing quote") {
    return "unterminated string" + at(OpeningQuoteBefore(text, text.size()));
  }
  if (reason == "invalid string: forbidden character after backslash") {
    return "invalid escape '\\" + std::string(1, text[last_read]) + "'" + at(last_read - 1);
  }
  if (reason == "invalid string: '\\u' must be followed by 4 hex digits") {
    return "expected a hex digit in a \\u escape, found " + DescribeByte(text, last_read) + at(last_read);
  }
  if (reason.rfind("invalid string: surrogate U+D800..U+DBFF", 0) == 0) {
    return "unpaired high surrogate in a \\u escape" + at(last_read);
  }
  if (reason.rfind("invalid string: surrogate U+DC00..U+DFFF", 0) == 0) {
    return "unpaired low surrogate in a \\u escape" + at(last_read);
  }
  if (reason.rfind("invalid string: control character", 0) == 0) {
    return "control character " + DescribeByte(text, last_read) + " in a string (write it as an escape)" + at(last_read);
  }
  if (reason == "invalid string: ill-formed UTF-8 byte") {
    return "invalid UTF-8 in a string" + at(last_read);
  }
  if (reason == "invalid number; expected digit after '.'") {
    return "expected a digit after the decimal point, found " + DescribeByte(text, last_read) + at(last_read);
  }
  if (reason == "invalid number; expected digit after '-'") {
    return "expected a digit, found " + DescribeByte(text, last_read) + at(last_read);
  }
  if (reason.rfind("invalid number; expected", 0) == 0) {
    return "expected a digit in the exponent, found " + DescribeByte(text, last_read) + at(last_read);
  }
  return reason + at(last_read);
}

// Builds the channel value from the library's events, and refuses what the library accepts but
// we do not: a key twice in one object, integers beyond 64 bits, nesting beyond the bound.
class ValueBuilder : public nlohmann::json_sax<Json> {
 public:
  ValueBuilder(std::string_view text, const char* const* furthest) : text_(text), furthest_(furthest) {}

  EncodableValue TakeValue() { return std::move(root_); }
  const std::string& error() const { return error_; }

  bool null() override { return Add(EncodableValue()); }
  bool boolean(bool value) override { return Add(EncodableValue(value)); }

  bool number_integer(number_integer_t value) override {
    // Only negative integers arrive here; the widths are the ones the host's readers accept.
    if (value >= std::numeric_limits<int32_t>::min()) {
      return Add(EncodableValue(static_cast<int32_t>(value)));
    }
    return Add(EncodableValue(static_cast<int64_t>(value)));
  }

  bool number_unsigned(number_unsigned_t value) override {
    if (value <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      return Add(EncodableValue(static_cast<int32_t>(value)));
    }
    if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return Add(EncodableValue(static_cast<int64_t>(value)));
    }
    return RefuseBigInteger(std::to_string(value));
  }

  bool number_float(number_float_t value, const string_t& literal) override {
    if (literal.find_first_of(".eE") == std::string::npos) {
      // An integer literal that did not fit 64 bits: a double would silently round it.
      return RefuseBigInteger(literal);
    }
    return Add(EncodableValue(static_cast<double>(value)));
  }

  bool string(string_t& value) override { return Add(EncodableValue(std::move(value))); }

  bool binary(binary_t&) override {
    // JSON text has no binary values; only the library's binary formats produce them.
    return Fail("unexpected binary value", ReadSoFar());
  }

  bool start_object(std::size_t) override { return Open(EncodableValue(EncodableMap{})); }

  bool key(string_t& key) override {
    auto& map = std::get<EncodableMap>(frames_.back().container);
    EncodableValue key_value(std::move(key));
    if (map.count(key_value) != 0) {
      // The key's closing quote is the last byte read.
      return Fail("duplicate key \"" + std::get<std::string>(key_value) + "\"", OpeningQuoteBefore(text_, ReadSoFar() - 1));
    }
    frames_.back().key = std::move(key_value);
    return true;
  }

  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(EncodableValue(EncodableList{})); }
  bool end_array() override { return Close(); }

  bool parse_error(std::size_t characters_read, const std::string& last_token,
                   const nlohmann::detail::exception& error) override {
    error_ = TranslateLibraryError(text_, characters_read, last_token, error);
    return false;
  }

 private:
  struct Frame {
    EncodableValue container;  // a list or a map
    EncodableValue key;        // for a map: the key of the member whose value comes next
  };

  size_t ReadSoFar() const { return static_cast<size_t>(*furthest_ - text_.data()); }

  bool Fail(std::string what, size_t offset) {
    error_ = std::move(what) + DescribePosition(text_, offset);
    return false;
  }

  bool RefuseBigInteger(const std::string& literal) {
    // A number is read with one byte of look-ahead unless it ends the text.
    size_t end = ReadSoFar();
    if (end < literal.size() || text_.substr(end - literal.size(), literal.size()) != literal) {
      --end;
    }
    return Fail("integer " + literal + " does not fit in 64 bits", end - literal.size());
  }

  bool Add(EncodableValue value) {
    if (frames_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Frame& frame = frames_.back();
    if (auto* list = std::get_if<EncodableList>(&frame.container)) {
      list->push_back(std::move(value));
    } else {
      std::get<EncodableMap>(frame.container).emplace(std::move(frame.key), std::move(value));
    }
    return true;
  }

  bool Open(EncodableValue container) {
    if (frames_.size() >= kMaxNestingDepth) {
      return Fail("nesting deeper than " + std::to_string(kMaxNestingDepth) + " levels", ReadSoFar() - 1);
    }
    frames_.push_back(Frame{std::move(container), EncodableValue()});
    return true;
  }

  bool Close() {
    EncodableValue container = std::move(frames_.back().container);
    frames_.pop_back();
    return Add(std::move(container));
  }

  std::string_view text_;
  const char* const* furthest_;
  std::vector<Frame> frames_;
  EncodableValue root_;
  std::string error_;
};

// The channel value as the library's value, which then prints it.
Json ToJson(const EncodableValue& value);

Json DoubleToJson(double value) {
  // JSON has no NaN or infinities; strings show them instead of a misleading null.
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value > 0 ? "Infinity" : "-Infinity";
  }
  return value;
}

struct ToJsonVisitor {
  Json operator()(const flutter::EncodableNull&) const { return nullptr; }
  Json operator()(bool value) const { return value; }
  Json operator()(int32_t value) const { return value; }
  Json operator()(int64_t value) const { return value; }
  Json operator()(double value) const { return DoubleToJson(value); }
  Json operator()(const std::string& value) const { return value; }
  Json operator()(const flutter::CustomEncodableValue&) const { return nullptr; }

  template <typename Number>
  Json operator()(const std::vector<Number>& numbers) const {
    Json array = Json::array();
    for (const Number number : numbers) {
      if constexpr (std::is_floating_point_v<Number>) {
        array.push_back(DoubleToJson(static_cast<double>(number)));
      } else {
        array.push_back(number);
      }
    }
    return array;
  }

  Json operator()(const EncodableList& list) const {
    Json array = Json::array();
    for (const EncodableValue& element : list) {
      array.push_back(ToJson(element));
    }
    return array;
  }

  Json operator()(const EncodableMap& map) const {
    bool string_keys = true;
    for (const auto& [key, member] : map) {
      string_keys = string_keys && std::holds_alternative<std::string>(key);
    }
    if (!string_keys) {
      // Pairs keep every entry and its key's own type; an object would merge 1 and "1".
      Json pairs = Json::array();
      for (const auto& [key, member] : map) {
        pairs.push_back(Json::array({ToJson(key), ToJson(member)}));
      }
      return pairs;
    }
    Json object = Json::object();
    for (const auto& [key, member] : map) {
      object[std::get<std::string>(key)] = ToJson(member);
    }
    return object;
  }
};

Json ToJson(const EncodableValue& value) {
  return std::visit(ToJsonVisitor{}, static_cast<const flutter::EncodableValueVariant&>(value));
}

}  // namespace

JsonParseResult ParseJson(std::string_view text) {
  JsonParseResult result;
  const char* furthest = text.data();
  ValueBuilder builder(text, &furthest);
  const CountingIterator first(text.data(), &furthest);
  const CountingIterator last(text.data() + text.size(), &furthest);
  // Strict: the value must be followed by nothing but whitespace.
  const bool parsed = Json::sax_parse(first, last, &builder, nlohmann::detail::input_format_t::json, true);
  if (parsed && builder.error().empty()) {
    result.value = builder.TakeValue();
  } else {
    result.error = builder.error().empty() ? "invalid JSON" : builder.error();
  }
  return result;
}

std::string FormatJson(const flutter::EncodableValue& value, JsonLayout layout) {
  // Replies may hold bytes that are not UTF-8 (a file name from a damaged disk): each bad byte
  // becomes U+FFFD, so the output stays valid JSON and the damage stays visible.
  return ToJson(value).dump(layout == JsonLayout::kIndented ? 2 : -1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace pel_mora::cli
