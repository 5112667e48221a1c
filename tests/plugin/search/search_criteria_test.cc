#include "plugin/search/search_criteria.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pel_mora {
namespace {

using Words = std::vector<std::wstring>;

struct ParseCase {
  std::wstring input;
  Words expected;
};

class QueryTokenTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(QueryTokenTest, SplitsAtWhiteSpaceStripsOuterWildcardsAndLowerCases) {
  EXPECT_EQ(ParseQueryTokens(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Queries,
    QueryTokenTest,
    ::testing::Values(ParseCase{L"", {}},
                      ParseCase{L" \t\n\v\f\r ", {}},
                      ParseCase{L"Report 2023", {L"report", L"2023"}},
                      ParseCase{L"\tA\r\nb\vC\fd", {L"a", L"b", L"c", L"d"}},
                      // Wildcards go only at the ends; inside a word they are literal.
                      ParseCase{L"*.pdf", {L".pdf"}},
                      ParseCase{L"?*ab*c?*", {L"ab*c"}},
                      ParseCase{L"** ? *?*", {}},
                      // Duplicates stay; only A to Z fold.
                      ParseCase{L"x X", {L"x", L"x"}},
                      ParseCase{L"\u00C9T\u00C9 \u0130", {L"\u00C9t\u00C9", L"\u0130"}},
                      // Separators other than the six white-space characters belong to the word.
                      ParseCase{L"a,b;c|d\u00A0e", {L"a,b;c|d\u00A0e"}}));

class ExtensionListTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ExtensionListTest, SplitsAtListSeparatorsAndDropsDotAndStarDot) {
  EXPECT_EQ(ParseExtensionList(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists,
    ExtensionListTest,
    ::testing::Values(ParseCase{L"", {}},
                      ParseCase{L",;| ,", {}},
                      ParseCase{L".JPG, png;*.gif", {L"jpg", L"png", L"gif"}},
                      ParseCase{L".txt|*.txt|TXT", {L"txt", L"txt", L"txt"}},
                      // A tab is not a separator.
                      ParseCase{L"a\tb", {L"a\tb"}},
                      // One dot, then one star-dot, are removed, in that order only.
                      ParseCase{L"..txt", {L".txt"}},
                      ParseCase{L".*.txt", {L"txt"}},
                      ParseCase{L"*..txt", {L".txt"}},
                      ParseCase{L"*.", {}},
                      ParseCase{L".", {}},
                      ParseCase{L"*", {L"*"}},
                      ParseCase{L"*txt", {L"*txt"}},
                      ParseCase{L"tar.GZ", {L"tar.gz"}}));

struct ExtensionCase {
  std::wstring name;
  std::wstring expected;
};

class FileExtensionTest : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(FileExtensionTest, IsTheTextAfterTheLastDotUnlessThatDotLeads) {
  EXPECT_EQ(FileExtensionOf(GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names,
                         FileExtensionTest,
                         ::testing::Values(ExtensionCase{L"a.txt", L"txt"},
                                           ExtensionCase{L"Photo.JPG", L"JPG"},
                                           ExtensionCase{L"archive.tar.gz", L"gz"},
                                           ExtensionCase{L"README", L""},
                                           ExtensionCase{L".gitignore", L""},
                                           ExtensionCase{L".config.json", L"json"},
                                           ExtensionCase{L"trailing.", L""},
                                           ExtensionCase{L"", L""}));

struct PathCase {
  std::wstring lower_case_path;
  bool excluded;
};

class ExcludedSystemPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ExcludedSystemPathTest, IsASubstringTest) {
  EXPECT_EQ(IsExcludedSystemPath(GetParam().lower_case_path), GetParam().excluded);
}

INSTANTIATE_TEST_SUITE_P(
    Paths,
    ExcludedSystemPathTest,
    ::testing::Values(PathCase{L"c:\\windows\\winsxs", true},
                      PathCase{L"c:\\windows\\winsxs\\amd64_x", true},
                      PathCase{L"c:\\windows\\winsxsbackup", true},
                      PathCase{L"d:\\old\\windows\\system32\\driverstore\\filerepository", true},
                      PathCase{L"c:\\windows\\servicing", true},
                      PathCase{L"c:\\windows\\softwaredistribution\\download\\x", true},
                      PathCase{L"c:\\users\\me\\appdata\\local\\packages", true},
                      PathCase{L"c:\\windows", false},
                      PathCase{L"c:\\windows\\system32", false},
                      PathCase{L"c:\\windows\\softwaredistribution", false},
                      PathCase{L"c:\\users\\me\\appdata\\local\\temp", false},
                      // Without the leading separator it is another folder.
                      PathCase{L"c:\\mywindows\\winsxs", false},
                      // The caller lower-cases; upper case is not found.
                      PathCase{L"c:\\Windows\\WinSxS", false}));

struct NameCase {
  std::wstring name;
  bool excluded;
};

class ExcludedEntryNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ExcludedEntryNameTest, ComparesWholeNamesIgnoringAsciiCase) {
  EXPECT_EQ(IsExcludedEntryName(GetParam().name), GetParam().excluded);
}

INSTANTIATE_TEST_SUITE_P(Names,
                         ExcludedEntryNameTest,
                         ::testing::Values(NameCase{L"$RECYCLE.BIN", true},
                                           NameCase{L"$recycle.bin", true},
                                           NameCase{L"system volume information", true},
                                           NameCase{L"$WinREAgent", true},
                                           NameCase{L"$windows.~bt", true},
                                           NameCase{L"$WINDOWS.~WS", true},
                                           NameCase{L"Node_Modules", true},
                                           NameCase{L".GIT", true},
                                           NameCase{L".vs", true},
                                           NameCase{L".gradle", true},
                                           NameCase{L"package cache", true},
                                           NameCase{L"node_modules2", false},
                                           NameCase{L".github", false},
                                           NameCase{L"git", false},
                                           NameCase{L"Package  Cache", false},
                                           NameCase{L"", false}));

struct LimitCase {
  int64_t requested;
  int32_t expected;
};

class ResultLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ResultLimitTest, UsesTheLowBitsAndFallsBackTo500) {
  EXPECT_EQ(EffectiveResultLimit(GetParam().requested), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Limits,
                         ResultLimitTest,
                         ::testing::Values(LimitCase{500, 500},
                                           LimitCase{1, 1},
                                           LimitCase{0, 500},
                                           LimitCase{-1, 500},
                                           LimitCase{2147483647, 2147483647},
                                           LimitCase{2147483648, 500},
                                           LimitCase{(int64_t{1} << 32) + 7, 7},
                                           LimitCase{int64_t{1} << 40, 500},
                                           LimitCase{(int64_t{1} << 32) - 1, 500}));

struct RootCase {
  std::wstring requested;
  std::wstring expected;
};

class SearchRootTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(SearchRootTest, IsNormalisedWithOneTrailingSeparator) {
  EXPECT_EQ(SearchRootFolder(GetParam().requested), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Roots,
                         SearchRootTest,
                         ::testing::Values(RootCase{L"", L"C:\\"},
                                           RootCase{L"C:\\", L"C:\\"},
                                           RootCase{L"D:", L"D:\\"},
                                           RootCase{L"d:/data//sub", L"d:\\data\\sub\\"},
                                           RootCase{L"E:\\data\\\\", L"E:\\data\\"},
                                           RootCase{L"//server/share", L"\\\\server\\share\\"},
                                           RootCase{L"/", L"\\"}));

struct MatchCase {
  const wchar_t* query;
  const wchar_t* extensions;
  int64_t min_size;
  int64_t max_size;
  const wchar_t* name;
  int64_t size_bytes;
  bool matches;
};

class SearchCriteriaTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(SearchCriteriaTest, AppliesSizeExtensionAndEveryWord) {
  const MatchCase& test = GetParam();
  const SearchCriteria criteria(test.query, test.extensions, test.min_size, test.max_size);
  // A buffer left over from a longer name must not leak into the next test.
  std::wstring buffer = L"a much longer name left over from the previous file.report.pdf";
  EXPECT_EQ(criteria.Matches(test.name, test.size_bytes, buffer), test.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Files,
    SearchCriteriaTest,
    ::testing::Values(
        MatchCase{L"", L"", 0, 0, L"anything", 0, true},
        MatchCase{L"Report 2023", L"", 0, 0, L"annual_REPORT_2023.pdf", 10, true},
        MatchCase{L"Report 2023", L"", 0, 0, L"report_2022.pdf", 10, false},
        MatchCase{L"*.pdf", L"", 0, 0, L"a.pdf.bak", 10, true},
        MatchCase{L"*.pdf", L"", 0, 0, L"a_pdf", 10, false},
        MatchCase{L"rep", L"", 0, 0, L"r\u00C9port", 10, false},
        MatchCase{L"\u00C9", L"", 0, 0, L"r\u00C9port", 10, true},
        MatchCase{L"", L".JPG, png;*.gif", 0, 0, L"a.jpg", 1, true},
        MatchCase{L"", L".JPG, png;*.gif", 0, 0, L"b.PNG", 1, true},
        MatchCase{L"", L".JPG, png;*.gif", 0, 0, L"c.gif", 1, true},
        MatchCase{L"", L".JPG, png;*.gif", 0, 0, L"c.gif2", 1, false},
        MatchCase{L"", L".JPG, png;*.gif", 0, 0, L"gif", 1, false},
        MatchCase{L"", L".JPG, png;*.gif", 0, 0, L".gif", 1, false},
        MatchCase{L"", L"*", 0, 0, L"a.txt", 1, false},
        MatchCase{L"", L"tar.gz", 0, 0, L"a.tar.gz", 1, false},
        // Both bounds are inclusive; below 1 means no bound.
        MatchCase{L"", L"", 100, 200, L"f", 100, true},
        MatchCase{L"", L"", 100, 200, L"f", 200, true},
        MatchCase{L"", L"", 100, 200, L"f", 99, false},
        MatchCase{L"", L"", 100, 200, L"f", 201, false},
        MatchCase{L"", L"", -5, 0, L"f", 0, true},
        MatchCase{L"", L"", 0, -1, L"f", int64_t{1} << 40, true},
        MatchCase{L"", L"", 300, 200, L"f", 250, false},
        // All three together.
        MatchCase{L"holiday", L"jpg", 1000, 0, L"Holiday-01.JPG", 5000, true},
        MatchCase{L"holiday", L"jpg", 1000, 0, L"Holiday-01.JPG", 999, false},
        MatchCase{L"holiday", L"jpg", 1000, 0, L"Holiday-01.png", 5000, false},
        MatchCase{L"holiday", L"jpg", 1000, 0, L"work-01.jpg", 5000, false}));

struct ModeCase {
  const wchar_t* query;
  const wchar_t* extensions;
  int64_t min_size;
  bool largest_files;
};

class LargestFilesModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(LargestFilesModeTest, NeedsAMinimumSizeAndNoNameCriteria) {
  const ModeCase& test = GetParam();
  EXPECT_EQ(SearchCriteria(test.query, test.extensions, test.min_size, 0).IsLargestFilesMode(), test.largest_files);
}

INSTANTIATE_TEST_SUITE_P(Modes,
                         LargestFilesModeTest,
                         ::testing::Values(ModeCase{L"", L"", 1048576, true},
                                           ModeCase{L"", L"", 1, true},
                                           ModeCase{L"", L"", 0, false},
                                           ModeCase{L"", L"", -1, false},
                                           ModeCase{L"a", L"", 1048576, false},
                                           ModeCase{L"", L"txt", 1048576, false},
                                           // Criteria that parse to nothing count as none.
                                           ModeCase{L" ** ", L" ;. ", 1048576, true}));

}  // namespace
}  // namespace pel_mora
