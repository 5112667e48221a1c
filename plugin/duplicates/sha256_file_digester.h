#pragma once

// File hashing for the duplicate finder with the system's SHA-256 provider (CNG).

#include <cstdint>
#include <memory>
#include <string>

#include "plugin/duplicates/duplicate_grouping.h"

namespace pel_mora {

// Sees every file the digester opens and every read it issues. The tests use it to count opens
// and reads and to make a read fail or come short; the product passes none. It is called from
// several hashing threads at once.
class FileReadObserver {
 public:
  virtual ~FileReadObserver() = default;
  virtual void FileOpened(const std::wstring& path) = 0;
  // `bytes_read` and `succeeded` are what ReadFile gave for the read at `offset`; the observer
  // may lower the first or clear the second.
  virtual void ReadFinished(const std::wstring& path,
                            uint64_t offset,
                            uint32_t bytes_requested,
                            uint32_t& bytes_read,
                            bool& succeeded) = 0;
};

// A digester for one hashing thread: it keeps one open SHA-256 provider and one read buffer
// for all the files it hashes. A file is opened for reading with read sharing only, as any
// reader that wants a stable picture of it would; a file locked by another process gives no
// digest. `observer` may be null and must outlive the digester.
std::unique_ptr<FileDigester> MakeSha256FileDigester(FileReadObserver* observer);

}  // namespace pel_mora
