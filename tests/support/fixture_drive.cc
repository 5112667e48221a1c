#include "tests/support/fixture_drive.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin/file_handle.h"
#include "plugin/string_conversion.h"

namespace pel_mora::test_support {
namespace {

constexpr auto kPollTimeout = std::chrono::seconds(20);
constexpr auto kPollInterval = std::chrono::milliseconds(5);

[[noreturn]] void ThrowLastError(std::string_view call, std::wstring_view subject) {
  const DWORD error = GetLastError();
  throw std::runtime_error(std::string(call) + " failed for " + WideToUtf8(subject) + " (error " +
                           std::to_string(error) + ")");
}

// Polls `condition` until it holds or the timeout passes; returns whether it held.
bool PollUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPollTimeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

// Quotes one argument so the command-line splitting Wine applies (the usual Windows rules) gives
// it back unchanged: backslashes are literal except before a quote.
void AppendQuotedArgument(std::wstring& command_line, std::wstring_view argument) {
  command_line += L'"';
  size_t backslashes = 0;
  for (const wchar_t character : argument) {
    if (character == L'\\') {
      ++backslashes;
      continue;
    }
    if (character == L'"') {
      command_line.append(backslashes * 2 + 1, L'\\');
    } else {
      command_line.append(backslashes, L'\\');
    }
    backslashes = 0;
    command_line += character;
  }
  command_line.append(backslashes * 2, L'\\');
  command_line += L'"';
}

// Wine's own request to its mount manager for defining a drive letter, as its configuration tool
// sends it: the header is followed by the Unix folder as a NUL-ended multibyte string, found by
// its offset. A type of DRIVE_NO_ROOT_DIR without a folder removes the letter.
struct WineUnixDriveDefinition {
  ULONG size;
  ULONG type;
  ULONG file_system_type;
  DWORD serial;
  ULONGLONG unix_device;
  WCHAR letter;
  USHORT mount_point_offset;
  USHORT device_offset;
  USHORT label_offset;
};
constexpr DWORD kWineDefineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

UINT DriveTypeOf(FixtureDriveType type) {
  switch (type) {
    case FixtureDriveType::kFixed:
      return DRIVE_FIXED;
    case FixtureDriveType::kRemovable:
      return DRIVE_REMOVABLE;
    case FixtureDriveType::kNetwork:
      return DRIVE_REMOTE;
    case FixtureDriveType::kCdRom:
      return DRIVE_CDROM;
    case FixtureDriveType::kRamDisk:
      return DRIVE_RAMDISK;
  }
  return DRIVE_FIXED;
}

bool DriveExists(wchar_t letter) {
  const wchar_t root[] = {letter, L':', L'\\', L'\0'};
  return GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR;
}

// The text of a small file, or nothing when it cannot be opened.
std::optional<std::string> ReadSmallFile(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) {
    return std::nullopt;
  }
  char buffer[64];
  DWORD read = 0;
  if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) {
    return std::nullopt;
  }
  return std::string(buffer, read);
}

std::wstring CreateFreshFolder() {
  static std::atomic<unsigned> counter{0};
  const std::wstring unix_folder = EnvironmentVariable(L"PELMORA_TEST_TMP") + L"/fixture-" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
  const std::wstring windows_folder = WindowsPathOfUnixPath(unix_folder);
  if (!CreateDirectoryW(windows_folder.c_str(), nullptr)) {
    ThrowLastError("CreateDirectoryW", windows_folder);
  }
  return unix_folder;
}

}  // namespace

std::wstring EnvironmentVariable(const wchar_t* name) {
  const DWORD length = GetEnvironmentVariableW(name, nullptr, 0);
  if (length == 0) {
    throw std::runtime_error("environment variable " + WideToUtf8(name) + " is not set");
  }
  std::wstring value(length, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), length));
  return value;
}

// Wine maps the Unix root to drive Z.
std::wstring WindowsPathOfUnixPath(std::wstring_view unix_path) {
  std::wstring path = L"Z:";
  for (const wchar_t character : unix_path) {
    path += character == L'/' ? L'\\' : character;
  }
  return path;
}

void StartUnixProgram(std::wstring_view program, std::initializer_list<std::wstring_view> arguments) {
  const std::wstring application = WindowsPathOfUnixPath(program);
  std::wstring command_line;
  AppendQuotedArgument(command_line, program);
  for (const std::wstring_view argument : arguments) {
    command_line += L' ';
    AppendQuotedArgument(command_line, argument);
  }
  STARTUPINFOW startup_info{};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup_info, &process)) {
    ThrowLastError("CreateProcessW", command_line);
  }
  // For a Unix program Wine hands back a null process handle; close whatever is real.
  if (process.hProcess != nullptr) {
    CloseHandle(process.hProcess);
  }
  if (process.hThread != nullptr) {
    CloseHandle(process.hThread);
  }
}

DriveLetterMapping::DriveLetterMapping(std::wstring unix_folder) : unix_folder_(std::move(unix_folder)) {
  const std::wstring devices = EnvironmentVariable(L"WINEPREFIX") + L"/dosdevices/";
  // A and B are floppy letters to Windows programs, C is the system drive and Z the Unix root.
  for (wchar_t letter = L'D'; letter <= L'Y'; ++letter) {
    if (DriveExists(letter)) {
      continue;
    }
    const std::wstring link_path = devices + static_cast<wchar_t>(letter - L'A' + L'a') + L':';
    if (TryClaim(letter, link_path)) {
      letter_ = letter;
      link_path_ = link_path;
      return;
    }
  }
  throw std::runtime_error("no free drive letter for " + WideToUtf8(unix_folder_));
}

bool DriveLetterMapping::TryClaim(wchar_t letter, const std::wstring& link_path) {
  // `ln -sn` fails when the link exists (a concurrent test process was faster, or a stale link
  // of a crashed one), which makes the claim atomic. Its outcome comes back through a marker
  // file, moved into place whole, because Wine reports no exit code.
  const std::wstring marker = unix_folder_ + L".claim-" + letter;
  StartUnixProgram(L"/bin/sh", {L"-c",
                                L"if ln -sn \"$0\" \"$1\" 2>/dev/null; then r=mapped; else r=taken; fi; "
                                L"echo $r > \"$2.tmp\" && mv \"$2.tmp\" \"$2\"",
                                unix_folder_, link_path, marker});
  const std::wstring windows_marker = WindowsPathOfUnixPath(marker);
  std::optional<std::string> outcome;
  if (!PollUntil([&] { return (outcome = ReadSmallFile(windows_marker)).has_value(); })) {
    throw std::runtime_error("no answer from the drive-letter claim for " + WideToUtf8(link_path));
  }
  DeleteFileW(windows_marker.c_str());
  if (outcome->rfind("mapped", 0) != 0) {
    return false;
  }
  if (!PollUntil([letter] { return DriveExists(letter); })) {
    throw std::runtime_error("drive letter link made but not seen: " + WideToUtf8(link_path));
  }
  return true;
}

void DriveLetterMapping::DefineThroughMountManager(unsigned drive_type, const std::wstring* unix_folder) const {
  const std::string folder = unix_folder != nullptr ? WideToUtf8(*unix_folder) : std::string();
  std::vector<char> request(sizeof(WineUnixDriveDefinition) + (unix_folder != nullptr ? folder.size() + 1 : 0), '\0');
  WineUnixDriveDefinition definition{};
  definition.size = static_cast<ULONG>(request.size());
  definition.type = drive_type;
  definition.letter = static_cast<WCHAR>(letter_ - L'A' + L'a');
  if (unix_folder != nullptr) {
    definition.mount_point_offset = sizeof(WineUnixDriveDefinition);
    folder.copy(request.data() + sizeof(WineUnixDriveDefinition), folder.size());
  }
  std::copy_n(reinterpret_cast<const char*>(&definition), sizeof(definition), request.data());
  const FileHandle manager(CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!manager.IsValid()) {
    ThrowLastError("CreateFileW", L"\\\\.\\MountPointManager");
  }
  DWORD returned = 0;
  if (!DeviceIoControl(manager.Get(), kWineDefineUnixDrive, request.data(), static_cast<DWORD>(request.size()),
                       nullptr, 0, &returned, nullptr)) {
    ThrowLastError("DeviceIoControl(define drive)", Root());
  }
}

void DriveLetterMapping::SetType(FixtureDriveType type) {
  // The letter stays claimed meanwhile: the mount manager replaces the link with one to the same
  // folder and remembers the type with it.
  DefineThroughMountManager(DriveTypeOf(type), &unix_folder_);
  defined_through_mount_manager_ = true;
  if (GetDriveTypeW(Root().c_str()) != DriveTypeOf(type)) {
    throw std::runtime_error("drive " + WideToUtf8(Root()) + " did not take its new type");
  }
}

DriveLetterMapping::~DriveLetterMapping() {
  try {
    if (defined_through_mount_manager_) {
      // Forgets the letter and its type, so a later mapping of the letter starts as a plain one.
      DefineThroughMountManager(DRIVE_NO_ROOT_DIR, nullptr);
    }
    StartUnixProgram(L"/bin/rm", {L"-f", link_path_});
    // The next mapping in this process may want the letter again, so wait until it is gone.
    PollUntil([letter = letter_] { return !DriveExists(letter); });
  } catch (...) {
    // A destructor reports nothing; a letter left behind is skipped by later claims.
  }
}

FixtureDrive::FixtureDrive() : unix_folder_(CreateFreshFolder()), mapping_(unix_folder_) {}

std::wstring FixtureDrive::PathOf(std::wstring_view relative) const { return Root() + std::wstring(relative); }

std::wstring FixtureDrive::UnixPathOf(std::wstring_view relative) const {
  std::wstring path = unix_folder_ + L'/';
  for (const wchar_t character : relative) {
    path += character == L'\\' ? L'/' : character;
  }
  return path;
}

void FixtureDrive::AddFolder(std::wstring_view relative) const {
  const std::wstring path = PathOf(relative);
  if (!CreateDirectoryW(path.c_str(), nullptr)) {
    ThrowLastError("CreateDirectoryW", path);
  }
}

void FixtureDrive::AddFile(std::wstring_view relative, uint64_t size_bytes) const {
  // The \\?\ form keeps names exactly as given; the plain form would drop a trailing dot.
  const std::wstring path = L"\\\\?\\" + PathOf(relative);
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    ThrowLastError("CreateFileW", path);
  }
  if (size_bytes == 0) {
    return;
  }
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size_bytes);
  if (!SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN)) {
    ThrowLastError("SetFilePointerEx", path);
  }
  if (!SetEndOfFile(file.Get())) {
    ThrowLastError("SetEndOfFile", path);
  }
}

void FixtureDrive::SetLastWriteTime(std::wstring_view relative, uint64_t file_time_ticks) const {
  const std::wstring path = L"\\\\?\\" + PathOf(relative);
  // Backup semantics let the same call open a folder.
  FileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.IsValid()) {
    ThrowLastError("CreateFileW", path);
  }
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(file_time_ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(file_time_ticks >> 32);
  if (!SetFileTime(file.Get(), nullptr, nullptr, &time)) {
    ThrowLastError("SetFileTime", path);
  }
}

void FixtureDrive::AddUnixSymlink(std::wstring_view link_relative, std::wstring_view target_relative) const {
  AddUnixSymlinkTo(link_relative, UnixPathOf(target_relative));
}

void FixtureDrive::AddUnixSymlinkTo(std::wstring_view link_relative, std::wstring_view unix_target) const {
  StartUnixProgram(L"/bin/ln", {L"-s", unix_target, UnixPathOf(link_relative)});
  const std::wstring link = PathOf(link_relative);
  if (!PollUntil([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; })) {
    throw std::runtime_error("symbolic link did not appear: " + WideToUtf8(link));
  }
}

const DriveLetterMapping& LastingDriveLetterMapping(const std::wstring& unix_folder) {
  // Released when the process ends, after every test.
  static std::map<std::wstring, std::unique_ptr<DriveLetterMapping>> mappings;
  std::unique_ptr<DriveLetterMapping>& mapping = mappings[unix_folder];
  if (!mapping) {
    mapping = std::make_unique<DriveLetterMapping>(unix_folder);
  }
  return *mapping;
}

}  // namespace pel_mora::test_support
