#include "cli/bridge_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "cli/bridge_client.h"

namespace pel_mora::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

TEST(BridgeFrameTest, EncodesTheLayoutByteForByte) {
  Frame frame;
  frame.kind = FrameKind::kMessage;
  frame.id = 0x01020304;
  frame.channel = "ab";
  frame.payload = {0xEE, 0xFF};
  // length 11 = 1 kind + 4 id + 2 channel length + 2 channel + 2 payload, all little-endian.
  EXPECT_THAT(EncodeFrame(frame), ElementsAre(11, 0, 0, 0, 1, 0x04, 0x03, 0x02, 0x01, 2, 0, 'a', 'b', 0xEE, 0xFF));
}

TEST(BridgeFrameTest, CloseRequestIsAHeaderOnly) {
  Frame frame;
  frame.kind = FrameKind::kCloseRequest;
  EXPECT_THAT(EncodeFrame(frame), ElementsAre(7, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0));
}

TEST(BridgeFrameTest, RefusesFramesTheHostWouldRefuse) {
  Frame long_channel;
  long_channel.channel.assign(0x10000, 'c');
  EXPECT_THROW(EncodeFrame(long_channel), std::length_error);

  Frame too_large;
  too_large.payload.resize(kMaxFrameLength - kFrameHeaderSize + 1);
  EXPECT_THROW(EncodeFrame(too_large), std::length_error);

  Frame largest;
  largest.payload.resize(kMaxFrameLength - kFrameHeaderSize);
  EXPECT_EQ(EncodeFrame(largest).size(), 4 + size_t{kMaxFrameLength});
}

TEST(BridgeFrameTest, ReadsFramesArrivingInAnyPieces) {
  Frame first;
  first.kind = FrameKind::kHostMessage;
  first.id = 0;
  first.channel = "com.pelmora.app/scan";
  first.payload = {0, 1};
  Frame second;
  second.kind = FrameKind::kResponse;
  second.id = 77;
  std::vector<uint8_t> stream = EncodeFrame(first);
  const std::vector<uint8_t> second_bytes = EncodeFrame(second);
  stream.insert(stream.end(), second_bytes.begin(), second_bytes.end());

  // One byte at a time is the hardest split: every field boundary falls between two appends.
  FrameReader reader;
  std::vector<Frame> frames;
  for (uint8_t byte : stream) {
    reader.Append(&byte, 1);
    Frame frame;
    while (reader.Next(&frame) == FrameReader::Status::kFrame) {
      frames.push_back(frame);
    }
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].kind, FrameKind::kHostMessage);
  EXPECT_EQ(frames[0].channel, "com.pelmora.app/scan");
  EXPECT_THAT(frames[0].payload, ElementsAre(0, 1));
  EXPECT_EQ(frames[1].kind, FrameKind::kResponse);
  EXPECT_EQ(frames[1].id, 77u);
  EXPECT_TRUE(frames[1].channel.empty());
  EXPECT_TRUE(frames[1].payload.empty());
  EXPECT_EQ(reader.buffered_bytes(), 0u);
}

TEST(BridgeFrameTest, MalformedStreamsAreReportedAndStayMalformed) {
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
  };
  const Case cases[] = {
      // Refused from the length alone, before 64 MiB more are waited for.
      {{0x01, 0x00, 0x00, 0x04}, "passes the 64 MiB limit"},
      {{6, 0, 0, 0, 1, 0, 0, 0, 0, 0}, "shorter than the 7-byte header"},
      {{7, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0}, "unknown frame kind 9"},
      {{7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "unknown frame kind 0"},
      {{8, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 'x'}, "channel length 2 passes the end"},
  };
  for (const Case& test_case : cases) {
    FrameReader reader;
    reader.Append(test_case.bytes.data(), test_case.bytes.size());
    Frame frame;
    EXPECT_EQ(reader.Next(&frame), FrameReader::Status::kMalformed);
    EXPECT_THAT(reader.error(), HasSubstr(test_case.message));
    // A byte stream cannot be resynchronised after a bad length.
    const uint8_t more[11] = {7, 0, 0, 0, 2, 1, 0, 0, 0, 0, 0};
    reader.Append(more, sizeof(more));
    EXPECT_EQ(reader.Next(&frame), FrameReader::Status::kMalformed);
  }
}

TEST(BridgeFrameTest, LargestFrameIsAccepted) {
  FrameReader reader;
  const uint8_t header[] = {0x00, 0x00, 0x00, 0x04, 2, 1, 0, 0, 0, 0, 0};
  reader.Append(header, sizeof(header));
  Frame frame;
  EXPECT_EQ(reader.Next(&frame), FrameReader::Status::kNeedMoreBytes);
  const std::vector<uint8_t> payload(kMaxFrameLength - kFrameHeaderSize, 0xAB);
  reader.Append(payload.data(), payload.size());
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  EXPECT_EQ(frame.payload.size(), payload.size());
}

TEST(DecodeReplyTest, TellsTheEnvelopesApart) {
  // Success with a value, success without one, an error, the empty not-implemented reply, junk.
  EXPECT_EQ(DecodeReply({0x00, 0x01}).kind, ReplyKind::kSuccess);
  EXPECT_EQ(DecodeReply({0x00, 0x01}).value, flutter::EncodableValue(true));
  EXPECT_EQ(DecodeReply({0x00, 0x00}).kind, ReplyKind::kSuccess);
  EXPECT_TRUE(DecodeReply({0x00, 0x00}).value.IsNull());

  const Reply error = DecodeReply({0x01, 0x07, 0x01, 'E', 0x07, 0x02, 'h', 'i', 0x00});
  EXPECT_EQ(error.kind, ReplyKind::kError);
  EXPECT_EQ(error.error_code, "E");
  EXPECT_EQ(error.error_message, "hi");
  EXPECT_TRUE(error.error_details.IsNull());

  EXPECT_EQ(DecodeReply({}).kind, ReplyKind::kNotImplemented);
  const Reply junk = DecodeReply({0x09, 0x01});
  EXPECT_EQ(junk.kind, ReplyKind::kMalformed);
  EXPECT_THAT(junk.bytes, ElementsAreArray({0x09, 0x01}));
}

}  // namespace
}  // namespace pel_mora::cli
