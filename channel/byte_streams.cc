#include "channel/byte_streams.h"

#include <cstring>
#include <iostream>

namespace flutter {

namespace {

void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

}  // namespace

uint8_t ByteBufferStreamReader::ReadByte() {
  if (location_ >= size_) {
    ReportInvalidRead();
    return 0;
  }
  return bytes_[location_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* destination, size_t length) {
  // Written so that a huge length cannot wrap around: compare against what remains. A position
  // that alignment has moved past the end fails every read, even one of zero bytes.
  if (location_ > size_ || length > size_ - location_) {
    ReportInvalidRead();
    return;
  }
  if (length == 0) {
    return;
  }
  std::memcpy(destination, bytes_ + location_, length);
  location_ += length;
}

void ByteBufferStreamReader::ReadAlignment(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t remainder = location_ % alignment;
  if (remainder != 0) {
    location_ += alignment - remainder;
  }
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* source, size_t length) {
  if (length == 0) {
    return;
  }
  bytes_->insert(bytes_->end(), source, source + length);
}

void ByteBufferStreamWriter::WriteAlignment(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t remainder = bytes_->size() % alignment;
  if (remainder != 0) {
    bytes_->insert(bytes_->end(), alignment - remainder, 0);
  }
}

}  // namespace flutter
