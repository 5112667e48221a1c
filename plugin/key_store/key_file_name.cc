#include "plugin/key_store/key_file_name.h"

#include <cstring>

namespace pel_mora {

namespace {

constexpr std::array<uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t RotateRight(uint32_t value, int count) {
  return (value >> count) | (value << (32 - count));
}

void CompressBlock(std::array<uint32_t, 8>& state, const uint8_t* block) {
  std::array<uint32_t, 64> schedule{};
  for (int index = 0; index < 16; ++index) {
    schedule[index] = (uint32_t{block[index * 4]} << 24) | (uint32_t{block[index * 4 + 1]} << 16) |
                      (uint32_t{block[index * 4 + 2]} << 8) | uint32_t{block[index * 4 + 3]};
  }
  for (int index = 16; index < 64; ++index) {
    const uint32_t sigma0 = RotateRight(schedule[index - 15], 7) ^ RotateRight(schedule[index - 15], 18) ^
                            (schedule[index - 15] >> 3);
    const uint32_t sigma1 = RotateRight(schedule[index - 2], 17) ^ RotateRight(schedule[index - 2], 19) ^
                            (schedule[index - 2] >> 10);
    schedule[index] = schedule[index - 16] + sigma0 + schedule[index - 7] + sigma1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int index = 0; index < 64; ++index) {
    const uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    const uint32_t choice = (e & f) ^ (~e & g);
    const uint32_t temporary1 = h + sum1 + choice + kRoundConstants[index] + schedule[index];
    const uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const uint32_t temporary2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + temporary1;
    d = c;
    c = b;
    b = a;
    a = temporary1 + temporary2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

bool IsUnsafeForFileName(unsigned char byte) {
  return byte < 0x20 || std::strchr("\\/:*?\"<>|", byte) != nullptr;
}

bool IsPlainNameCharacter(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
         byte == '-' || byte == '_';
}

}  // namespace

std::array<uint8_t, 32> Sha256(std::string_view data) {
  std::array<uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  size_t whole_blocks = data.size() / 64;
  for (size_t block = 0; block < whole_blocks; ++block) {
    CompressBlock(state, bytes + block * 64);
  }
  // The tail, the 0x80 marker and the bit length fill one or two final blocks.
  std::array<uint8_t, 128> tail{};
  const size_t tail_length = data.size() % 64;
  if (tail_length > 0) {
    std::memcpy(tail.data(), bytes + whole_blocks * 64, tail_length);
  }
  tail[tail_length] = 0x80;
  const size_t tail_blocks = tail_length + 9 > 64 ? 2 : 1;
  const uint64_t bit_length = static_cast<uint64_t>(data.size()) * 8;
  for (int index = 0; index < 8; ++index) {
    tail[tail_blocks * 64 - 1 - index] = static_cast<uint8_t>(bit_length >> (index * 8));
  }
  for (size_t block = 0; block < tail_blocks; ++block) {
    CompressBlock(state, tail.data() + block * 64);
  }
  std::array<uint8_t, 32> digest{};
  for (int index = 0; index < 8; ++index) {
    digest[index * 4] = static_cast<uint8_t>(state[index] >> 24);
    digest[index * 4 + 1] = static_cast<uint8_t>(state[index] >> 16);
    digest[index * 4 + 2] = static_cast<uint8_t>(state[index] >> 8);
    digest[index * 4 + 3] = static_cast<uint8_t>(state[index]);
  }
  return digest;
}

std::string SanitizeKeyName(std::string_view key) {
  std::string name(key);
  for (char& character : name) {
    if (IsUnsafeForFileName(static_cast<unsigned char>(character))) {
      character = '_';
    }
  }
  return name;
}

std::string KeyFileStem(std::string_view key) {
  constexpr size_t kReadableLength = 32;
  constexpr size_t kDigestBytes = 16;
  std::string stem;
  for (size_t index = 0; index < key.size() && index < kReadableLength; ++index) {
    const auto byte = static_cast<unsigned char>(key[index]);
    stem.push_back(IsPlainNameCharacter(byte) ? static_cast<char>(byte) : '_');
  }
  stem.push_back('-');
  const std::array<uint8_t, 32> digest = Sha256(key);
  static constexpr char kHexDigits[] = "0123456789abcdef";
  for (size_t index = 0; index < kDigestBytes; ++index) {
    stem.push_back(kHexDigits[digest[index] >> 4]);
    stem.push_back(kHexDigits[digest[index] & 0xF]);
  }
  return stem;
}

}  // namespace pel_mora
