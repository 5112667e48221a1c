#pragma once

// The catalogue calls of wintrust.dll on one file, for the catalogue lookup in
// catalogue_verification.cc. Declared here so a test can run the lookup over the real calls.

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/signatures/catalogue_verification.h"

namespace pel_mora {

class Win32CatalogueCalls : public CatalogueCalls {
 public:
  explicit Win32CatalogueCalls(std::wstring path);

  bool AcquireContext(HashAlgorithm algorithm, AdminContext& context) override;
  void ReleaseContext(AdminContext context) override;
  bool CalculateFileHash(AdminContext context, std::vector<uint8_t>& hash) override;
  bool FindCatalogue(AdminContext context, const std::vector<uint8_t>& hash, CatalogueContext& catalogue) override;
  void ReleaseCatalogue(AdminContext context, CatalogueContext catalogue) override;
  bool CatalogueVerifies(AdminContext context, CatalogueContext catalogue, const std::vector<uint8_t>& hash,
                         const std::wstring& member_tag) override;

 private:
  std::wstring path_;
};

}  // namespace pel_mora
