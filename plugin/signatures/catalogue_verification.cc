#include "plugin/signatures/catalogue_verification.h"

namespace pel_mora {

namespace {

// Owns a catalogue admin context and releases it through the calls that acquired it.
class ScopedAdminContext {
 public:
  ScopedAdminContext(CatalogueCalls& calls, CatalogueCalls::AdminContext context)
      : calls_(calls), context_(context) {}
  ~ScopedAdminContext() { calls_.ReleaseContext(context_); }
  ScopedAdminContext(const ScopedAdminContext&) = delete;
  ScopedAdminContext& operator=(const ScopedAdminContext&) = delete;

  CatalogueCalls::AdminContext Get() const { return context_; }

 private:
  CatalogueCalls& calls_;
  CatalogueCalls::AdminContext context_;
};

// Owns a catalogue found through an admin context; released before that context.
class ScopedCatalogue {
 public:
  ScopedCatalogue(CatalogueCalls& calls, CatalogueCalls::AdminContext context,
                  CatalogueCalls::CatalogueContext catalogue)
      : calls_(calls), context_(context), catalogue_(catalogue) {}
  ~ScopedCatalogue() { calls_.ReleaseCatalogue(context_, catalogue_); }
  ScopedCatalogue(const ScopedCatalogue&) = delete;
  ScopedCatalogue& operator=(const ScopedCatalogue&) = delete;

  CatalogueCalls::CatalogueContext Get() const { return catalogue_; }

 private:
  CatalogueCalls& calls_;
  CatalogueCalls::AdminContext context_;
  CatalogueCalls::CatalogueContext catalogue_;
};

}  // namespace

std::wstring CatalogueMemberTag(const std::vector<uint8_t>& hash) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring tag;
  tag.reserve(hash.size() * 2);
  for (const uint8_t byte : hash) {
    tag += kDigits[byte >> 4];
    tag += kDigits[byte & 0x0F];
  }
  return tag;
}

CatalogueVerdict VerifyThroughCatalogue(CatalogueCalls& calls) {
  bool step_failed = false;
  for (const HashAlgorithm algorithm : {HashAlgorithm::kSha256, HashAlgorithm::kSha1}) {
    CatalogueCalls::AdminContext acquired = nullptr;
    if (!calls.AcquireContext(algorithm, acquired)) {
      step_failed = true;
      continue;
    }
    const ScopedAdminContext context(calls, acquired);
    std::vector<uint8_t> hash;
    if (!calls.CalculateFileHash(context.Get(), hash) || hash.empty()) {
      step_failed = true;
      continue;
    }
    CatalogueCalls::CatalogueContext found = nullptr;
    if (!calls.FindCatalogue(context.Get(), hash, found)) {
      continue;
    }
    const ScopedCatalogue catalogue(calls, context.Get(), found);
    return calls.CatalogueVerifies(context.Get(), catalogue.Get(), hash, CatalogueMemberTag(hash))
               ? CatalogueVerdict::kTrusted
               : CatalogueVerdict::kNotTrusted;
  }
  return step_failed ? CatalogueVerdict::kFailed : CatalogueVerdict::kNotListed;
}

}  // namespace pel_mora
