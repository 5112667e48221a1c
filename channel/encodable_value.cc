#include "channel/encodable_value.h"

#include <algorithm>

namespace flutter {

namespace {

bool Less(const EncodableValue& left, const EncodableValue& right);

// Lexicographic over entries in key order; an entry compares its key, then its value.
bool MapLess(const EncodableMap& left, const EncodableMap& right) {
  auto left_entry = left.begin();
  auto right_entry = right.begin();
  for (; left_entry != left.end() && right_entry != right.end(); ++left_entry, ++right_entry) {
    if (Less(left_entry->first, right_entry->first)) {
      return true;
    }
    if (Less(right_entry->first, left_entry->first)) {
      return false;
    }
    if (Less(left_entry->second, right_entry->second)) {
      return true;
    }
    if (Less(right_entry->second, left_entry->second)) {
      return false;
    }
  }
  return left_entry == left.end() && right_entry != right.end();
}

template <typename Sequence>
bool SequenceLess(const Sequence& left, const Sequence& right) {
  // For strings std::char_traits<char> compares as unsigned bytes, a proper prefix first.
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

// Elements of a list compare with this same ordering.
bool ListLess(const EncodableList& left, const EncodableList& right) {
  return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(), Less);
}

bool Less(const EncodableValue& left, const EncodableValue& right) {
  if (left.index() != right.index()) {
    return left.index() < right.index();
  }
  switch (left.index()) {
    case 0:
      return false;  // All nulls are equal.
    case 1:
      return std::get<bool>(left) < std::get<bool>(right);
    case 2:
      return std::get<int32_t>(left) < std::get<int32_t>(right);
    case 3:
      return std::get<int64_t>(left) < std::get<int64_t>(right);
    case 4:
      return std::get<double>(left) < std::get<double>(right);  // A NaN is never less, nor greater.
    case 5:
      return std::get<std::string>(left) < std::get<std::string>(right);
    case 6:
      return SequenceLess(std::get<std::vector<uint8_t>>(left), std::get<std::vector<uint8_t>>(right));
    case 7:
      return SequenceLess(std::get<std::vector<int32_t>>(left), std::get<std::vector<int32_t>>(right));
    case 8:
      return SequenceLess(std::get<std::vector<int64_t>>(left), std::get<std::vector<int64_t>>(right));
    case 9:
      return SequenceLess(std::get<std::vector<double>>(left), std::get<std::vector<double>>(right));
    case 10:
      return ListLess(std::get<EncodableList>(left), std::get<EncodableList>(right));
    case 11:
      return MapLess(std::get<EncodableMap>(left), std::get<EncodableMap>(right));
    case 12:
      return std::get<CustomEncodableValue>(left) < std::get<CustomEncodableValue>(right);
    case 13:
      return SequenceLess(std::get<std::vector<float>>(left), std::get<std::vector<float>>(right));
  }
  return false;
}

}  // namespace

bool operator<(const EncodableValue& left, const EncodableValue& right) {
  return Less(left, right);
}

bool operator==(const EncodableValue& left, const EncodableValue& right) {
  if (left.index() != right.index()) {
    return false;
  }
  switch (left.index()) {
    case 0:
      return true;
    case 1:
      return std::get<bool>(left) == std::get<bool>(right);
    case 2:
      return std::get<int32_t>(left) == std::get<int32_t>(right);
    case 3:
      return std::get<int64_t>(left) == std::get<int64_t>(right);
    case 4:
      return std::get<double>(left) == std::get<double>(right);
    case 5:
      return std::get<std::string>(left) == std::get<std::string>(right);
    case 6:
      return std::get<std::vector<uint8_t>>(left) == std::get<std::vector<uint8_t>>(right);
    case 7:
      return std::get<std::vector<int32_t>>(left) == std::get<std::vector<int32_t>>(right);
    case 8:
      return std::get<std::vector<int64_t>>(left) == std::get<std::vector<int64_t>>(right);
    case 9:
      return std::get<std::vector<double>>(left) == std::get<std::vector<double>>(right);
    case 10:
      return std::get<EncodableList>(left) == std::get<EncodableList>(right);
    case 11:
      return std::get<EncodableMap>(left) == std::get<EncodableMap>(right);
    case 12:
      return std::get<CustomEncodableValue>(left) == std::get<CustomEncodableValue>(right);
    case 13:
      return std::get<std::vector<float>>(left) == std::get<std::vector<float>>(right);
  }
  return false;
}

}  // namespace flutter
