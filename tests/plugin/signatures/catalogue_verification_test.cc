#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/signatures/catalogue_verification.h"

namespace pel_mora {
namespace {

// How the catalogue calls answer for one hash algorithm.
struct AlgorithmScript {
  bool context_acquired = true;
  bool file_hashed = true;
  bool catalogue_found = false;
  bool catalogue_verifies = false;
  bool verification_throws = false;
};

// Catalogue calls that answer from a script, hand out distinct handles, and keep the handles not
// yet released, so a test sees every acquisition matched by a release of that same handle.
class ScriptedCatalogues : public CatalogueCalls {
 public:
  ScriptedCatalogues(AlgorithmScript sha256, AlgorithmScript sha1) : scripts_{{HashAlgorithm::kSha256, sha256},
                                                                               {HashAlgorithm::kSha1, sha1}} {}

  bool AcquireContext(HashAlgorithm algorithm, AdminContext& context) override {
    steps.push_back(algorithm == HashAlgorithm::kSha256 ? "acquire sha256" : "acquire sha1");
    if (!scripts_.at(algorithm).context_acquired) {
      return false;
    }
    context = NewHandle();
    algorithms_[context] = algorithm;
    contexts_held.insert(context);
    return true;
  }
  void ReleaseContext(AdminContext context) override {
    steps.push_back("release context");
    EXPECT_EQ(contexts_held.erase(context), 1u) << "released a context that was not held";
    for (const auto& held : catalogues_held) {
      EXPECT_NE(held.second, context) << "context released before its catalogue";
    }
  }
  bool CalculateFileHash(AdminContext context, std::vector<uint8_t>& hash) override {
    steps.push_back("hash");
    if (!Script(context).file_hashed) {
      return false;
    }
    hash = algorithms_.at(context) == HashAlgorithm::kSha256 ? std::vector<uint8_t>(32, 0xA5)
                                                             : std::vector<uint8_t>{0x01, 0xAB, 0xF0};
    return true;
  }
  bool FindCatalogue(AdminContext context, const std::vector<uint8_t>&, CatalogueContext& catalogue) override {
    steps.push_back("find");
    if (!Script(context).catalogue_found) {
      return false;
    }
    catalogue = NewHandle();
    catalogues_held[catalogue] = context;
    return true;
  }
  void ReleaseCatalogue(AdminContext context, CatalogueContext catalogue) override {
    steps.push_back("release catalogue");
    const auto held = catalogues_held.find(catalogue);
    ASSERT_NE(held, catalogues_held.end()) << "released a catalogue that was not held";
    EXPECT_EQ(held->second, context) << "released through another context";
    catalogues_held.erase(held);
  }
  bool CatalogueVerifies(AdminContext context, CatalogueContext catalogue, const std::vector<uint8_t>&,
                         const std::wstring& member_tag) override {
    steps.push_back("verify");
    EXPECT_EQ(catalogues_held.count(catalogue), 1u);
    member_tags.push_back(member_tag);
    if (Script(context).verification_throws) {
      throw std::runtime_error("verification failed");
    }
    return Script(context).catalogue_verifies;
  }

  std::vector<std::string> steps;
  std::vector<std::wstring> member_tags;
  std::set<AdminContext> contexts_held;
  std::map<CatalogueContext, AdminContext> catalogues_held;

 private:
  void* NewHandle() { return reinterpret_cast<void*>(++next_handle_); }
  const AlgorithmScript& Script(AdminContext context) { return scripts_.at(algorithms_.at(context)); }

  std::map<HashAlgorithm, AlgorithmScript> scripts_;
  std::map<AdminContext, HashAlgorithm> algorithms_;
  uintptr_t next_handle_ = 0x1000;
};

AlgorithmScript Listed(bool verifies) {
  AlgorithmScript script;
  script.catalogue_found = true;
  script.catalogue_verifies = verifies;
  return script;
}
AlgorithmScript NotListed() {
  return {};
}
AlgorithmScript NoContext() {
  AlgorithmScript script;
  script.context_acquired = false;
  return script;
}
AlgorithmScript NotHashed() {
  AlgorithmScript script;
  script.file_hashed = false;
  return script;
}

TEST(CatalogueVerificationTest, FirstCatalogueFoundDecidesAndEverythingIsReleased) {
  const std::vector<std::string> sha256_found = {"acquire sha256", "hash", "find", "verify", "release catalogue",
                                                 "release context"};
  const std::vector<std::string> sha256_not_found = {"acquire sha256", "hash", "find", "release context"};
  const std::vector<std::string> sha1_found = {"acquire sha1", "hash", "find", "verify", "release catalogue",
                                               "release context"};
  const std::vector<std::string> sha1_not_found = {"acquire sha1", "hash", "find", "release context"};
  const auto join = [](std::vector<std::string> first, const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  };
  struct VerdictCase {
    const char* situation;
    AlgorithmScript sha256;
    AlgorithmScript sha1;
    CatalogueVerdict verdict;
    std::vector<std::string> steps;
  };
  const std::vector<VerdictCase> cases = {
      {"listed under SHA-256 and trusted", Listed(true), Listed(false), CatalogueVerdict::kTrusted, sha256_found},
      // A listing that does not verify is not retried under the other hash.
      {"listed under SHA-256, not trusted", Listed(false), Listed(true), CatalogueVerdict::kNotTrusted,
       sha256_found},
      {"listed under SHA-1 only, trusted", NotListed(), Listed(true), CatalogueVerdict::kTrusted,
       join(sha256_not_found, sha1_found)},
      {"listed under SHA-1 only, not trusted", NotListed(), Listed(false), CatalogueVerdict::kNotTrusted,
       join(sha256_not_found, sha1_found)},
      {"listed nowhere", NotListed(), NotListed(), CatalogueVerdict::kNotListed,
       join(sha256_not_found, sha1_not_found)},
      {"no SHA-256 context, listed under SHA-1", NoContext(), Listed(true), CatalogueVerdict::kTrusted,
       join({"acquire sha256"}, sha1_found)},
      {"file cannot be hashed", NotHashed(), NotHashed(), CatalogueVerdict::kFailed,
       {"acquire sha256", "hash", "release context", "acquire sha1", "hash", "release context"}},
      {"no context at all", NoContext(), NoContext(), CatalogueVerdict::kFailed, {"acquire sha256", "acquire sha1"}},
      {"a failure and no listing", NoContext(), NotListed(), CatalogueVerdict::kFailed,
       join({"acquire sha256"}, sha1_not_found)},
  };
  for (const VerdictCase& verdict : cases) {
    SCOPED_TRACE(verdict.situation);
    ScriptedCatalogues calls(verdict.sha256, verdict.sha1);
    EXPECT_EQ(VerifyThroughCatalogue(calls), verdict.verdict);
    EXPECT_EQ(calls.steps, verdict.steps);
    EXPECT_TRUE(calls.contexts_held.empty());
    EXPECT_TRUE(calls.catalogues_held.empty());
  }
}

TEST(CatalogueVerificationTest, AThrowingVerificationStillReleasesEverything) {
  AlgorithmScript throwing = Listed(true);
  throwing.verification_throws = true;
  ScriptedCatalogues calls(throwing, NotListed());
  EXPECT_THROW(VerifyThroughCatalogue(calls), std::runtime_error);
  EXPECT_TRUE(calls.contexts_held.empty());
  EXPECT_TRUE(calls.catalogues_held.empty());
}

TEST(CatalogueVerificationTest, MemberIsLookedUpByItsHashInUpperCaseHex) {
  ScriptedCatalogues calls(NotListed(), Listed(true));
  EXPECT_EQ(VerifyThroughCatalogue(calls), CatalogueVerdict::kTrusted);
  EXPECT_EQ(calls.member_tags, std::vector<std::wstring>{L"01ABF0"});
  EXPECT_EQ(CatalogueMemberTag({0x00, 0x0F, 0x9A, 0xFF}), L"000F9AFF");
}

}  // namespace
}  // namespace pel_mora
