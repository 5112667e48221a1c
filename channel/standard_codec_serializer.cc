#include "channel/standard_codec_serializer.h"

#include <bit>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <type_traits>

namespace flutter {

// The wire format is little-endian and numbers are copied as they lie in memory, which holds on
// every target this code builds for (x86-64 and ARM64 Windows, x86-64 Linux).
static_assert(std::endian::native == std::endian::little, "the standard codec needs a little-endian target");

namespace {

enum class TypeByte : uint8_t {
  Null = 0,
  True = 1,
  False = 2,
  Int32 = 3,
  Int64 = 4,
  LargeInt = 5,  // Read only: arrives as a string.
  Float64 = 6,
  String = 7,
  Uint8List = 8,
  Int32List = 9,
  Int64List = 10,
  Float64List = 11,
  List = 12,
  Map = 13,
  Float32List = 14,
};

void WriteType(TypeByte type, ByteStreamWriter* stream) {
  stream->WriteByte(static_cast<uint8_t>(type));
}

template <typename Number>
void WriteNumber(Number number, ByteStreamWriter* stream) {
  stream->WriteBytes(reinterpret_cast<const uint8_t*>(&number), sizeof(number));
}

// A zeroed number, so a failed read leaves 0 behind.
template <typename Number>
Number ReadNumber(ByteStreamReader* stream) {
  Number number{};
  stream->ReadBytes(reinterpret_cast<uint8_t*>(&number), sizeof(number));
  return number;
}

// A declared size the rest of the input cannot hold is never allocated: the read is made to fail
// as the stream's own failed reads do (one diagnostic, nothing consumed, destination untouched),
// and the caller returns an empty value. Without this, a five-byte message could ask for 4 GiB.
bool RefuseOversizedRead(uint64_t declared_bytes, ByteStreamReader* stream) {
  if (declared_bytes <= stream->RemainingBytes()) {
    return false;
  }
  // The length handed on must still exceed what remains, also where size_t is narrower.
  const size_t failing_length = declared_bytes > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(declared_bytes);
  uint8_t untouched = 0;
  stream->ReadBytes(&untouched, failing_length);
  return true;
}

template <typename Element>
std::vector<Element> ReadTypedList(size_t count, ByteStreamReader* stream) {
  if constexpr (sizeof(Element) > 1) {
    // Always aligned, also for an empty list, so a value after it is read from the right place.
    stream->ReadAlignment(sizeof(Element));
  }
  const uint64_t byte_count = static_cast<uint64_t>(count) * sizeof(Element);
  if (RefuseOversizedRead(byte_count, stream)) {
    return {};
  }
  std::vector<Element> list(count);
  // One block copy, not element by element.
  stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), static_cast<size_t>(byte_count));
  return list;
}

}  // namespace

StandardCodecSerializer::StandardCodecSerializer() = default;
StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::GetInstance() {
  // Never destroyed, so channels and results may use it during process teardown.
  static const StandardCodecSerializer* const instance = new StandardCodecSerializer();
  return *instance;
}

EncodableValue StandardCodecSerializer::ReadValue(ByteStreamReader* stream) const {
  return ReadValueOfType(stream->ReadByte(), stream);
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const {
  const auto write_typed_list = [this, stream](TypeByte type, const auto& list) {
    using Element = typename std::decay_t<decltype(list)>::value_type;
    WriteType(type, stream);
    WriteSize(list.size(), stream);
    if constexpr (sizeof(Element) > 1) {
      // Padding follows the size prefix even for an empty list.
      stream->WriteAlignment(sizeof(Element));
    }
    // One block copy, not element by element.
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()), list.size() * sizeof(Element));
  };

  // Indices follow the alternatives of EncodableValueVariant.
  switch (value.index()) {
    case 0:
      WriteType(TypeByte::Null, stream);
      return;
    case 1:
      WriteType(std::get<bool>(value) ? TypeByte::True : TypeByte::False, stream);
      return;
    case 2:
      WriteType(TypeByte::Int32, stream);
      WriteNumber(std::get<int32_t>(value), stream);
      return;
    case 3:
      WriteType(TypeByte::Int64, stream);
      WriteNumber(std::get<int64_t>(value), stream);
      return;
    case 4:
      WriteType(TypeByte::Float64, stream);
      stream->WriteAlignment(8);
      WriteNumber(std::get<double>(value), stream);
      return;
    case 5: {
      const auto& text = std::get<std::string>(value);
      WriteType(TypeByte::String, stream);
      WriteSize(text.size(), stream);
      stream->WriteBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      return;
    }
    case 6:
      write_typed_list(TypeByte::Uint8List, std::get<std::vector<uint8_t>>(value));
      return;
    case 7:
      write_typed_list(TypeByte::Int32List, std::get<std::vector<int32_t>>(value));
      return;
    case 8:
      write_typed_list(TypeByte::Int64List, std::get<std::vector<int64_t>>(value));
      return;
    case 9:
      write_typed_list(TypeByte::Float64List, std::get<std::vector<double>>(value));
      return;
    case 10: {
      const auto& list = std::get<EncodableList>(value);
      WriteType(TypeByte::List, stream);
      WriteSize(list.size(), stream);
      for (const auto& element : list) {
        WriteValue(element, stream);
      }
      return;
    }
    case 11: {
      const auto& map = std::get<EncodableMap>(value);
      WriteType(TypeByte::Map, stream);
      WriteSize(map.size(), stream);
      // The map's own order is the wire order; no sorting step.
      for (const auto& [key, entry_value] : map) {
        WriteValue(key, stream);
        WriteValue(entry_value, stream);
      }
      return;
    }
    case 12:
      WriteType(TypeByte::Null, stream);
      std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                << "Custom types require codec extensions." << std::endl;
      return;
    case 13:
      write_typed_list(TypeByte::Float32List, std::get<std::vector<float>>(value));
      return;
  }
}

EncodableValue StandardCodecSerializer::ReadValueOfType(uint8_t type, ByteStreamReader* stream) const {
  switch (static_cast<TypeByte>(type)) {
    case TypeByte::Null:
      return EncodableValue();
    case TypeByte::True:
      return EncodableValue(true);
    case TypeByte::False:
      return EncodableValue(false);
    case TypeByte::Int32:
      return EncodableValue(ReadNumber<int32_t>(stream));
    case TypeByte::Int64:
      return EncodableValue(ReadNumber<int64_t>(stream));
    case TypeByte::Float64:
      stream->ReadAlignment(8);
      return EncodableValue(ReadNumber<double>(stream));
    case TypeByte::LargeInt:
    case TypeByte::String: {
      const size_t size = ReadSize(stream);
      if (RefuseOversizedRead(size, stream)) {
        return EncodableValue(std::string());
      }
      std::string text(size, '\0');
      stream->ReadBytes(reinterpret_cast<uint8_t*>(text.data()), size);
      return EncodableValue(std::move(text));
    }
    case TypeByte::Uint8List: {
      const size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<uint8_t>(count, stream));
    }
    case TypeByte::Int32List: {
      const size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<int32_t>(count, stream));
    }
    case TypeByte::Int64List: {
      const size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<int64_t>(count, stream));
    }
    case TypeByte::Float64List: {
      const size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<double>(count, stream));
    }
    case TypeByte::Float32List: {
      const size_t count = ReadSize(stream);
      return EncodableValue(ReadTypedList<float>(count, stream));
    }
    case TypeByte::List: {
      const size_t count = ReadSize(stream);
      // Every element takes at least one byte, so a count above what remains cannot be honest.
      if (RefuseOversizedRead(count, stream)) {
        return EncodableValue(EncodableList());
      }
      EncodableList list;
      list.reserve(count);
      for (size_t index = 0; index < count; ++index) {
        list.push_back(ReadValue(stream));
      }
      return EncodableValue(std::move(list));
    }
    case TypeByte::Map: {
      const size_t count = ReadSize(stream);
      if (RefuseOversizedRead(count, stream)) {
        return EncodableValue(EncodableMap());
      }
      EncodableMap map;
      for (size_t index = 0; index < count; ++index) {
        EncodableValue key = ReadValue(stream);
        EncodableValue value = ReadValue(stream);
        // Writers put the entries in key order, so the end is almost always the right place and
        // the hint saves the walk down the tree. Like emplace, this keeps the first entry when a
        // key repeats, and a key out of order still lands where it belongs.
        map.emplace_hint(map.end(), std::move(key), std::move(value));
      }
      return EncodableValue(std::move(map));
    }
  }
  std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: " << static_cast<int>(type) << std::endl;
  return EncodableValue();
}

size_t StandardCodecSerializer::ReadSize(ByteStreamReader* stream) const {
  const uint8_t first = stream->ReadByte();
  if (first < 254) {
    return first;
  }
  if (first == 254) {
    return ReadNumber<uint16_t>(stream);
  }
  return ReadNumber<uint32_t>(stream);
}

void StandardCodecSerializer::WriteSize(size_t size, ByteStreamWriter* stream) const {
  if (size < 254) {
    stream->WriteByte(static_cast<uint8_t>(size));
  } else if (size <= 0xFFFF) {
    stream->WriteByte(254);
    WriteNumber(static_cast<uint16_t>(size), stream);
  } else if (size <= 0xFFFFFFFFull) {
    stream->WriteByte(255);
    WriteNumber(static_cast<uint32_t>(size), stream);
  } else {
    // A truncated prefix would make the rest of the message unreadable garbage.
    throw std::length_error("StandardCodecSerializer: size does not fit the 32-bit size prefix");
  }
}

}  // namespace flutter
