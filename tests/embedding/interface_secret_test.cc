#include "embedding/interface_secret.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pel_mora::embedding {
namespace {

// A secret of known bytes: 00 11 22 ... FF, then 11 22 ... FF 10.
InterfaceSecret CountingSecret() {
  InterfaceSecret secret{};
  for (size_t index = 0; index < secret.size(); ++index) {
    secret[index] = static_cast<uint8_t>(index * 0x11 + index / 16);
  }
  return secret;
}

const std::string kCountingText = InterfaceSecretText(CountingSecret());

struct ParseCase {
  const char* name;
  std::string text;
  bool valid;
};

class ParseInterfaceSecretTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseInterfaceSecretTest, AcceptsExactlySixtyFourHexadecimalDigits) {
  const ParseCase& test_case = GetParam();
  const std::optional<InterfaceSecret> parsed = ParseInterfaceSecret(test_case.text);
  ASSERT_EQ(parsed.has_value(), test_case.valid);
  if (test_case.valid) {
    EXPECT_EQ(*parsed, CountingSecret());
  }
}

std::string Upper(std::string text) {
  for (char& character : text) {
    if (character >= 'a' && character <= 'f') {
      character = static_cast<char>(character - 'a' + 'A');
    }
  }
  return text;
}

std::string WithCharacterAt(std::string text, size_t index, char character) {
  text[index] = character;
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseInterfaceSecretTest,
    ::testing::Values(ParseCase{"lower_case", kCountingText, true}, ParseCase{"upper_case", Upper(kCountingText), true},
                      ParseCase{"empty", "", false}, ParseCase{"one_digit_short", kCountingText.substr(1), false},
                      ParseCase{"one_digit_over", kCountingText + "0", false},
                      ParseCase{"line_break_after_it", kCountingText + "\n", false},
                      ParseCase{"hex_prefix", "0x" + kCountingText.substr(2), false},
                      ParseCase{"letter_after_f", WithCharacterAt(kCountingText, 63, 'g'), false},
                      ParseCase{"blank_inside", WithCharacterAt(kCountingText, 31, ' '), false},
                      ParseCase{"nul_inside", WithCharacterAt(kCountingText, 0, '\0'), false},
                      ParseCase{"character_beyond_ascii", WithCharacterAt(kCountingText, 10, '\xC3'), false}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(InterfaceSecretTest, TextIsSixtyFourLowerCaseDigitsThatParseBack) {
  EXPECT_EQ(kCountingText.substr(0, 8), "00112233");
  EXPECT_EQ(kCountingText.substr(32, 6), "112233");
  EXPECT_EQ(kCountingText.substr(62), "10");
  EXPECT_EQ(kCountingText.size(), 64u);
  EXPECT_EQ(ParseInterfaceSecret(kCountingText), CountingSecret());
}

TEST(InterfaceSecretTest, SecretsAreEqualOnlyWhenEveryBitIs) {
  const InterfaceSecret secret = CountingSecret();
  EXPECT_TRUE(InterfaceSecretsEqual(secret, secret));
  for (const size_t index : {size_t{0}, size_t{13}, kInterfaceSecretSize - 1}) {
    for (const uint8_t bit : {uint8_t{0x01}, uint8_t{0x80}}) {
      InterfaceSecret other = secret;
      other[index] ^= bit;
      EXPECT_FALSE(InterfaceSecretsEqual(secret, other)) << "byte " << index << ", bit " << int{bit};
      EXPECT_FALSE(InterfaceSecretsEqual(other, secret)) << "byte " << index << ", bit " << int{bit};
    }
  }
}

Frame AuthenticationFrameWith(const std::string& digits) {
  Frame frame;
  frame.kind = FrameKind::kAuthentication;
  frame.payload.assign(digits.begin(), digits.end());
  return frame;
}

TEST(InterfaceSecretTest, JudgementAcceptsOnlyThisHostsSecretAndItsReasonNamesNoSecret) {
  const InterfaceSecret expected = CountingSecret();
  struct Case {
    const char* name;
    std::string offered;
    AuthenticationVerdict verdict;
  };
  const Case cases[] = {
      {"the secret", kCountingText, AuthenticationVerdict::kAccepted},
      {"the secret in upper case", Upper(kCountingText), AuthenticationVerdict::kAccepted},
      {"the last digit changed", WithCharacterAt(kCountingText, 63, 'e'), AuthenticationVerdict::kWrongSecret},
      {"the first digit changed", WithCharacterAt(kCountingText, 0, '1'), AuthenticationVerdict::kWrongSecret},
      {"all zeros", std::string(64, '0'), AuthenticationVerdict::kWrongSecret},
      {"not hexadecimal", WithCharacterAt(kCountingText, 5, 'z'), AuthenticationVerdict::kNotASecret},
      {"too short", kCountingText.substr(2), AuthenticationVerdict::kNotASecret},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    const AuthenticationVerdict verdict = JudgeAuthentication(AuthenticationFrameWith(test_case.offered), expected);
    EXPECT_EQ(verdict, test_case.verdict);
    const std::string reason(DescribeRefusal(verdict));
    EXPECT_EQ(reason.find(kCountingText.substr(0, 8)), std::string::npos) << reason;
    EXPECT_EQ(reason.find(test_case.offered.substr(0, 8)), std::string::npos) << reason;
  }
}

TEST(InterfaceSecretTest, TheAuthenticationFrameOpensAStreamAndCarriesTheSecret) {
  const std::vector<uint8_t> bytes = AuthenticationFrame(CountingSecret());
  EXPECT_EQ(bytes.size(), 4u + 7u + 64u);
  FrameReader reader(FrameSender::kInterface);
  reader.Append(bytes.data(), bytes.size());
  Frame frame;
  ASSERT_EQ(reader.Next(&frame), FrameReader::Status::kFrame);
  EXPECT_EQ(frame.kind, FrameKind::kAuthentication);
  EXPECT_EQ(frame.id, 0u);
  EXPECT_EQ(frame.channel, "");
  EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), kCountingText);
  EXPECT_EQ(JudgeAuthentication(frame, CountingSecret()), AuthenticationVerdict::kAccepted);
}

}  // namespace
}  // namespace pel_mora::embedding
