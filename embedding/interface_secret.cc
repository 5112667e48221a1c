#include "embedding/interface_secret.h"

namespace pel_mora::embedding {

namespace {

// The value of one hexadecimal digit, or -1 for any other character.
int DigitValue(char character) {
  if (character >= '0' && character <= '9') {
    return character - '0';
  }
  if (character >= 'a' && character <= 'f') {
    return character - 'a' + 10;
  }
  if (character >= 'A' && character <= 'F') {
    return character - 'A' + 10;
  }
  return -1;
}

}  // namespace

std::optional<InterfaceSecret> ParseInterfaceSecret(std::string_view text) {
  if (text.size() != 2 * kInterfaceSecretSize) {
    return std::nullopt;
  }
  InterfaceSecret secret{};
  for (size_t index = 0; index < kInterfaceSecretSize; ++index) {
    const int high = DigitValue(text[2 * index]);
    const int low = DigitValue(text[2 * index + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    secret[index] = static_cast<uint8_t>(high * 16 + low);
  }
  return secret;
}

std::string InterfaceSecretText(const InterfaceSecret& secret) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * kInterfaceSecretSize);
  for (const uint8_t byte : secret) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

bool InterfaceSecretsEqual(const InterfaceSecret& left, const InterfaceSecret& right) {
  // Every byte is looked at whatever the earlier ones were; the differences are only gathered.
  // The volatile accumulator keeps the compiler from turning the loop into an early exit.
  volatile uint8_t difference = 0;
  for (size_t index = 0; index < kInterfaceSecretSize; ++index) {
    difference = static_cast<uint8_t>(difference | (left[index] ^ right[index]));
  }
  return difference == 0;
}

AuthenticationVerdict JudgeAuthentication(const Frame& frame, const InterfaceSecret& expected) {
  const std::string_view digits(reinterpret_cast<const char*>(frame.payload.data()), frame.payload.size());
  const std::optional<InterfaceSecret> offered = ParseInterfaceSecret(digits);
  if (!offered) {
    return AuthenticationVerdict::kNotASecret;
  }
  return InterfaceSecretsEqual(*offered, expected) ? AuthenticationVerdict::kAccepted
                                                   : AuthenticationVerdict::kWrongSecret;
}

std::string_view DescribeRefusal(AuthenticationVerdict verdict) {
  switch (verdict) {
    case AuthenticationVerdict::kAccepted:
      return "accepted";
    case AuthenticationVerdict::kNotASecret:
      return "the authentication frame holds no secret of 64 hexadecimal digits";
    case AuthenticationVerdict::kWrongSecret:
      return "wrong interface secret";
  }
  return "refused";
}

std::vector<uint8_t> AuthenticationFrame(const InterfaceSecret& secret) {
  const std::string digits = InterfaceSecretText(secret);
  // 64 digits always fit a frame.
  return *BuildFrame(FrameKind::kAuthentication, 0, {}, reinterpret_cast<const uint8_t*>(digits.data()),
                     digits.size());
}

}  // namespace pel_mora::embedding
