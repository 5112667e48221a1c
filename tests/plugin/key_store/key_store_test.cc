// The key store in the test prefix's own local application data folder. Every key here carries
// the test's own prefix, so tests of other executables running at the same time never meet them.

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "plugin/key_store/key_file_name.h"
#include "plugin/key_store/key_store.h"
#include "plugin/operations.h"
#include "plugin/string_conversion.h"

namespace pel_mora {
namespace {

flutter::EncodableValue Value(const WorkerReply& reply) {
  const auto* value = std::get_if<flutter::EncodableValue>(&reply);
  EXPECT_NE(value, nullptr) << "the operation did not answer with a value";
  return value != nullptr ? *value : flutter::EncodableValue();
}

std::wstring StoreFolder() {
  wchar_t local_app_data[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local_app_data)));
  return std::wstring(local_app_data) + L"\\Pelmora\\Secure";
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring CurrentFile(const std::string& key) {
  return StoreFolder() + L"\\" + Utf8ToWide(KeyFileStem(key)) + L".dpapi";
}

std::wstring OlderFile(const std::string& key) {
  return StoreFolder() + L"\\" + Utf8ToWide(SanitizeKeyName(key)) + L".dpapi";
}

class KeyStoreTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* key : {"kstest:value", "kstest/a/b", "kstest/a_b", "kstest-Token", "kstest-token",
                            "NUL", "kstest-older", "kstest-other", "kstest-empty"}) {
      SecureDeleteOperation(key);
    }
  }
};

TEST_F(KeyStoreTest, WrittenValueReadsBackAndIsNotStoredInPlain) {
  const std::string value = "s3cr\xC3\xA9t value with a long recognisable tail 0123456789";
  EXPECT_EQ(Value(SecureWriteOperation("kstest:value", value)), flutter::EncodableValue(true));
  EXPECT_EQ(Value(SecureReadOperation("kstest:value")), flutter::EncodableValue(value));
  const std::string stored = FileBytes(CurrentFile("kstest:value"));
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored.find("recognisable"), std::string::npos);
}

TEST_F(KeyStoreTest, KeysTheOlderNamesMergedKeepTheirOwnValues) {
  struct Pair {
    const char* first;
    const char* second;
  };
  // a/b and a_b shared a sanitised name; Token and token differ only in case, which Windows file
  // names ignore; NUL is a device name that would swallow the data.
  for (const Pair& pair : {Pair{"kstest/a/b", "kstest/a_b"}, Pair{"kstest-Token", "kstest-token"},
                           Pair{"NUL", "kstest-other"}}) {
    ASSERT_EQ(Value(SecureWriteOperation(pair.first, "first")), flutter::EncodableValue(true)) << pair.first;
    ASSERT_EQ(Value(SecureWriteOperation(pair.second, "second")), flutter::EncodableValue(true)) << pair.second;
    EXPECT_EQ(Value(SecureReadOperation(pair.first)), flutter::EncodableValue("first")) << pair.first;
    EXPECT_EQ(Value(SecureReadOperation(pair.second)), flutter::EncodableValue("second")) << pair.second;
  }
}

TEST_F(KeyStoreTest, ValueUnderTheOlderNameIsReadMovedAndDeletedOnlyByItsOwnKey) {
  // Store a value the way older versions did: under the sanitised name.
  ASSERT_EQ(Value(SecureWriteOperation("kstest-older", "old value")), flutter::EncodableValue(true));
  ASSERT_TRUE(MoveFileExW(CurrentFile("kstest-older").c_str(), OlderFile("kstest-older").c_str(),
                          MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Value(SecureReadOperation("kstest-older")), flutter::EncodableValue("old value"));

  // Another key never deletes a file it cannot decrypt.
  EXPECT_EQ(Value(SecureDeleteOperation("kstest-other")), flutter::EncodableValue(true));
  EXPECT_TRUE(Exists(OlderFile("kstest-older")));

  // The next write moves the value to the key's own file.
  ASSERT_EQ(Value(SecureWriteOperation("kstest-older", "new value")), flutter::EncodableValue(true));
  EXPECT_FALSE(Exists(OlderFile("kstest-older")));
  EXPECT_EQ(Value(SecureReadOperation("kstest-older")), flutter::EncodableValue("new value"));

  // And delete removes an older file of its own.
  ASSERT_TRUE(CopyFileW(CurrentFile("kstest-older").c_str(), OlderFile("kstest-older").c_str(), FALSE));
  EXPECT_EQ(Value(SecureDeleteOperation("kstest-older")), flutter::EncodableValue(true));
  EXPECT_FALSE(Exists(OlderFile("kstest-older")));
  EXPECT_EQ(Value(SecureReadOperation("kstest-older")), flutter::EncodableValue(false));
}

TEST_F(KeyStoreTest, AFileCopiedToAnotherKeyDoesNotDecrypt) {
  ASSERT_EQ(Value(SecureWriteOperation("kstest:value", "mine")), flutter::EncodableValue(true));
  ASSERT_TRUE(CopyFileW(CurrentFile("kstest:value").c_str(), CurrentFile("kstest-other").c_str(), FALSE));
  EXPECT_EQ(Value(SecureReadOperation("kstest-other")), flutter::EncodableValue(false));
}

TEST_F(KeyStoreTest, EdgeCases) {
  EXPECT_EQ(Value(SecureReadOperation("kstest-never-written")), flutter::EncodableValue(false));
  EXPECT_EQ(Value(SecureDeleteOperation("kstest-never-written")), flutter::EncodableValue(true));
  EXPECT_EQ(Value(SecureWriteOperation("", "value")), flutter::EncodableValue(false));
  EXPECT_EQ(Value(SecureDeleteOperation("")), flutter::EncodableValue(true));
  EXPECT_FALSE(Exists(StoreFolder() + L"\\.dpapi"));
  // An empty value cannot be told apart from a missing one.
  EXPECT_EQ(Value(SecureWriteOperation("kstest-empty", "")), flutter::EncodableValue(true));
  EXPECT_EQ(Value(SecureReadOperation("kstest-empty")), flutter::EncodableValue(false));
}

TEST_F(KeyStoreTest, AWriteThatCannotReplaceKeepsThePreviousValue) {
  ASSERT_EQ(Value(SecureWriteOperation("kstest:value", "previous")), flutter::EncodableValue(true));
  // The replace fails, as it does when another program holds the key's file open without delete
  // sharing on Windows (Wine lets such a replace through, so the test plays the failure).
  std::wstring new_file;
  KeyStoreHooks hooks;
  hooks.replace_file = [&new_file](const std::wstring& from, const std::wstring& to) {
    new_file = from;
    EXPECT_EQ(to, CurrentFile("kstest:value"));
    // Written in full beside the key's file before it replaces it, so the replace is one move.
    EXPECT_EQ(from.rfind(StoreFolder() + L"\\", 0), 0u) << WideToUtf8(from);
    EXPECT_FALSE(FileBytes(from).empty()) << "the new value was not written before the replace";
    return false;
  };
  EXPECT_FALSE(WriteSecureValue("kstest:value", "next", hooks));
  EXPECT_EQ(Value(SecureReadOperation("kstest:value")), flutter::EncodableValue("previous"));
  ASSERT_FALSE(new_file.empty()) << "the write never tried to replace the key's file";
  EXPECT_FALSE(Exists(new_file)) << "the new value's file was left behind";
}

}  // namespace
}  // namespace pel_mora
