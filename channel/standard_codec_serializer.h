#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/byte_streams.h"
#include "channel/encodable_value.h"

namespace flutter {

// The standard message codec: one type byte, then the payload. Both virtual operations call back
// through the virtual slots for nested values, so a derived serializer can add types.
class StandardCodecSerializer {
 public:
  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The process-wide instance: created on first use, never destroyed.
  static const StandardCodecSerializer& GetInstance();

  // Reads one type byte and hands it to ReadValueOfType.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

 protected:
  StandardCodecSerializer();

  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // The size prefix: one byte below 254, 254 and a uint16 up to 65535, else 255 and a uint32.
  size_t ReadSize(ByteStreamReader* stream) const;
  void WriteSize(size_t size, ByteStreamWriter* stream) const;
};

}  // namespace flutter
