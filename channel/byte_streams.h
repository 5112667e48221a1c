#pragma once

// The streams the standard codec reads from and writes to. The serializer only ever goes through
// these interfaces, so another stream can stand in for the buffer-backed ones.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flutter {

class ByteStreamReader {
 public:
  virtual ~ByteStreamReader() = default;

  // One unsigned byte; 0 after a diagnostic when the input is exhausted.
  virtual uint8_t ReadByte() = 0;

  // Copies `length` bytes into `destination`; a read that would pass the end of the input leaves
  // the destination untouched and the position where it was, after a diagnostic.
  virtual void ReadBytes(uint8_t* destination, size_t length) = 0;

  // Moves the position to the next multiple of `alignment` (1 to 255), counted from the start
  // of the message. May move past the end; the next read then fails.
  virtual void ReadAlignment(uint8_t alignment) = 0;

  // How many bytes are left to read (0 once the position is at or past the end). Lets the
  // decoder refuse a declared size that the input cannot hold before it allocates for it. A
  // stream that cannot tell keeps this default, which disables that check but nothing else, so
  // a reader written against the three operations above still works.
  virtual size_t RemainingBytes() const { return SIZE_MAX; }
};

class ByteStreamWriter {
 public:
  virtual ~ByteStreamWriter() = default;

  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* source, size_t length) = 0;

  // Appends zero bytes until the output length is a multiple of `alignment`.
  virtual void WriteAlignment(uint8_t alignment) = 0;
};

// Reads a borrowed byte range; the bytes must outlive the reader.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* destination, size_t length) override;
  void ReadAlignment(uint8_t alignment) override;
  size_t RemainingBytes() const override { return location_ < size_ ? size_ - location_ : 0; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t location_ = 0;
};

// Appends to a caller-owned vector; alignment is counted from the vector's current length, so the
// vector must start empty for a whole message.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer) : bytes_(buffer) {}

  void WriteByte(uint8_t byte) override { bytes_->push_back(byte); }
  void WriteBytes(const uint8_t* source, size_t length) override;
  void WriteAlignment(uint8_t alignment) override;

 private:
  std::vector<uint8_t>* bytes_;
};

}  // namespace flutter
