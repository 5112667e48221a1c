// Authenticode verification under Wine, of files signed at test time with a throwaway root
// (made by make_signed_files.sh before this test runs).

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/method_dispatcher.h"
#include "plugin/string_conversion.h"
#include "tests/plugin/recording_method_result.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using testing::CompletionKind;

std::wstring SignedFile(const wchar_t* name) {
  return test_support::WindowsPathOfUnixPath(Utf8ToWide(PELMORA_SIGNED_FILES)) + L"\\" + name;
}

std::vector<BYTE> FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) {
    throw std::runtime_error("cannot read " + WideToUtf8(path) + " (did signed_files_setup run?)");
  }
  return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The throwaway root in the prefix's machine root store for the object's lifetime, so the
// signature chains to a trusted root as it must on Windows. (Wine's WinVerifyTrust accepts the
// signature even without it.) The ctest entry holds the lock "trusted_roots".
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::vector<BYTE>& certificate)
      : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root")) {
    if (store_ == nullptr) {
      throw std::runtime_error("CertOpenStore failed (" + std::to_string(GetLastError()) + ")");
    }
    if (!CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, certificate.data(),
                                          static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                          &added_)) {
      const DWORD error = GetLastError();
      CertCloseStore(store_, 0);
      throw std::runtime_error("CertAddEncodedCertificateToStore failed (" + std::to_string(error) + ")");
    }
  }
  ~TrustedRoot() {
    // Deleting also frees the context.
    CertDeleteCertificateFromStore(added_);
    CertCloseStore(store_, 0);
  }
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;

 private:
  HCERTSTORE store_;
  PCCERT_CONTEXT added_ = nullptr;
};

EncodableValue Verify(const std::wstring& path) {
  testing::RecordingResult recording;
  const flutter::MethodCall<> call(
      "verifyAuthenticode",
      std::make_unique<EncodableValue>(EncodableMap{{EncodableValue("path"), EncodableValue(WideToUtf8(path))}}));
  HandleMethodCall(call, std::move(recording.result), nullptr);
  if (!recording.record->WaitForCompletion()) {
    throw std::runtime_error("verifyAuthenticode was not answered");
  }
  const testing::RecordedReply reply = recording.record->reply();
  EXPECT_EQ(reply.kind, CompletionKind::kSuccess) << reply.error_code << " " << reply.error_message;
  return reply.value;
}

TEST(VerifyAuthenticodeTest, OnlyTheIntactSignedFileVerifies) {
  const TrustedRoot root(FileBytes(SignedFile(L"root.cer")));
  struct Case {
    std::wstring path;
    bool verifies;
  };
  std::wstring forward_slashes = SignedFile(L"signed.exe");
  for (wchar_t& character : forward_slashes) {
    if (character == L'\\') {
      character = L'/';
    }
  }
  const std::vector<Case> cases = {
      {SignedFile(L"signed.exe"), true},
      // The verifier gets the path as written; Windows file names take either separator.
      {forward_slashes, true},
      // Wine answers TRUST_E_NOSIGNATURE (0x800B0100) here.
      {SignedFile(L"unsigned.exe"), false},
      // One changed byte after signing: TRUST_E_BAD_DIGEST (0x80096010).
      {SignedFile(L"tampered.exe"), false},
      {SignedFile(L"missing.exe"), false},
      // Not an executable at all.
      {SignedFile(L"root.cer"), false},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(WideToUtf8(test_case.path));
    EXPECT_EQ(Verify(test_case.path), EncodableValue(test_case.verifies));
  }
}

}  // namespace
}  // namespace pel_mora
