// Authenticode verification with WinVerifyTrust: the signature embedded in the file, or, for a
// file without one, the security catalogue that lists its hash.

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>
#include <mscat.h>

#include <cstddef>
#include <utility>

#include "plugin/file_handle.h"
#include "plugin/operations.h"
#include "plugin/signatures/authenticode.h"
#include "plugin/signatures/catalogue_calls_win32.h"
#include "plugin/signatures/catalogue_verification.h"

namespace pel_mora {
namespace {

// WINTRUST_CATALOG_INFO as the current wintrust.dll reads it, with the admin context that tells
// it which hash algorithm the catalogue uses. SDK headers declare that last member only for some
// target versions, so the layout is spelled out here; cbStruct tells the call which members are
// present.
struct WinTrustCatalogInfo {
  DWORD cbStruct;
  DWORD dwCatalogVersion;
  const WCHAR* pcwszCatalogFilePath;
  const WCHAR* pcwszMemberTag;
  const WCHAR* pcwszMemberFilePath;
  HANDLE hMemberFile;
  BYTE* pbCalculatedFileHash;
  DWORD cbCalculatedFileHash;
  const void* pcCatalogContext;
  HANDLE hCatAdmin;
};
static_assert(offsetof(WinTrustCatalogInfo, pcCatalogContext) == offsetof(WINTRUST_CATALOG_INFO, pcCatalogContext),
              "the shared members keep the SDK's offsets");

// WINTRUST_DATA as the current wintrust.dll reads it. Some SDK headers (MinGW's among them) still
// declare the older layout that ends at dwUIContext; cbStruct tells the call which members are
// present, so it must match the structure actually passed, never claim members that are missing.
struct WinTrustData {
  DWORD cbStruct;
  void* pPolicyCallbackData;
  void* pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  union {
    WINTRUST_FILE_INFO* pFile;
    WinTrustCatalogInfo* pCatalog;
  };
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  void* pSignatureSettings;
};
#ifdef _WIN64
static_assert(sizeof(WinTrustData) == 88, "the full 64-bit WINTRUST_DATA is 88 bytes");
#endif
static_assert(offsetof(WinTrustData, dwUIContext) == offsetof(WINTRUST_DATA, dwUIContext),
              "the shared members keep the SDK's offsets");

// One WinVerifyTrust check of the generic Authenticode policy: no user interface, no revocation
// check, and only certificates already cached (a check never waits on the network). The verify
// step leaves provider state in hWVTStateData whatever it returned; the destructor frees it with
// the close action.
class TrustCheck {
 public:
  TrustCheck(DWORD union_choice, WINTRUST_FILE_INFO* file, WinTrustCatalogInfo* catalogue) {
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = union_choice;
    if (union_choice == WTD_CHOICE_CATALOG) {
      data_.pCatalog = catalogue;
    } else {
      data_.pFile = file;
    }
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    status_ = WinVerifyTrust(nullptr, &action_, &data_);
  }
  ~TrustCheck() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action_, &data_);
  }
  TrustCheck(const TrustCheck&) = delete;
  TrustCheck& operator=(const TrustCheck&) = delete;

  LONG status() const { return status_; }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WinTrustData data_ = {};
  LONG status_ = 0;
};

// The answers of the embedded check that mean the file carries no signature of its own (as
// opposed to one that is damaged or untrusted): no signature in a signable file, or a file of a
// kind with no place for one.
bool MeansNoEmbeddedSignature(LONG status) {
  const HRESULT result = static_cast<HRESULT>(status);
  return result == TRUST_E_NOSIGNATURE || result == TRUST_E_SUBJECT_FORM_UNKNOWN ||
         result == TRUST_E_PROVIDER_UNKNOWN;
}

LONG VerifyEmbeddedSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.c_str();
  const TrustCheck check(WTD_CHOICE_FILE, &file_info, nullptr);
  return check.status();
}

// The catalogue calls that choose a hash algorithm came with Windows 8 and are missing from some
// import libraries (MinGW's), so they are looked up in wintrust.dll, which WinVerifyTrust has
// already loaded. Where they are missing, SHA-1 catalogues are still searched through the older
// calls.
using AcquireContext2Function = decltype(&CryptCATAdminAcquireContext2);
using CalcHashFromFileHandle2Function = decltype(&CryptCATAdminCalcHashFromFileHandle2);

struct NewerCatalogueFunctions {
  AcquireContext2Function acquire_context = nullptr;
  CalcHashFromFileHandle2Function calc_hash_from_file_handle = nullptr;
};

template <typename Function>
Function FindWintrustFunction(HMODULE wintrust, const char* name) {
  const FARPROC address = wintrust != nullptr ? GetProcAddress(wintrust, name) : nullptr;
  // Through the generic function pointer type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

const NewerCatalogueFunctions& NewerFunctions() {
  static const NewerCatalogueFunctions functions = [] {
    const HMODULE wintrust = GetModuleHandleW(L"wintrust.dll");
    NewerCatalogueFunctions found;
    found.acquire_context = FindWintrustFunction<AcquireContext2Function>(wintrust, "CryptCATAdminAcquireContext2");
    found.calc_hash_from_file_handle =
        FindWintrustFunction<CalcHashFromFileHandle2Function>(wintrust, "CryptCATAdminCalcHashFromFileHandle2");
    return found;
  }();
  return functions;
}

bool HasNewerFunctions() {
  const NewerCatalogueFunctions& functions = NewerFunctions();
  return functions.acquire_context != nullptr && functions.calc_hash_from_file_handle != nullptr;
}

}  // namespace

Win32CatalogueCalls::Win32CatalogueCalls(std::wstring path) : path_(std::move(path)) {}

bool Win32CatalogueCalls::AcquireContext(HashAlgorithm algorithm, AdminContext& context) {
  GUID subsystem = DRIVER_ACTION_VERIFY;
  HCATADMIN admin = nullptr;
  if (HasNewerFunctions()) {
    const wchar_t* name = algorithm == HashAlgorithm::kSha256 ? L"SHA256" : L"SHA1";
    if (!NewerFunctions().acquire_context(&admin, &subsystem, name, nullptr, 0)) {
      return false;
    }
  } else {
    // The older context knows SHA-1 catalogues only.
    if (algorithm != HashAlgorithm::kSha1 || !CryptCATAdminAcquireContext(&admin, &subsystem, 0)) {
      return false;
    }
  }
  context = admin;
  return true;
}

void Win32CatalogueCalls::ReleaseContext(AdminContext context) {
  CryptCATAdminReleaseContext(context, 0);
}

bool Win32CatalogueCalls::CalculateFileHash(AdminContext context, std::vector<uint8_t>& hash) {
  const FileHandle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    return false;
  }
  // Room for the longest hash a catalogue uses; the call reports the length it wrote.
  BYTE buffer[64] = {};
  DWORD length = sizeof(buffer);
  const BOOL hashed = HasNewerFunctions()
                          ? NewerFunctions().calc_hash_from_file_handle(context, file.Get(), &length, buffer, 0)
                          : CryptCATAdminCalcHashFromFileHandle(file.Get(), &length, buffer, 0);
  if (!hashed || length == 0 || length > sizeof(buffer)) {
    return false;
  }
  hash.assign(buffer, buffer + length);
  return true;
}

bool Win32CatalogueCalls::FindCatalogue(AdminContext context, const std::vector<uint8_t>& hash,
                                        CatalogueContext& catalogue) {
  // The call takes the hash through a pointer to modifiable bytes; it gets a copy.
  std::vector<BYTE> searched(hash.begin(), hash.end());
  const HCATINFO found =
      CryptCATAdminEnumCatalogFromHash(context, searched.data(), static_cast<DWORD>(searched.size()), 0, nullptr);
  if (found == nullptr) {
    return false;
  }
  catalogue = found;
  return true;
}

void Win32CatalogueCalls::ReleaseCatalogue(AdminContext context, CatalogueContext catalogue) {
  CryptCATAdminReleaseCatalogContext(context, catalogue, 0);
}

bool Win32CatalogueCalls::CatalogueVerifies(AdminContext context, CatalogueContext catalogue,
                                            const std::vector<uint8_t>& hash, const std::wstring& member_tag) {
  CATALOG_INFO catalogue_file = {};
  catalogue_file.cbStruct = sizeof(catalogue_file);
  if (!CryptCATCatalogInfoFromContext(catalogue, &catalogue_file, 0)) {
    return false;
  }
  std::vector<BYTE> calculated(hash.begin(), hash.end());
  WinTrustCatalogInfo catalogue_info = {};
  catalogue_info.cbStruct = sizeof(catalogue_info);
  catalogue_info.pcwszCatalogFilePath = catalogue_file.wszCatalogFile;
  catalogue_info.pcwszMemberTag = member_tag.c_str();
  catalogue_info.pcwszMemberFilePath = path_.c_str();
  catalogue_info.pbCalculatedFileHash = calculated.data();
  catalogue_info.cbCalculatedFileHash = static_cast<DWORD>(calculated.size());
  catalogue_info.hCatAdmin = context;
  const TrustCheck check(WTD_CHOICE_CATALOG, nullptr, &catalogue_info);
  return check.status() == 0;
}

bool VerifyFileSignature(const std::wstring& path) {
  const LONG embedded = VerifyEmbeddedSignature(path);
  if (embedded == 0) {
    return true;
  }
  // A signature in the file that fails decides; only a file without one is looked up.
  if (!MeansNoEmbeddedSignature(embedded)) {
    return false;
  }
  Win32CatalogueCalls calls(path);
  return VerifyThroughCatalogue(calls) == CatalogueVerdict::kTrusted;
}

WorkerReply VerifyAuthenticodeOperation(const std::wstring& path) {
  return flutter::EncodableValue(VerifyFileSignature(path));
}

}  // namespace pel_mora
