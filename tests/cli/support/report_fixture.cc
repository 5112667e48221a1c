#include "tests/cli/support/report_fixture.h"

#include <cstdint>
#include <string>

namespace pel_mora::cli::testing {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

namespace {

constexpr int64_t kMegabyte = 1024 * 1024;

EncodableValue Entry(const std::string& path, int64_t size, bool is_directory, const std::string& extension) {
  EncodableMap entry{{EncodableValue("path"), EncodableValue(path)},
                     {EncodableValue("name"), EncodableValue(path.substr(path.rfind('\\') + 1))},
                     {EncodableValue("sizeBytes"), EncodableValue(size)},
                     {EncodableValue("isDirectory"), EncodableValue(is_directory)},
                     {EncodableValue("isAccessible"), EncodableValue(true)},
                     {EncodableValue("modifiedTime"), EncodableValue(int64_t{1700000000})}};
  if (!is_directory) {
    entry[EncodableValue("extension")] = EncodableValue(extension);
  }
  return EncodableValue(entry);
}

}  // namespace

EncodableValue File(const std::string& path, int64_t size, const std::string& extension) {
  return Entry(path, size, false, extension);
}

EncodableValue Folder(const std::string& path, int64_t size) { return Entry(path, size, true, ""); }

EncodableValue Started(const std::string& root) {
  return EncodableValue(EncodableMap{{EncodableValue("type"), EncodableValue("started")},
                                     {EncodableValue("root"), EncodableValue(root)}});
}

EncodableValue Batch(EncodableList entries) {
  return EncodableValue(EncodableMap{{EncodableValue("type"), EncodableValue("batch")},
                                     {EncodableValue("entries"), EncodableValue(std::move(entries))},
                                     {EncodableValue("filesScanned"), EncodableValue(int64_t{0})},
                                     {EncodableValue("foldersScanned"), EncodableValue(int64_t{0})},
                                     {EncodableValue("totalBytes"), EncodableValue(int64_t{0})}});
}

namespace {

std::vector<EncodableValue> FirstEvents() {
  EncodableList photos{File("P:\\Photos\\beach.jpg", 40 * kMegabyte, "jpg"),
                       File("P:\\Photos\\party.png", 20 * kMegabyte, "png")};
  for (int index = 0; index < 50; ++index) {
    photos.push_back(File("P:\\Photos\\thumb" + std::to_string(index) + ".jpg", 1024, "jpg"));
  }
  photos.push_back(Folder("P:\\Photos", 60 * kMegabyte + 50 * 1024));
  return {Started("P:\\"), Batch(std::move(photos))};
}

EncodableList SecondBatch() {
  // Twenty letters of 5 KiB: too small to draw one by one on the drive's map, but each with room
  // of its own once the folder is drilled into.
  EncodableList entries;
  for (int index = 0; index < 20; ++index) {
    entries.push_back(File("P:\\Letters\\letter" + std::to_string(index) + ".rst", 5 * 1024, "rst"));
  }
  entries.push_back(Folder("P:\\Letters", 100 * 1024));
  const EncodableList rest{
      File("P:\\Music\\song.mp3", 30 * kMegabyte, "mp3"),
      Folder("P:\\Music", 30 * kMegabyte),
      File("P:\\Projects\\app\\main.cc", 5 * kMegabyte, "cc"),
      File("P:\\Projects\\app\\build\\app.exe", 15 * kMegabyte, "exe"),
      Folder("P:\\Projects\\app\\build", 15 * kMegabyte),
      File("P:\\Projects\\app\\backup.zip", 25 * kMegabyte, "zip"),
      Folder("P:\\Projects\\app", 45 * kMegabyte),
      Folder("P:\\Projects", 45 * kMegabyte),
      File("P:\\movie.mkv", 70 * kMegabyte, "mkv"),
      File("P:\\notes.txt", 0, "txt"),
      File("P:\\Tom & Jerry's.dat", 8 * kMegabyte, "dat"),
      EncodableValue(EncodableMap{{EncodableValue("path"), EncodableValue("P:\\Locked")},
                                  {EncodableValue("name"), EncodableValue("Locked")},
                                  {EncodableValue("sizeBytes"), EncodableValue(int64_t{0})},
                                  {EncodableValue("isDirectory"), EncodableValue(true)},
                                  {EncodableValue("isAccessible"), EncodableValue(false)}}),
      Folder("P:\\Locked", 0),
  };
  entries.insert(entries.end(), rest.begin(), rest.end());
  return entries;
}

}  // namespace

std::vector<EncodableValue> ReportFixtureEvents() {
  std::vector<EncodableValue> events = FirstEvents();
  events.push_back(Batch(SecondBatch()));
  const int64_t total =
      60 * kMegabyte + 50 * 1024 + 100 * 1024 + 30 * kMegabyte + 45 * kMegabyte + 70 * kMegabyte + 8 * kMegabyte;
  events.push_back(EncodableValue(EncodableMap{{EncodableValue("type"), EncodableValue("completed")},
                                               {EncodableValue("totalFiles"), EncodableValue(int64_t{79})},
                                               {EncodableValue("totalFolders"), EncodableValue(int64_t{7})},
                                               {EncodableValue("totalBytes"), EncodableValue(total)},
                                               {EncodableValue("durationMs"), EncodableValue(int64_t{1234})}}));
  return events;
}

std::vector<EncodableValue> CancelledReportFixtureEvents() {
  std::vector<EncodableValue> events = FirstEvents();
  events.push_back(EncodableValue(EncodableMap{{EncodableValue("type"), EncodableValue("cancelled")}}));
  return events;
}

}  // namespace pel_mora::cli::testing
