#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstddef>

#include "plugin/operations.h"
#include "plugin/signatures/authenticode.h"

namespace pel_mora {
namespace {

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
  WINTRUST_FILE_INFO* pFile;
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

}  // namespace

bool VerifyFileSignature(const std::wstring& path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.c_str();

  WinTrustData data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(nullptr, &action, &data);

  // The verify step leaves provider state in hWVTStateData whatever it returned; only the close
  // action frees it.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return status == 0;
}

WorkerReply VerifyAuthenticodeOperation(const std::wstring& path) {
  return flutter::EncodableValue(VerifyFileSignature(path));
}

}  // namespace pel_mora
