// A deterministic fuzzer for the interface bridge's frame reader. It mutates streams of valid
// frames (bit flips, truncation, overwritten length fields, random bytes, splices) with a seeded
// generator and feeds each stream to a reader in one piece and to another in random pieces.
// Properties checked on every input:
// - both readers return the same frames and end in the same state with the same failure text, so
//   no frame depends on how the network cut the bytes;
// - each returned frame, written again, is exactly the bytes it was cut from, in order;
// - a returned frame is one the interface may send (kind 1, 4 or 5; a platform message never
//   has id 0);
// - a failed reader stays failed whatever arrives later, and a reset one reads a valid frame.
//
// Usage: frame_reader_fuzz [--iterations N] [--seed S]

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "embedding/interface_frame.h"

namespace {

using pel_mora::embedding::BuildFrame;
using pel_mora::embedding::Frame;
using pel_mora::embedding::FrameKind;
using pel_mora::embedding::FrameReader;
using pel_mora::embedding::FrameSender;
using Bytes = std::vector<uint8_t>;

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
    // Failed for good: more bytes, even a valid frame, change nothing.
    const std::optional<Bytes> valid = BuildFrame(FrameKind::kCloseRequest, 0, "", nullptr, 0);
    reader.Append(valid->data(), valid->size());
    Frame frame;
    if (reader.Next(&frame) != FrameReader::Status::kFailed || reader.failure() != outcome.failure) {
      Fail("a failed reader recovered without a reset", input);
    }
    reader.Reset();
    reader.Append(valid->data(), valid->size());
    if (reader.Next(&frame) != FrameReader::Status::kFrame || frame.kind != FrameKind::kCloseRequest) {
      Fail("a reset reader did not read a valid frame", input);
    }
  }
  return outcome;
}

Bytes ValidStream(std::mt19937_64& random) {
  static const char* const kChannels[] = {"", "pelmora/native", "pelmora/scan", "x"};
  static const FrameKind kKinds[] = {FrameKind::kPlatformMessage, FrameKind::kHostMessageResponse,
                                     FrameKind::kCloseRequest};
  Bytes stream;
  const int count = 1 + static_cast<int>(random() % 4);
  for (int index = 0; index < count; ++index) {
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
        frame.kind != FrameKind::kCloseRequest) {
      Fail("a frame of a kind the interface never sends was returned", input);
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
