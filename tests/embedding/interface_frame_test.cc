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

struct ReaderCase {
  const char* name;
  FrameSender sender;
  Bytes bytes;
  FrameReader::Status expected;
  // For kFailed: a word the failure must name.
  const char* failure_word;
};

class FrameReaderTableTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(FrameReaderTableTest, ReportsTheFirstFrameOrItsFault) {
  const ReaderCase& test_case = GetParam();
  FrameReader reader(test_case.sender);
  reader.Append(test_case.bytes.data(), test_case.bytes.size());
  Frame frame;
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

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameReaderTableTest,
    ::testing::Values(
        ReaderCase{"platform_message", FrameSender::kInterface, RawFrame(1, 7, "ch", {1, 2}),
                   FrameReader::Status::kFrame, ""},
        ReaderCase{"close_request", FrameSender::kInterface, RawFrame(5, 0, "", {}), FrameReader::Status::kFrame, ""},
        ReaderCase{"hello_from_host", FrameSender::kHost, RawFrame(6, 0, "", {0}), FrameReader::Status::kFrame, ""},
        ReaderCase{"length_field_incomplete", FrameSender::kInterface, Bytes{9, 0, 0},
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"payload_truncated", FrameSender::kInterface,
                   WithoutLastByte(RawFrame(1, 7, "ch", {1, 2, 3, 4})),
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"at_the_limit_waits_for_the_rest", FrameSender::kInterface, kHeaderOnlyAtLimit,
                   FrameReader::Status::kNeedMoreBytes, ""},
        ReaderCase{"length_below_header", FrameSender::kInterface, RawFrame(6, 1, 7, 0, "", {}),
                   FrameReader::Status::kFailed, "shorter"},
        ReaderCase{"length_zero", FrameSender::kInterface, Bytes{0, 0, 0, 0}, FrameReader::Status::kFailed,
                   "shorter"},
        ReaderCase{"over_the_limit_known_from_the_length_alone", FrameSender::kInterface, kHeaderOnlyOverLimit,
                   FrameReader::Status::kFailed, "limit"},
        ReaderCase{"kind_zero", FrameSender::kInterface, RawFrame(0, 1, "", {}), FrameReader::Status::kFailed,
                   "unknown"},
        ReaderCase{"kind_seven", FrameSender::kInterface, RawFrame(7, 1, "", {}), FrameReader::Status::kFailed,
                   "unknown"},
        ReaderCase{"response_sent_by_the_interface", FrameSender::kInterface, RawFrame(2, 1, "", {}),
                   FrameReader::Status::kFailed, "direction"},
        ReaderCase{"hello_sent_by_the_interface", FrameSender::kInterface, RawFrame(6, 0, "", {}),
                   FrameReader::Status::kFailed, "direction"},
        ReaderCase{"platform_message_sent_by_the_host", FrameSender::kHost, RawFrame(1, 1, "c", {}),
                   FrameReader::Status::kFailed, "direction"},
        ReaderCase{"channel_longer_than_frame", FrameSender::kInterface, RawFrame(9, 1, 1, 3, "abc", {}),
                   FrameReader::Status::kFailed, "channel"},
        ReaderCase{"platform_message_without_id", FrameSender::kInterface, RawFrame(1, 0, "c", {}),
                   FrameReader::Status::kFailed, "id 0"}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return std::string(info.param.name); });

TEST(InterfaceFrameTest, ReaderCutsFramesArrivingByteByByte) {
  Bytes stream = RawFrame(1, 0xA1B2C3D4, "com.pelmora.app/native", {0, 1, 2, 3, 254, 255});
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
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].kind, FrameKind::kPlatformMessage);
  EXPECT_EQ(frames[0].id, 0xA1B2C3D4u);
  EXPECT_EQ(frames[0].channel, "com.pelmora.app/native");
  EXPECT_EQ(frames[0].payload, (Bytes{0, 1, 2, 3, 254, 255}));
  EXPECT_EQ(frames[1].kind, FrameKind::kHostMessageResponse);
  EXPECT_EQ(frames[1].id, 9u);
  EXPECT_TRUE(frames[1].payload.empty());
  EXPECT_EQ(frames[2].kind, FrameKind::kCloseRequest);
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

TEST(InterfaceFrameTest, ResetStartsAFreshStreamAfterAFailure) {
  FrameReader reader(FrameSender::kInterface);
  const Bytes bad = RawFrame(3, 1, "", {});
  reader.Append(bad.data(), bad.size());
  Frame frame;
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFailed);
  reader.Reset();
  const Bytes good = RawFrame(1, 3, "x", {7});
  reader.Append(good.data(), good.size());
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  EXPECT_EQ(frame.payload, Bytes{7});
}

}  // namespace
}  // namespace pel_mora::embedding
