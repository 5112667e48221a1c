// A deterministic fuzzer for the interface bridge's frame reader. It mutates streams of valid
// frames (bit flips, truncation, overwritten length fields, random bytes, splices) with a seeded
// generator and feeds each stream to a reader in one piece and to another in random pieces.
// Properties checked on every input:
// - both readers return the same frames and end in the same state with the same failure text, so
//   no frame depends on how the network cut the bytes;
// - each returned frame, written again, is exactly the bytes it was cut from, in order;
// - a returned frame is one the interface may send (kind 1, 4, 5 or 7; a platform message never
//   has id 0);
// - the first frame returned is the authentication frame (kind 7: id 0, no channel, 64 bytes)
//   and no later one is;
// - an authentication frame is accepted exactly when its digits spell the bridge's secret;
// - a failed reader stays failed whatever arrives later, and a reset one reads a valid stream.
//
// Usage: frame_reader_fuzz [--iterations N] [--seed S]

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "embedding/interface_frame.h"
#include "embedding/interface_secret.h"

namespace {

using pel_mora::embedding::BuildFrame;
using pel_mora::embedding::Frame;
using pel_mora::embedding::FrameKind;
using pel_mora::embedding::FrameReader;
using pel_mora::embedding::FrameSender;
using pel_mora::embedding::InterfaceSecret;
using Bytes = std::vector<uint8_t>;

// The secret the fuzzed bridge holds: streams open with its frame, which mutations then damage.
InterfaceSecret BridgeSecret() {
  InterfaceSecret secret{};
  for (size_t index = 0; index < secret.size(); ++index) {
    secret[index] = static_cast<uint8_t>(0xA5 ^ (index * 37));
  }
  return secret;
}

// Stops the run with the input that broke a property, so it can be replayed.
[[noreturn]] void Fail(const char* property, const Bytes& input) {
  std::fprintf(stderr, "frame_reader_fuzz: %s\ninput (%zu bytes):", property, input.size());
  for (const uint8_t byte : input) {
    std::fprintf(stderr, " %02X", byte);
  }
  std::fprintf(stderr, "\n");
  std::abort();
}

struct Outcome {
  std::vector<Frame> frames;
  FrameReader::Status last = FrameReader::Status::kNeedMoreBytes;
  std::string failure;
};

bool SameFrame(const Frame& left, const Frame& right) {
  return left.kind == right.kind && left.id == right.id && left.channel == right.channel &&
         left.payload == right.payload;
}

// Takes every frame the reader has, stopping at the first status that is not a frame.
void Drain(FrameReader& reader, Outcome* outcome) {
  for (;;) {
    Frame frame;
    outcome->last = reader.Next(&frame);
    if (outcome->last != FrameReader::Status::kFrame) {
      return;
    }
    outcome->frames.push_back(std::move(frame));
  }
}

Outcome ReadInPieces(const Bytes& input, std::mt19937_64& random, bool whole) {
  FrameReader reader(FrameSender::kInterface);
  Outcome outcome;
  size_t offset = 0;
  while (offset < input.size()) {
    const size_t piece = whole ? input.size() : 1 + static_cast<size_t>(random() % 23);
    const size_t size = std::min(piece, input.size() - offset);
    reader.Append(input.data() + offset, size);
    offset += size;
    Drain(reader, &outcome);
  }
  Drain(reader, &outcome);
  outcome.failure = reader.failure();
  if (outcome.last == FrameReader::Status::kFailed) {
    // Failed for good: more bytes, even a valid stream, change nothing.
    Bytes valid = pel_mora::embedding::AuthenticationFrame(BridgeSecret());
    const std::optional<Bytes> close = BuildFrame(FrameKind::kCloseRequest, 0, "", nullptr, 0);
    valid.insert(valid.end(), close->begin(), close->end());
    reader.Append(valid.data(), valid.size());
    Frame frame;
    if (reader.Next(&frame) != FrameReader::Status::kFailed || reader.failure() != outcome.failure) {
      Fail("a failed reader recovered without a reset", input);
    }
    reader.Reset();
    reader.Append(valid.data(), valid.size());
    if (reader.Next(&frame) != FrameReader::Status::kFrame || frame.kind != FrameKind::kAuthentication ||
        reader.Next(&frame) != FrameReader::Status::kFrame || frame.kind != FrameKind::kCloseRequest) {
      Fail("a reset reader did not read a valid stream", input);
    }
  }
  return outcome;
}

// An authentication frame: the bridge's secret (in lower or upper case), another secret, or
// digits that are no secret.
Bytes AuthenticationFrameFor(std::mt19937_64& random) {
  std::string digits = pel_mora::embedding::InterfaceSecretText(BridgeSecret());
  switch (random() % 4) {
    case 0:
      for (char& digit : digits) {
        digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
      }
      break;
    case 1:
      digits[random() % digits.size()] = "0123456789abcdef"[random() % 16];
      break;
    case 2:
      digits[random() % digits.size()] = static_cast<char>(random());
      break;
    default:
      break;
  }
  return *BuildFrame(FrameKind::kAuthentication, 0, "", reinterpret_cast<const uint8_t*>(digits.data()),
                     digits.size());
}

Bytes ValidStream(std::mt19937_64& random) {
  static const char* const kChannels[] = {"", "pelmora/native", "pelmora/scan", "x"};
  static const FrameKind kKinds[] = {FrameKind::kPlatformMessage, FrameKind::kHostMessageResponse,
                                     FrameKind::kCloseRequest};
  Bytes stream;
  // Most streams open as they must; the rest try the reader with a frame of another kind first.
  if (random() % 8 != 0) {
    stream = AuthenticationFrameFor(random);
  }
  const int count = static_cast<int>(random() % 4);
  for (int index = 0; index < count; ++index) {
    // Now and then an authentication frame where none may come any more.
    if (random() % 16 == 0) {
      const Bytes again = AuthenticationFrameFor(random);
      stream.insert(stream.end(), again.begin(), again.end());
      continue;
    }
    const FrameKind kind = kKinds[random() % 3];
    const uint32_t id = kind == FrameKind::kCloseRequest ? 0 : 1 + static_cast<uint32_t>(random() % 1000);
    Bytes payload(random() % 40);
    for (uint8_t& byte : payload) {
      byte = static_cast<uint8_t>(random());
    }
    const std::optional<Bytes> frame = BuildFrame(kind, id, kChannels[random() % 4], payload.data(), payload.size());
    stream.insert(stream.end(), frame->begin(), frame->end());
  }
  return stream;
}

void Mutate(Bytes& input, std::mt19937_64& random) {
  const int mutations = 1 + static_cast<int>(random() % 3);
  for (int count = 0; count < mutations; ++count) {
    switch (random() % 6) {
      case 0:  // a bit flip
        if (!input.empty()) {
          input[random() % input.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        break;
      case 1:  // truncation
        input.resize(input.empty() ? 0 : random() % input.size());
        break;
      case 2: {  // a length field of 0, just under a header, absurd, or the limit's neighbours
        static const uint32_t kLengths[] = {0, 6, 7, 0xFFFFFFFFu, 64u * 1024u * 1024u, 64u * 1024u * 1024u + 1};
        const uint32_t length = kLengths[random() % 6];
        // The stream's first length field, little-endian.
        for (size_t byte = 0; byte < 4 && byte < input.size(); ++byte) {
          input[byte] = static_cast<uint8_t>(length >> (8 * byte));
        }
        break;
      }
      case 3: {  // random bytes inserted
        const size_t at = input.empty() ? 0 : random() % input.size();
        Bytes noise(1 + random() % 12);
        for (uint8_t& byte : noise) {
          byte = static_cast<uint8_t>(random());
        }
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), noise.begin(), noise.end());
        break;
      }
      case 4: {  // a splice of another valid stream
        const Bytes other = ValidStream(random);
        const size_t at = input.empty() ? 0 : random() % input.size();
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), other.begin(), other.end());
        break;
      }
      default:  // left valid
        break;
    }
  }
}

void Check(const Bytes& input, std::mt19937_64& random) {
  const Outcome whole = ReadInPieces(input, random, true);
  const Outcome pieces = ReadInPieces(input, random, false);
  if (whole.last != pieces.last || whole.failure != pieces.failure || whole.frames.size() != pieces.frames.size()) {
    Fail("the outcome depends on how the bytes were cut", input);
  }
  size_t offset = 0;
  for (size_t index = 0; index < whole.frames.size(); ++index) {
    const Frame& frame = whole.frames[index];
    if (!SameFrame(frame, pieces.frames[index])) {
      Fail("a frame depends on how the bytes were cut", input);
    }
    if (frame.kind != FrameKind::kPlatformMessage && frame.kind != FrameKind::kHostMessageResponse &&
        frame.kind != FrameKind::kCloseRequest && frame.kind != FrameKind::kAuthentication) {
      Fail("a frame of a kind the interface never sends was returned", input);
    }
    if ((index == 0) != (frame.kind == FrameKind::kAuthentication)) {
      Fail(index == 0 ? "a stream that does not open with an authentication frame was read"
                      : "an authentication frame after the first frame was returned",
           input);
    }
    if (frame.kind == FrameKind::kAuthentication) {
      if (frame.id != 0 || !frame.channel.empty() ||
          frame.payload.size() != pel_mora::embedding::kAuthenticationPayloadSize) {
        Fail("an authentication frame of the wrong shape was returned", input);
      }
      const std::string digits(frame.payload.begin(), frame.payload.end());
      const std::optional<InterfaceSecret> spelled = pel_mora::embedding::ParseInterfaceSecret(digits);
      const bool accepted = pel_mora::embedding::JudgeAuthentication(frame, BridgeSecret()) ==
                            pel_mora::embedding::AuthenticationVerdict::kAccepted;
      if (accepted != (spelled.has_value() && *spelled == BridgeSecret())) {
        Fail("an authentication frame was judged against what its digits spell", input);
      }
    }
    if (frame.kind == FrameKind::kPlatformMessage && frame.id == 0) {
      Fail("a platform message with id 0 was returned", input);
    }
    const std::optional<Bytes> rebuilt =
        BuildFrame(frame.kind, frame.id, frame.channel, frame.payload.data(), frame.payload.size());
    if (!rebuilt || rebuilt->size() > input.size() - offset ||
        !std::equal(rebuilt->begin(), rebuilt->end(), input.begin() + static_cast<std::ptrdiff_t>(offset))) {
      Fail("a frame is not the bytes it was cut from", input);
    }
    offset += rebuilt->size();
  }
  if (whole.last == FrameReader::Status::kFailed && whole.failure.empty()) {
    Fail("a failure without a reason", input);
  }
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 100000;
  uint64_t seed = 20261210;
  for (int index = 1; index + 1 < argc; index += 2) {
    if (std::strcmp(argv[index], "--iterations") == 0) {
      iterations = std::strtol(argv[index + 1], nullptr, 10);
    } else if (std::strcmp(argv[index], "--seed") == 0) {
      seed = std::strtoull(argv[index + 1], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: frame_reader_fuzz [--iterations N] [--seed S]\n");
      return 2;
    }
  }
  std::mt19937_64 random(seed);
  for (long iteration = 0; iteration < iterations; ++iteration) {
    Bytes input = ValidStream(random);
    Mutate(input, random);
    Check(input, random);
  }
  // Pure noise too: streams that never were frames.
  for (long iteration = 0; iteration < iterations / 10; ++iteration) {
    Bytes input(random() % 64);
    for (uint8_t& byte : input) {
      byte = static_cast<uint8_t>(random());
    }
    Check(input, random);
  }
  std::printf("frame_reader_fuzz: %ld inputs, seed %llu, every property held\n", iterations + iterations / 10,
              static_cast<unsigned long long>(seed));
  return 0;
}
