#include "plugin/key_store/key_file_name.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace pel_mora {
namespace {

std::string Hex(const std::array<uint8_t, 32>& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0xF]);
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& character : text) {
    character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
  }
  return text;
}

TEST(Sha256Test, KnownDigestsAcrossTheBlockBoundaries) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first block, so the padding takes a second one.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(Hex(Sha256(test_case.input)), test_case.digest) << test_case.input.size() << " bytes";
  }
}

TEST(SanitizeKeyNameTest, ReplacesOnlyUnsafeBytes) {
  EXPECT_EQ(SanitizeKeyName("a/b\\c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
  // Ten bytes: the literal's own terminating NUL is part of the key and is replaced too.
  EXPECT_EQ(SanitizeKeyName(std::string("tab\there\x01", 10)), "tab_here__");
  EXPECT_EQ(SanitizeKeyName("caf\xC3\xA9.token"), "caf\xC3\xA9.token");
}

// Keys that the older names put into one file (or that Windows would treat as one file or as a
// device) each get a file name of their own, even compared without case.
TEST(KeyFileStemTest, DistinctKeysNeverShareAFile) {
  const std::string keys[] = {"a/b", "a_b", "a:b", "Token", "token", "TOKEN", "NUL", "nul.txt",
                              "CON", "COM1", "LPT1", "AUX", "PRN", "caf\xC3\xA9", "caf\xC3\xA8",
                              std::string(40, 'x'), std::string(40, 'x') + "y"};
  std::set<std::string> names;
  for (const std::string& key : keys) {
    const std::string stem = KeyFileStem(key);
    EXPECT_TRUE(names.insert(Lower(stem)).second) << "shared file name " << stem;
    // Only plain characters, never a dot: a device name such as NUL cannot be the base name.
    for (char character : stem) {
      EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(character)) || character == '-' || character == '_')
          << stem;
    }
  }
}

// Every stored secret is found by its file's name, so a changed naming scheme would orphan them
// all. The expected names were worked out without this code: the first 32 bytes of the key with
// every byte other than an ASCII letter, digit, '-' or '_' replaced by '_', then '-' and the
// first 32 hex digits of `printf '%s' KEY | sha256sum`.
TEST(KeyFileStemTest, NamesAreTheOnesStoredSecretsAreFoundBy) {
  struct Case {
    const char* description;
    std::string key;
    const char* stem;
  };
  const Case cases[] = {
      {"a short key", "api/token", "api_token-cc4a1245727dd035f671d942d05b3d16"},
      {"the empty key", "", "-e3b0c44298fc1c149afbf4c8996fb924"},
      // 51 bytes: only the first 32 are readable, and each byte of the two-byte e-acute is one '_'.
      {"a long key with a non-ASCII letter", "Pelmora:caf\xC3\xA9/sync-token for the account of someone",
       "Pelmora_caf___sync-token_for_the-12f5a15cfa2e704d562bba87b5699f78"},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(KeyFileStem(test_case.key), test_case.stem) << test_case.description;
  }
}

}  // namespace
}  // namespace pel_mora
