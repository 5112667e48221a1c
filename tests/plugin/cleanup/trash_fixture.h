#pragma once

// The test run's own Recycle Bin. Wine keeps the Recycle Bin in the XDG trash of the user it runs
// for; the test wrapper points HOME and XDG_DATA_HOME into the build tree, so that is the trash
// these tests fill and empty. Every test that recycles or empties anything first makes sure of
// that, and never runs against a trash outside the test run's folders.

#include <string>
#include <string_view>

namespace pel_mora::test_support {

class TestTrash {
 public:
  // Checks that XDG_DATA_HOME lies below the Wine root of this build tree (the folder that also
  // holds $PELMORA_TEST_TMP) and creates "Trash/files" and "Trash/info" there if missing. Throws
  // std::runtime_error otherwise, before anything can be recycled.
  TestTrash();

  // The Windows path of the trash's "files" folder, where recycled entries keep their names.
  const std::wstring& FilesFolder() const { return files_folder_; }
  bool Holds(std::wstring_view name) const;
  // How many entries the trash's "files" folder holds.
  size_t EntryCount() const;
  // Empties the test run's trash by removing its entries and their records directly, for a test
  // that must start from an empty bin: Wine's own empty leaves folders that still hold files.
  void RemoveEverything() const;

 private:
  std::wstring files_folder_;
};

// A name that no other test of this run gives a file, so it can be found in the shared trash:
// "stem-<run>-<process>-<counter>.extension".
std::wstring UniqueName(std::wstring_view stem, std::wstring_view extension);

bool PathExists(const std::wstring& path);

}  // namespace pel_mora::test_support
