#pragma once

// The value model of every message that crosses a platform channel: a closed variant of null,
// booleans, integers, doubles, UTF-8 strings, typed numeric lists, lists and maps.
//
// The alternatives' order is part of the contract: it is the index the ordering compares
// first, and so the key order of EncodableMap and the order in which map entries are written.

#include <any>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace flutter {

class EncodableValue;

using EncodableList = std::vector<EncodableValue>;
using EncodableMap = std::map<EncodableValue, EncodableValue>;

// An application-supplied object that the standard codec cannot encode (it is written as null).
// Two custom values are ordered, and equal, by the address of their storage: they have no
// content the codec could compare.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(const std::any& value) : value_(value) {}
  ~CustomEncodableValue() = default;

  operator std::any&() { return value_; }
  operator const std::any&() const { return value_; }

  const std::type_info& type() const noexcept { return value_.type(); }

  bool operator<(const CustomEncodableValue& other) const { return std::less<const void*>()(this, &other); }
  bool operator==(const CustomEncodableValue& other) const { return this == &other; }

 private:
  std::any value_;
};

// The null alternative. Deliberately not std::monostate: a type without operator<=> at index 0
// makes the standard variant's own three-way comparison drop out at its first alternative, which
// keeps GCC's C++20 constraint check from recursing through lists and maps of this very type.
struct EncodableNull {
  friend constexpr bool operator==(EncodableNull, EncodableNull) { return true; }
  friend constexpr bool operator<(EncodableNull, EncodableNull) { return false; }
};

// Index order: 0 null, 1 bool, 2 int32, 3 int64, 4 double, 5 string, 6 uint8 list, 7 int32 list,
// 8 int64 list, 9 float64 list, 10 list, 11 map, 12 custom, 13 float32 list.
using EncodableValueVariant = std::variant<EncodableNull,
                                           bool,
                                           int32_t,
                                           int64_t,
                                           double,
                                           std::string,
                                           std::vector<uint8_t>,
                                           std::vector<int32_t>,
                                           std::vector<int64_t>,
                                           std::vector<double>,
                                           EncodableList,
                                           EncodableMap,
                                           CustomEncodableValue,
                                           std::vector<float>>;

// Reading an alternative other than the one held is a programming error: std::get throws
// std::bad_variant_access. Callers that validate input use std::get_if instead.
class EncodableValue : public EncodableValueVariant {
 public:
  using EncodableValueVariant::EncodableValueVariant;
  using EncodableValueVariant::operator=;

  EncodableValue() = default;

  // Without this a string literal would not pick the string alternative reliably.
  explicit EncodableValue(const char* text) : EncodableValueVariant(std::string(text)) {}
  EncodableValue& operator=(const char* text) {
    EncodableValueVariant::operator=(std::string(text));
    return *this;
  }

  EncodableValue(const EncodableValue&) = default;
  EncodableValue(EncodableValue&&) = default;
  EncodableValue& operator=(const EncodableValue&) = default;
  EncodableValue& operator=(EncodableValue&&) = default;

  bool IsNull() const { return std::holds_alternative<EncodableNull>(*this); }

  // The value of an int32 or int64 alternative widened to 64 bits; any other alternative
  // throws std::bad_variant_access. The interface's codec picks the width by magnitude, so
  // readers of integer arguments accept both.
  int64_t LongValue() const {
    if (const auto* value = std::get_if<int32_t>(this)) {
      return *value;
    }
    return std::get<int64_t>(*this);
  }

  // The map key order: alternatives by index, then by content (see encodable_value.cc).
  friend bool operator<(const EncodableValue& left, const EncodableValue& right);
  friend bool operator==(const EncodableValue& left, const EncodableValue& right);
  friend bool operator!=(const EncodableValue& left, const EncodableValue& right) { return !(left == right); }
};

}  // namespace flutter
