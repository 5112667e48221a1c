// Authenticode verification under Wine, of files signed at test time with a throwaway root
// (made by make_signed_files.sh before this test runs): signatures embedded in executables, and
// text files signed through catalogues added to the prefix's catalogue store while a test runs.

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>
#include <mscat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel/encodable_value.h"
#include "channel/method_call.h"
#include "plugin/method_dispatcher.h"
#include "plugin/signatures/catalogue_calls_win32.h"
#include "plugin/signatures/catalogue_verification.h"
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

// A catalogue in the prefix's catalogue store (below system32\catroot) for the object's lifetime.
// The ctest entry holds the lock "trusted_roots", which covers the store as well.
class InstalledCatalogue {
 public:
  InstalledCatalogue(const std::wstring& file, const std::wstring& name) : name_(name) {
    GUID subsystem = DRIVER_ACTION_VERIFY;
    if (!CryptCATAdminAcquireContext(&admin_, &subsystem, 0)) {
      throw std::runtime_error("CryptCATAdminAcquireContext failed (" + std::to_string(GetLastError()) + ")");
    }
    std::wstring writable_file = file;
    const HCATINFO added = CryptCATAdminAddCatalog(admin_, writable_file.data(), name_.data(), 0);
    if (added == nullptr) {
      const DWORD error = GetLastError();
      CryptCATAdminReleaseContext(admin_, 0);
      throw std::runtime_error("CryptCATAdminAddCatalog failed (" + std::to_string(error) + ")");
    }
    CryptCATAdminReleaseCatalogContext(admin_, added, 0);
  }
  ~InstalledCatalogue() {
    CryptCATAdminRemoveCatalog(admin_, name_.c_str(), 0);
    CryptCATAdminReleaseContext(admin_, 0);
  }
  InstalledCatalogue(const InstalledCatalogue&) = delete;
  InstalledCatalogue& operator=(const InstalledCatalogue&) = delete;

 private:
  std::wstring name_;
  HCATADMIN admin_ = nullptr;
};

TEST(VerifyAuthenticodeTest, FilesWithoutTheirOwnSignatureVerifyThroughACatalogue) {
  const TrustedRoot root(FileBytes(SignedFile(L"root.cer")));
  // Before any catalogue lists it, a text file has no signature at all.
  EXPECT_EQ(Verify(SignedFile(L"catalogued.txt")), EncodableValue(false));

  const InstalledCatalogue catalogue(SignedFile(L"catalogue.cat"), L"pelmora-test-catalogue.cat");
  const InstalledCatalogue tampered(SignedFile(L"tampered.cat"), L"pelmora-test-tampered.cat");
  struct Case {
    const wchar_t* name;
    bool verifies;
  };
  const std::vector<Case> cases = {
      {L"catalogued.txt", true},
      // Listed, but in a catalogue whose signature no longer matches its list.
      {L"tampered_catalogued.txt", false},
      // One byte differs from the listed file, so its hash is listed nowhere.
      {L"changed_catalogued.txt", false},
      {L"unsigned.exe", false},
      // A signature in the file still decides on its own.
      {L"signed.exe", true},
      {L"tampered.exe", false},
      {L"missing.txt", false},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(WideToUtf8(test_case.name));
    EXPECT_EQ(Verify(SignedFile(test_case.name)), EncodableValue(test_case.verifies));
  }
}

// The real catalogue calls, counted: every context and catalogue acquired is released once.
class CountingCatalogueCalls : public CatalogueCalls {
 public:
  explicit CountingCatalogueCalls(CatalogueCalls& real) : real_(real) {}

  bool AcquireContext(HashAlgorithm algorithm, AdminContext& context) override {
    const bool acquired = real_.AcquireContext(algorithm, context);
    contexts_acquired += acquired ? 1 : 0;
    return acquired;
  }
  void ReleaseContext(AdminContext context) override {
    ++contexts_released;
    real_.ReleaseContext(context);
  }
  bool CalculateFileHash(AdminContext context, std::vector<uint8_t>& hash) override {
    return real_.CalculateFileHash(context, hash);
  }
  bool FindCatalogue(AdminContext context, const std::vector<uint8_t>& hash, CatalogueContext& catalogue) override {
    const bool found = real_.FindCatalogue(context, hash, catalogue);
    catalogues_found += found ? 1 : 0;
    return found;
  }
  void ReleaseCatalogue(AdminContext context, CatalogueContext catalogue) override {
    ++catalogues_released;
    real_.ReleaseCatalogue(context, catalogue);
  }
  bool CatalogueVerifies(AdminContext context, CatalogueContext catalogue, const std::vector<uint8_t>& hash,
                         const std::wstring& member_tag) override {
    return real_.CatalogueVerifies(context, catalogue, hash, member_tag);
  }

  int contexts_acquired = 0;
  int contexts_released = 0;
  int catalogues_found = 0;
  int catalogues_released = 0;

 private:
  CatalogueCalls& real_;
};

TEST(CatalogueCallsTest, RealCallsGiveEachVerdictAndReleaseWhatTheyAcquire) {
  const TrustedRoot root(FileBytes(SignedFile(L"root.cer")));
  const InstalledCatalogue catalogue(SignedFile(L"catalogue.cat"), L"pelmora-test-catalogue.cat");
  const InstalledCatalogue tampered(SignedFile(L"tampered.cat"), L"pelmora-test-tampered.cat");
  struct Case {
    const wchar_t* name;
    std::vector<CatalogueVerdict> verdicts;  // Any of these.
    int catalogues;
  };
  // Where the system cannot hash for SHA-256 catalogues (Wine 8), the file is looked up under
  // SHA-1 only, and the missing SHA-256 lookup counts as a failed step.
  const std::vector<Case> cases = {
      {L"catalogued.txt", {CatalogueVerdict::kTrusted}, 1},
      {L"tampered_catalogued.txt", {CatalogueVerdict::kNotTrusted}, 1},
      {L"changed_catalogued.txt", {CatalogueVerdict::kNotListed, CatalogueVerdict::kFailed}, 0},
      {L"unsigned.exe", {CatalogueVerdict::kNotListed, CatalogueVerdict::kFailed}, 0},
      {L"missing.txt", {CatalogueVerdict::kFailed}, 0},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(WideToUtf8(test_case.name));
    Win32CatalogueCalls real(SignedFile(test_case.name));
    CountingCatalogueCalls counting(real);
    const CatalogueVerdict verdict = VerifyThroughCatalogue(counting);
    EXPECT_NE(std::find(test_case.verdicts.begin(), test_case.verdicts.end(), verdict), test_case.verdicts.end())
        << "verdict " << static_cast<int>(verdict);
    EXPECT_GE(counting.contexts_acquired, 1) << "no catalogue context at all";
    EXPECT_EQ(counting.contexts_released, counting.contexts_acquired);
    EXPECT_EQ(counting.catalogues_found, test_case.catalogues);
    EXPECT_EQ(counting.catalogues_released, counting.catalogues_found);
  }
}

}  // namespace
}  // namespace pel_mora
