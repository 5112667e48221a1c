#include "embedding/host_secret.h"

#include <windows.h>
#include <bcrypt.h>
#include <sddl.h>
#include <shlobj.h>

#include <iterator>
#include <utility>
#include <vector>

#include "embedding/host_environment.h"
#include "embedding/win32_handles.h"

namespace pel_mora::embedding {

namespace {

// Memory the system hands out with LocalAlloc (a converted SID string, a security descriptor).
template <typename T>
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_ != nullptr) {
      LocalFree(memory_);
    }
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;

  T get() const { return memory_; }
  T* receive() { return &memory_; }

 private:
  T memory_ = nullptr;
};

// Memory the shell hands out with CoTaskMemAlloc (a known folder's path).
class TaskMemoryPath {
 public:
  ~TaskMemoryPath() { CoTaskMemFree(path_); }
  PWSTR* receive() { return &path_; }
  const wchar_t* get() const { return path_; }

 private:
  PWSTR path_ = nullptr;
};

std::string CallFailed(const char* call, DWORD error) {
  return std::string(call) + " failed with error " + std::to_string(error);
}

std::wstring WideName(const char* name) {
  std::wstring wide;
  for (const char* character = name; *character != '\0'; ++character) {
    wide.push_back(static_cast<wchar_t>(*character));
  }
  return wide;
}

// A security descriptor in the system's string form whose DACL lets this process's user, and
// nobody else, in with `rights` (SDDL rights: "FA" all, "FRFWSD" read, write and delete);
// `inheritance` is the ACE's inheritance flags ("OICI" for a folder's files). Under Wine the Unix
// mode follows it: the owner's bits (and, since Wine counts the user's own SID as a group too,
// the owning group's), none for others.
bool OwnerOnlyDescriptor(const wchar_t* rights, const wchar_t* inheritance, LocalMemory<PSECURITY_DESCRIPTOR>* descriptor,
                         std::string* error) {
  HANDLE raw_token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw_token)) {
    *error = CallFailed("OpenProcessToken", GetLastError());
    return false;
  }
  const KernelHandle token(raw_token);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
    *error = CallFailed("GetTokenInformation", GetLastError());
    return false;
  }
  LocalMemory<LPWSTR> sid_text;
  if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, sid_text.receive())) {
    *error = CallFailed("ConvertSidToStringSidW", GetLastError());
    return false;
  }
  // P: protected, so nothing is inherited from the folders above.
  const std::wstring text = std::wstring(L"D:P(A;") + inheritance + L";" + rights + L";;;" + sid_text.get() + L")";
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, descriptor->receive(),
                                                            nullptr)) {
    *error = CallFailed("ConvertStringSecurityDescriptorToSecurityDescriptorW", GetLastError());
    return false;
  }
  return true;
}

std::string Utf8Path(const std::wstring& path) {
  return WideToUtf8(path.c_str());
}

}  // namespace

EnvironmentSecret TakeSecretFromEnvironment(InterfaceSecret* secret) {
  const std::wstring name = WideName(kInterfaceSecretVariable);
  // Twice the digits: room to see that a longer value is too long.
  wchar_t value[2 * 2 * kInterfaceSecretSize + 2] = {};
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetEnvironmentVariableW(name.c_str(), value, static_cast<DWORD>(std::size(value)));
  const bool present = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  // Gone before anything else happens, whatever it held.
  SetEnvironmentVariableW(name.c_str(), nullptr);
  const bool empty = length == 0;
  if (!present || empty) {
    SecureZeroMemory(value, sizeof(value));
    return EnvironmentSecret::kAbsent;
  }
  std::string digits;
  if (length < std::size(value)) {
    for (DWORD index = 0; index < length; ++index) {
      // A character beyond ASCII is no digit; keeping its low byte could make it look like one.
      digits.push_back(value[index] < 0x80 ? static_cast<char>(value[index]) : '\x80');
    }
  }
  SecureZeroMemory(value, sizeof(value));
  const std::optional<InterfaceSecret> parsed = ParseInterfaceSecret(digits);
  SecureZeroMemory(digits.data(), digits.size());
  if (!parsed) {
    return EnvironmentSecret::kInvalid;
  }
  *secret = *parsed;
  return EnvironmentSecret::kTaken;
}

std::optional<InterfaceSecret> MakeSecret(std::string* error) {
  InterfaceSecret secret{};
  const NTSTATUS status =
      BCryptGenRandom(nullptr, secret.data(), static_cast<ULONG>(secret.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (!BCRYPT_SUCCESS(status)) {
    *error = "BCryptGenRandom failed with status " + std::to_string(static_cast<unsigned long>(status));
    return std::nullopt;
  }
  return secret;
}

std::wstring SecretFileName(uint16_t port) {
  return L"interface-bridge-" + std::to_wstring(port) + L".secret";
}

std::unique_ptr<PublishedSecret> PublishedSecret::Publish(uint16_t port, const InterfaceSecret& secret,
                                                          std::string* error) {
  TaskMemoryPath local_app_data;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, local_app_data.receive());
  if (FAILED(result)) {
    *error = "SHGetKnownFolderPath(FOLDERID_LocalAppData) failed with error " +
             std::to_string(static_cast<unsigned long>(result));
    return nullptr;
  }
  const std::wstring folder = std::wstring(local_app_data.get()) + L"\\Pelmora";
  const std::wstring path = folder + L"\\" + SecretFileName(port);

  LocalMemory<PSECURITY_DESCRIPTOR> folder_descriptor;
  LocalMemory<PSECURITY_DESCRIPTOR> file_descriptor;
  if (!OwnerOnlyDescriptor(L"FA", L"OICI", &folder_descriptor, error) ||
      !OwnerOnlyDescriptor(L"FRFWSD", L"", &file_descriptor, error)) {
    return nullptr;
  }
  // A folder that exists already keeps its own protection; the file carries its own in any case.
  SECURITY_ATTRIBUTES folder_attributes{sizeof(folder_attributes), folder_descriptor.get(), FALSE};
  if (!CreateDirectoryW(folder.c_str(), &folder_attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    *error = CallFailed("CreateDirectoryW", GetLastError()) + " for " + Utf8Path(folder);
    return nullptr;
  }
  // A file left by an earlier host on this port (one that crashed) goes first: opening it would
  // keep whatever protection it had, while a new file gets the one given here.
  if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    *error = CallFailed("DeleteFileW", GetLastError()) + " for " + Utf8Path(path);
    return nullptr;
  }
  SECURITY_ATTRIBUTES file_attributes{sizeof(file_attributes), file_descriptor.get(), FALSE};
  const HANDLE created =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, &file_attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) {
    *error = CallFailed("CreateFileW", GetLastError()) + " for " + Utf8Path(path);
    return nullptr;
  }
  // From here on the file exists: the object owns it, so a failure below removes it.
  std::unique_ptr<PublishedSecret> published(new PublishedSecret(path));
  std::string text = InterfaceSecretText(secret) + "\n";
  DWORD written = 0;
  BOOL wrote = FALSE;
  DWORD write_error = ERROR_SUCCESS;
  {
    // Closed before the object could remove the file, which an open handle without sharing
    // would prevent.
    const KernelHandle file(created);
    wrote = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    write_error = GetLastError();
  }
  SecureZeroMemory(text.data(), text.size());
  if (!wrote || written != text.size()) {
    *error = CallFailed("WriteFile", write_error) + " for " + Utf8Path(path);
    return nullptr;
  }
  return published;
}

PublishedSecret::~PublishedSecret() {
  // Nothing to do about a failure: the secret in it dies with this run of the host anyway.
  DeleteFileW(path_.c_str());
}

}  // namespace pel_mora::embedding
