// Measures the duplicate finder against a plain, single-threaded implementation of the same
// algorithm on the same tree.
//
// Usage: duplicate_bench UNIX_FOLDER [REPETITIONS]
// The folder (a generated tree, see scripts/bench-duplicates.sh) gets a drive letter of the Wine
// prefix. Each repetition times (a) FindDuplicates, the product's code, and (b) the plain
// algorithm: walk, size buckets, then for every file of a shared size one open and one read of
// 4096 bytes hashed with a provider opened for that file, then for every shared prefix digest
// a second open and a read of the whole file in 64 KiB blocks with another provider. Both must
// give the same reply, group for group and path for path.

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "plugin/duplicates/cng_handles.h"
#include "plugin/duplicates/duplicate_finder.h"
#include "plugin/file_handle.h"
#include "plugin/find_handle.h"
#include "plugin/string_conversion.h"
#include "tests/support/fixture_drive.h"

namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using pel_mora::AlgorithmProvider;
using pel_mora::FileHandle;
using pel_mora::HashObject;

struct PlainEntry {
  std::wstring path;
  uint64_t size;
  int64_t modified;
};

bool IsSkipped(const wchar_t* name) {
  return _wcsicmp(name, L"$RECYCLE.BIN") == 0 || _wcsicmp(name, L"System Volume Information") == 0;
}

void PlainCollect(const std::wstring& directory, int depth, std::vector<PlainEntry>& entries) {
  if (directory.empty() || depth > 32) {
    return;
  }
  std::wstring dir = directory;
  if (dir.back() != L'\\' && dir.back() != L'/') {
    dir += L'\\';
  }
  WIN32_FIND_DATAW item;
  const pel_mora::FindHandle listing(FindFirstFileExW((dir + L'*').c_str(), FindExInfoBasic, &item,
                                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!listing.IsValid()) {
    return;
  }
  do {
    const wchar_t* name = item.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0 || IsSkipped(name) ||
        (item.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    const std::wstring full = dir + name;
    if ((item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      PlainCollect(full, depth + 1, entries);
      continue;
    }
    const uint64_t size = (static_cast<uint64_t>(item.nFileSizeHigh) << 32) + item.nFileSizeLow;
    if (size >= 512) {
      const uint64_t ticks =
          (static_cast<uint64_t>(item.ftLastWriteTime.dwHighDateTime) << 32) | item.ftLastWriteTime.dwLowDateTime;
      entries.push_back(PlainEntry{full, size, static_cast<int64_t>(ticks / 10'000'000) - 11'644'473'600});
    }
  } while (FindNextFileW(listing.Get(), &item));
}

std::string BytesToHex(const UCHAR* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t index = 0; index < count; ++index) {
    text.push_back(kDigits[bytes[index] >> 4]);
    text.push_back(kDigits[bytes[index] & 0x0f]);
  }
  return text;
}

HANDLE OpenForReading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                     nullptr);
}

AlgorithmProvider OpenSha256() {
  BCRYPT_ALG_HANDLE handle = nullptr;
  if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    return AlgorithmProvider();
  }
  return AlgorithmProvider(handle);
}

// The digest of one read of at most `byte_count` bytes, with a provider of its own.
std::string HashFilePrefix(const std::wstring& path, DWORD byte_count) {
  std::vector<UCHAR> buffer(byte_count, 0);
  DWORD bytes_read = 0;
  BOOL read_succeeded = FALSE;
  {
    const FileHandle file(OpenForReading(path));
    if (!file.IsValid()) {
      return {};
    }
    read_succeeded = ReadFile(file.Get(), buffer.data(), byte_count, &bytes_read, nullptr);
  }
  if (!read_succeeded || bytes_read == 0) {
    return {};
  }
  const AlgorithmProvider provider = OpenSha256();
  if (!provider.IsValid()) {
    return {};
  }
  UCHAR digest[32];
  if (BCryptHash(provider.Get(), nullptr, 0, buffer.data(), bytes_read, digest, sizeof(digest)) < 0) {
    return {};
  }
  return BytesToHex(digest, sizeof(digest));
}

// The digest of the whole file, read in 64 KiB blocks, with a provider of its own. Like the
// product, a digest that does not cover the size the walk saw is not used.
std::string HashFile(const std::wstring& path, uint64_t expected_size) {
  const FileHandle file(OpenForReading(path));
  if (!file.IsValid()) {
    return {};
  }
  const AlgorithmProvider provider = OpenSha256();
  if (!provider.IsValid()) {
    return {};
  }
  BCRYPT_HASH_HANDLE hash_handle = nullptr;
  if (BCryptCreateHash(provider.Get(), &hash_handle, nullptr, 0, nullptr, 0, 0) < 0) {
    return {};
  }
  const HashObject hash(hash_handle);
  std::vector<UCHAR> buffer(65536);
  uint64_t total = 0;
  DWORD bytes_read = 0;
  while (ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &bytes_read, nullptr) &&
         bytes_read > 0) {
    if (BCryptHashData(hash.Get(), buffer.data(), bytes_read, 0) < 0) {
      return {};
    }
    total += bytes_read;
  }
  UCHAR digest[32];
  if (BCryptFinishHash(hash.Get(), digest, sizeof(digest), 0) < 0 || total != expected_size) {
    return {};
  }
  return BytesToHex(digest, sizeof(digest));
}

EncodableList PlainFindDuplicates(const std::wstring& root) {
  std::vector<PlainEntry> entries;
  PlainCollect(root, 0, entries);
  std::map<uint64_t, std::vector<PlainEntry>> by_size;
  for (const PlainEntry& entry : entries) {
    by_size[entry.size].push_back(entry);
  }
  EncodableList groups;
  for (const auto& [size, size_bucket] : by_size) {
    if (size_bucket.size() < 2) {
      continue;
    }
    std::map<std::string, std::vector<PlainEntry>> by_prefix;
    for (const PlainEntry& entry : size_bucket) {
      std::string digest = HashFilePrefix(entry.path, 4096);
      if (!digest.empty()) {
        by_prefix[digest].push_back(entry);
      }
    }
    for (const auto& [prefix, prefix_bucket] : by_prefix) {
      if (prefix_bucket.size() < 2) {
        continue;
      }
      std::map<std::string, std::vector<PlainEntry>> by_content;
      for (const PlainEntry& entry : prefix_bucket) {
        std::string digest = HashFile(entry.path, entry.size);
        if (!digest.empty()) {
          by_content[digest].push_back(entry);
        }
      }
      for (const auto& [content, content_bucket] : by_content) {
        if (content_bucket.size() < 2) {
          continue;
        }
        EncodableList paths;
        EncodableList dates;
        for (const PlainEntry& entry : content_bucket) {
          paths.emplace_back(pel_mora::WideToUtf8(entry.path));
          dates.emplace_back(entry.modified);
        }
        const auto count = static_cast<int64_t>(content_bucket.size());
        const auto file_size = static_cast<int64_t>(content_bucket.front().size);
        groups.emplace_back(EncodableMap{
            {EncodableValue("hash"), EncodableValue(content)},
            {EncodableValue("fileSize"), EncodableValue(file_size)},
            {EncodableValue("wastedBytes"), EncodableValue((count - 1) * file_size)},
            {EncodableValue("count"), EncodableValue(count)},
            {EncodableValue("paths"), EncodableValue(std::move(paths))},
            {EncodableValue("dates"), EncodableValue(std::move(dates))},
        });
      }
    }
  }
  return groups;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

template <typename Function>
double Seconds(Function function, EncodableList& result) {
  const auto start = Clock::now();
  result = function();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: duplicate_bench UNIX_FOLDER [REPETITIONS]\n");
    return 2;
  }
  const int repetitions = argc > 2 ? std::max(1, _wtoi(argv[2])) : 5;
  const pel_mora::test_support::DriveLetterMapping mapping(argv[1]);
  const std::wstring root = mapping.Root();
  std::printf("tree %s mapped to %s, %u hashing threads\n", pel_mora::WideToUtf8(argv[1]).c_str(),
              pel_mora::WideToUtf8(root).c_str(), pel_mora::HashingThreadCount());

  std::vector<PlainEntry> walked;
  PlainCollect(root, 0, walked);
  // One plain run first, so every measured run finds the tree in the caches.
  const EncodableList expected = PlainFindDuplicates(root);
  size_t grouped_files = 0;
  for (const EncodableValue& group : expected) {
    grouped_files += std::get<EncodableList>(std::get<EncodableMap>(group).at(EncodableValue("paths"))).size();
  }
  std::printf("files of 512 bytes or more: %zu; groups: %zu with %zu files\n", walked.size(), expected.size(),
              grouped_files);

  std::vector<double> finder_seconds;
  std::vector<double> plain_seconds;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    EncodableList finder_result;
    EncodableList plain_result;
    // The two sides take turns going first, so neither always runs right after the other's reads.
    double finder = 0;
    double plain = 0;
    if (repetition % 2 == 0) {
      finder = Seconds([&] { return pel_mora::FindDuplicates(root); }, finder_result);
      plain = Seconds([&] { return PlainFindDuplicates(root); }, plain_result);
    } else {
      plain = Seconds([&] { return PlainFindDuplicates(root); }, plain_result);
      finder = Seconds([&] { return pel_mora::FindDuplicates(root); }, finder_result);
    }
    if (finder_result != expected || plain_result != expected) {
      std::fprintf(stderr, "run %d: the replies differ (finder %zu groups, plain %zu groups, first plain run %zu)\n",
                   repetition + 1, finder_result.size(), plain_result.size(), expected.size());
      return 1;
    }
    std::printf("run %d: finder %.3f s, plain %.3f s\n", repetition + 1, finder, plain);
    finder_seconds.push_back(finder);
    plain_seconds.push_back(plain);
  }

  const double finder = Median(finder_seconds);
  const double plain = Median(plain_seconds);
  std::printf("finder (median of %d): %.3f s\n", repetitions, finder);
  std::printf("plain algorithm (median of %d): %.3f s\n", repetitions, plain);
  std::printf("ratio finder / plain: %.2f\n", finder / plain);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "duplicate_bench: %s\n", error.what());
    return 1;
  }
}
