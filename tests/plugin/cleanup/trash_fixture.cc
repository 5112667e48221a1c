#include "tests/plugin/cleanup/trash_fixture.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>

#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace pel_mora::test_support {
namespace {

// The folder two levels above `unix_path` ("<root>/tmp/run.X" gives "<root>").
std::wstring GrandparentOf(const std::wstring& unix_path) {
  std::wstring folder = unix_path;
  for (int level = 0; level < 2; ++level) {
    const size_t slash = folder.find_last_of(L'/');
    if (slash == std::wstring::npos || slash == 0) {
      throw std::runtime_error("no Wine root above " + WideToUtf8(unix_path));
    }
    folder.resize(slash);
  }
  return folder;
}

void CreateFolderIfMissing(const std::wstring& path) {
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throw std::runtime_error("CreateDirectoryW failed for " + WideToUtf8(path) + " (error " +
                             std::to_string(GetLastError()) + ")");
  }
}

}  // namespace

TestTrash::TestTrash() {
  const std::wstring wine_root = GrandparentOf(EnvironmentVariable(L"PELMORA_TEST_TMP"));
  const std::wstring data_home = EnvironmentVariable(L"XDG_DATA_HOME");
  if (data_home.find(L"/../") != std::wstring::npos || data_home.rfind(wine_root + L'/', 0) != 0) {
    throw std::runtime_error("refusing to use a trash outside the test run: XDG_DATA_HOME is " +
                             WideToUtf8(data_home));
  }
  const std::wstring trash = WindowsPathOfUnixPath(data_home + L"/Trash");
  CreateFolderIfMissing(WindowsPathOfUnixPath(data_home));
  CreateFolderIfMissing(trash);
  CreateFolderIfMissing(trash + L"\\files");
  CreateFolderIfMissing(trash + L"\\info");
  files_folder_ = trash + L"\\files";
}

bool TestTrash::Holds(std::wstring_view name) const {
  return PathExists(files_folder_ + L'\\' + std::wstring(name));
}

size_t TestTrash::EntryCount() const {
  WIN32_FIND_DATAW data;
  const std::wstring pattern = files_folder_ + L"\\*";
  FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (!find.IsValid()) return 0;
  size_t count = 0;
  do {
    const std::wstring_view name = data.cFileName;
    if (name != L"." && name != L"..") ++count;
  } while (FindNextFileW(find.Get(), &data));
  return count;
}

void TestTrash::RemoveEverything() const {
  const std::filesystem::path files(files_folder_);
  for (const std::filesystem::path& folder : {files, files.parent_path() / L"info"}) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      std::filesystem::remove_all(entry.path(), error);
      if (error) {
        throw std::runtime_error("cannot remove " + entry.path().string() + " from the test trash: " + error.message());
      }
    }
  }
}

std::wstring UniqueName(std::wstring_view stem, std::wstring_view extension) {
  // Wine reuses small process ids from run to run, and the trash outlives a run; the test run's
  // temporary folder has a random name of its own ("run.XXXXXX").
  static const std::wstring run = [] {
    const std::wstring folder = EnvironmentVariable(L"PELMORA_TEST_TMP");
    return folder.substr(folder.find_last_of(L'/') + 1);
  }();
  static std::atomic<unsigned> counter{0};
  return std::wstring(stem) + L'-' + run + L'-' + std::to_wstring(GetCurrentProcessId()) + L'-' +
         std::to_wstring(counter++) + L'.' + std::wstring(extension);
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW((L"\\\\?\\" + path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace pel_mora::test_support
