#pragma once

// Verification of a file that carries no signature of its own through a security catalogue: a
// signed list of file hashes, which is how Windows signs most of its own files. The order of the
// steps and the release of everything acquired are decided here, over an interface to the
// catalogue calls, so they run against fakes and natively.

#include <cstdint>
#include <string>
#include <vector>

namespace pel_mora {

// Catalogues list a file under its hash in one algorithm; newer ones use SHA-256, older ones
// SHA-1, so a file is looked up under both, in that order.
enum class HashAlgorithm { kSha256, kSha1 };

// The catalogue calls, on one file. Handles are the system's, passed back as they came.
class CatalogueCalls {
 public:
  using AdminContext = void*;
  using CatalogueContext = void*;

  virtual ~CatalogueCalls() = default;
  // A context for catalogues of `algorithm`; false when the system offers none.
  virtual bool AcquireContext(HashAlgorithm algorithm, AdminContext& context) = 0;
  virtual void ReleaseContext(AdminContext context) = 0;
  // The file's hash as the context's catalogues list it; false when the file cannot be hashed.
  virtual bool CalculateFileHash(AdminContext context, std::vector<uint8_t>& hash) = 0;
  // The first catalogue that lists `hash`; false when none does (or the search fails).
  virtual bool FindCatalogue(AdminContext context, const std::vector<uint8_t>& hash,
                             CatalogueContext& catalogue) = 0;
  virtual void ReleaseCatalogue(AdminContext context, CatalogueContext catalogue) = 0;
  // Whether the catalogue's signature is trusted and it lists the file under `member_tag`.
  virtual bool CatalogueVerifies(AdminContext context, CatalogueContext catalogue, const std::vector<uint8_t>& hash,
                                 const std::wstring& member_tag) = 0;
};

enum class CatalogueVerdict {
  kTrusted,     // A catalogue lists the file and its signature verifies.
  kNotTrusted,  // A catalogue lists the file, but its signature does not verify.
  kNotListed,   // No catalogue lists the file under either hash.
  kFailed,      // No catalogue was found, and at least one step failed on the way.
};

// The name a catalogue lists a member under: its hash in upper-case hexadecimal.
std::wstring CatalogueMemberTag(const std::vector<uint8_t>& hash);

// Looks the file up under SHA-256 and then SHA-1; the first catalogue found decides. Every
// context and catalogue acquired is released before this returns, exceptions included.
CatalogueVerdict VerifyThroughCatalogue(CatalogueCalls& calls);

}  // namespace pel_mora
