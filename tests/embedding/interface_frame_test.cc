#include "embedding/interface_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pel_mora::embedding {
namespace {

using Bytes = std::vector<uint8_t>;

// A frame written out field by field, independent of BuildFrame, so the reader is checked
// against the wire format itself.
Bytes RawFrame(uint32_t length, uint8_t kind, uint32_t id, uint16_t channel_size, const std::string& channel,
               const Bytes& payload) {
  Bytes bytes;
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<uint8_t>(length >> shift));
  }
  bytes.push_back(kind);
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<uint8_t>(id >> shift));
  }
  bytes.push_back(static_cast<uint8_t>(channel_size));
  bytes.push_back(static_cast<uint8_t>(channel_size >> 8));
  bytes.insert(bytes.end(), channel.begin(), channel.end());
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

// A well-formed frame: its length field agrees with its content.
Bytes RawFrame(uint8_t kind, uint32_t id, const std::string& channel, const Bytes& payload) {
  return RawFrame(static_cast<uint32_t>(7 + channel.size() + payload.size()), kind, id,
                  static_cast<uint16_t>(channel.size()), channel, payload);
}

Bytes WithoutLastByte(Bytes bytes) {
  bytes.pop_back();
  return bytes;
}

Bytes Digits(size_t count) {
  Bytes digits;
  for (size_t index = 0; index < count; ++index) {
    digits.push_back(static_cast<uint8_t>("0123456789abcdef"[index % 16]));
  }
  return digits;
}

// The frame that opens every interface stream; the reader checks its shape, not its secret.
const Bytes kAuthentication = RawFrame(7, 0, "", Digits(64));

TEST(InterfaceFrameTest, BuildFrameWritesEveryFieldLittleEndian) {
  const Bytes payload = {0xAA, 0xBB, 0xCC};
  const std::optional<Bytes> frame = BuildFrame(FrameKind::kHostMessage, 0x01020304, "ab", payload.data(), 3);
  ASSERT_TRUE(frame.has_value());
  const Bytes expected = {12, 0, 0, 0, 3, 0x04, 0x03, 0x02, 0x01, 2, 0, 'a', 'b', 0xAA, 0xBB, 0xCC};
  EXPECT_EQ(*frame, expected);
}

TEST(InterfaceFrameTest, BuildFrameRefusesWhatTheFormatCannotCarry) {
  EXPECT_EQ(FrameLengthFor(0, 0), std::optional<uint32_t>(7));
  EXPECT_EQ(FrameLengthFor(65535, 0), std::optional<uint32_t>(7 + 65535));
  EXPECT_EQ(FrameLengthFor(65536, 0), std::nullopt);
  EXPECT_EQ(FrameLengthFor(3, kMaximumFrameLength - 10), std::optional<uint32_t>(kMaximumFrameLength));
  EXPECT_EQ(FrameLengthFor(3, kMaximumFrameLength - 9), std::nullopt);
  EXPECT_EQ(FrameLengthFor(0, SIZE_MAX), std::nullopt);
  const std::string long_channel(65536, 'c');
  EXPECT_FALSE(BuildFrame(FrameKind::kHostMessage, 0, long_channel, nullptr, 0).has_value());
}

// Where in the stream a case's bytes come: at its very start, or after the authentication frame
// that opens every interface stream.
enum class Opening { kStreamStart, kAfterAuthentication };

struct ReaderCase {
  const char* name;
  FrameSender sender;
  Opening opening;
  Bytes bytes;
  FrameReader::Status expected;
  // For kFailed: a word the failure must name.
  const char* failure_word;
};

class FrameReaderTableTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(FrameReaderTableTest, ReportsTheFirstFrameOrItsFault) {
  const ReaderCase& test_case = GetParam();
  FrameReader reader(test_case.sender);
  Frame frame;
  if (test_case.opening == Opening::kAfterAuthentication) {
    reader.Append(kAuthentication.data(), kAuthentication.size());
    ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
    ASSERT_EQ(frame.kind, FrameKind::kAuthentication);
  }
  reader.Append(test_case.bytes.data(), test_case.bytes.size());
  EXPECT_EQ(reader.Next(&frame), test_case.expected);
  if (test_case.expected == FrameReader::Status::kFailed) {
    EXPECT_NE(reader.failure().find(test_case.failure_word), std::string::npos) << reader.failure();
    // The framing is lost for good: more bytes do not bring the reader back.
    const Bytes good = RawFrame(1, 5, "c", {});
    reader.Append(good.data(), good.size());
    EXPECT_EQ(reader.Next(&frame), FrameReader::Status::kFailed);
  }
}

const Bytes kHeaderOnlyOverLimit = {0x01, 0x00, 0x00, 0x04};  // 64 MiB + 1, nothing after it.
const Bytes kHeaderOnlyAtLimit = {0x00, 0x00, 0x00, 0x04, 0x01};  // Exactly 64 MiB, kind 1 so far.
// An authentication frame announcing 64 MiB: refused before any of it is buffered.
const Bytes kHugeAuthenticationHeader = {0x00, 0x00, 0x00, 0x04, 0x07};

constexpr FrameSender kInterface = FrameSender::kInterface;
constexpr FrameSender kHost = FrameSender::kHost;
constexpr Opening kStart = Opening::kStreamStart;
constexpr Opening kAuthenticated = Opening::kAfterAuthentication;

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameReaderTableTest,
    ::testing::Values(
        ReaderCase{"authentication_opens_the_stream", kInterface, kStart, kAuthentication,
                   FrameReader::Status::kFrame, ""},
        ReaderCase{"authentication_in_upper_case_digits_is_for_the_bridge_to_judge", kInterface, kStart,
                   RawFrame(7, 0, "", Bytes(64, 'F')), FrameReader::Status::kFrame, ""},
        ReaderCase{"platform_message", kInterface, kAuthenticated, RawFrame(1, 7, "ch", {1, 2}),
                   FrameReader::Status::kFrame, ""},
        ReaderCase{"close_request", kInterface, kAuthenticated, RawFrame(5, 0, "", {}), FrameReader::Status::kFrame,
                   ""},
        ReaderCase{"hello_from_host", kHost, kStart, RawFrame(6, 0, "", {0}), FrameReader::Status::kFrame, ""},
        ReaderCase{"length_field_incomplete", kInterface, kAuthenticated, Bytes{9, 0, 0},
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"payload_truncated", kInterface, kAuthenticated, WithoutLastByte(RawFrame(1, 7, "ch", {1, 2, 3, 4})),
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"authentication_truncated", kInterface, kStart, WithoutLastByte(kAuthentication),
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"at_the_limit_waits_for_the_rest", kInterface, kAuthenticated, kHeaderOnlyAtLimit,
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"platform_message_before_authentication", kInterface, kStart, RawFrame(1, 7, "ch", {1, 2}),
                   FrameReader::Status::kFailed, "first frame is kind 1"},
        ReaderCase{"close_request_before_authentication", kInterface, kStart, RawFrame(5, 0, "", {}),
                   FrameReader::Status::kFailed, "not the authentication frame"},
        ReaderCase{"huge_platform_message_before_authentication", kInterface, kStart, kHeaderOnlyAtLimit,
                   FrameReader::Status::kFailed, "first frame"},
        ReaderCase{"second_authentication", kInterface, kAuthenticated, kAuthentication, FrameReader::Status::kFailed,
                   "second authentication"},
        ReaderCase{"authentication_with_a_digit_too_many", kInterface, kStart, RawFrame(7, 0, "", Digits(65)),
                   FrameReader::Status::kFailed, "length 72"},
        ReaderCase{"authentication_without_digits", kInterface, kStart, RawFrame(7, 0, "", {}),
                   FrameReader::Status::kFailed, "length 7"},
        ReaderCase{"authentication_announcing_the_limit", kInterface, kStart, kHugeAuthenticationHeader,
                   FrameReader::Status::kFailed, "authentication frame of length"},
        ReaderCase{"authentication_with_an_id", kInterface, kStart, RawFrame(7, 9, "", Digits(64)),
                   FrameReader::Status::kFailed, "an id"},
        ReaderCase{"authentication_with_a_channel", kInterface, kStart, RawFrame(7, 0, "c", Digits(63)),
                   FrameReader::Status::kFailed, "a channel"},
        ReaderCase{"authentication_sent_by_the_host", kHost, kStart, kAuthentication, FrameReader::Status::kFailed,
                   "direction"},
        ReaderCase{"length_below_header", kInterface, kAuthenticated, RawFrame(6, 1, 7, 0, "", {}),
                   FrameReader::Status::kFailed, "shorter"},
        ReaderCase{"length_zero", kInterface, kStart, Bytes{0, 0, 0, 0}, FrameReader::Status::kFailed, "shorter"},
        ReaderCase{"over_the_limit_known_from_the_length_alone", kInterface, kAuthenticated, kHeaderOnlyOverLimit,
                   FrameReader::Status::kFailed, "limit"},
        ReaderCase{"kind_zero", kInterface, kAuthenticated, RawFrame(0, 1, "", {}), FrameReader::Status::kFailed,
                   "unknown"},
        ReaderCase{"kind_eight", kInterface, kStart, RawFrame(8, 1, "", {}), FrameReader::Status::kFailed, "unknown"},
        ReaderCase{"response_sent_by_the_interface", kInterface, kAuthenticated, RawFrame(2, 1, "", {}),
                   FrameReader::Status::kFailed, "direction"},
        ReaderCase{"hello_sent_by_the_interface", kInterface, kStart, RawFrame(6, 0, "", {}),
                   FrameReader::Status::kFailed, "direction"},
        ReaderCase{"platform_message_sent_by_the_host", kHost, kStart, RawFrame(1, 1, "c", {}),
                   FrameReader::Status::kFailed, "direction"},
        ReaderCase{"channel_longer_than_frame", kInterface, kAuthenticated, RawFrame(9, 1, 1, 3, "abc", {}),
                   FrameReader::Status::kFailed, "channel"},
        ReaderCase{"platform_message_without_id", kInterface, kAuthenticated, RawFrame(1, 0, "c", {}),
                   FrameReader::Status::kFailed, "id 0"}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return std::string(info.param.name); });

TEST(InterfaceFrameTest, ReaderCutsFramesArrivingByteByByte) {
  Bytes stream = kAuthentication;
  const Bytes first = RawFrame(1, 0xA1B2C3D4, "com.pelmora.app/native", {0, 1, 2, 3, 254, 255});
  stream.insert(stream.end(), first.begin(), first.end());
  const Bytes second = RawFrame(4, 9, "", {});
  const Bytes third = RawFrame(5, 0, "", {});
  stream.insert(stream.end(), second.begin(), second.end());
  stream.insert(stream.end(), third.begin(), third.end());

  FrameReader reader(FrameSender::kInterface);
  std::vector<Frame> frames;
  for (const uint8_t byte : stream) {
    reader.Append(&byte, 1);
    Frame frame;
    while (reader.Next(&frame) == FrameReader::Status::kFrame) {
      frames.push_back(frame);
    }
  }
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].kind, FrameKind::kAuthentication);
  EXPECT_EQ(frames[0].payload, Digits(64));
  EXPECT_EQ(frames[1].kind, FrameKind::kPlatformMessage);
  EXPECT_EQ(frames[1].id, 0xA1B2C3D4u);
  EXPECT_EQ(frames[1].channel, "com.pelmora.app/native");
  EXPECT_EQ(frames[1].payload, (Bytes{0, 1, 2, 3, 254, 255}));
  EXPECT_EQ(frames[2].kind, FrameKind::kHostMessageResponse);
  EXPECT_EQ(frames[2].id, 9u);
  EXPECT_TRUE(frames[2].payload.empty());
  EXPECT_EQ(frames[3].kind, FrameKind::kCloseRequest);
}

TEST(InterfaceFrameTest, ReaderReadsWhatBuildFrameWrote) {
  const Bytes payload(70000, 0x5A);
  const std::optional<Bytes> built = BuildFrame(FrameKind::kHostMessage, 42, "events", payload.data(), payload.size());
  ASSERT_TRUE(built.has_value());
  FrameReader reader(FrameSender::kHost);
  reader.Append(built->data(), built->size());
  Frame frame;
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  EXPECT_EQ(frame.kind, FrameKind::kHostMessage);
  EXPECT_EQ(frame.id, 42u);
  EXPECT_EQ(frame.channel, "events");
  EXPECT_EQ(frame.payload, payload);
  EXPECT_EQ(reader.Next(&frame), FrameReader::Status::kNeedMoreBytes);
}

TEST(InterfaceFrameTest, ResetStartsAFreshStreamThatOpensWithItsOwnAuthentication) {
  FrameReader reader(FrameSender::kInterface);
  Frame frame;
  reader.Append(kAuthentication.data(), kAuthentication.size());
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  const Bytes bad = RawFrame(3, 1, "", {});
  reader.Append(bad.data(), bad.size());
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFailed);

  // The authentication of the stream before counts for nothing in the next one.
  reader.Reset();
  const Bytes good = RawFrame(1, 3, "x", {7});
  reader.Append(good.data(), good.size());
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFailed);
  EXPECT_NE(reader.failure().find("first frame"), std::string::npos) << reader.failure();

  reader.Reset();
  reader.Append(kAuthentication.data(), kAuthentication.size());
  reader.Append(good.data(), good.size());
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  EXPECT_EQ(frame.payload, Bytes{7});
}

}  // namespace
}  // namespace pel_mora::embedding
