// Which shell call each shell action makes, decided without the shell.

#include <gtest/gtest.h>

#include <string>

#include "plugin/shell_actions/shell_requests.h"

namespace pel_mora {
namespace {

struct ExplorerCase {
  const wchar_t* path;
  PathKind kind;
  ShellRequest expected;
};

class ExplorerRequestTest : public ::testing::TestWithParam<ExplorerCase> {};

TEST_P(ExplorerRequestTest, FilesAreSelectedInTheirFolderEverythingElseIsExplored) {
  const ExplorerCase& test_case = GetParam();
  EXPECT_EQ(ExplorerRequest(test_case.path, test_case.kind), test_case.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths,
    ExplorerRequestTest,
    ::testing::Values(
        ExplorerCase{L"C:\\Data\\a b.txt", PathKind::kFile,
                     {L"open", L"explorer.exe", L"/select,\"C:\\Data\\a b.txt\"", ShowCommand::kDefault}},
        // Nothing inside the quotes is escaped, not even a quote or a comma of the name.
        ExplorerCase{L"C:\\odd\",name.txt", PathKind::kFile,
                     {L"open", L"explorer.exe", L"/select,\"C:\\odd\",name.txt\"", ShowCommand::kDefault}},
        ExplorerCase{L"\\\\server\\share\\r.doc", PathKind::kFile,
                     {L"open", L"explorer.exe", L"/select,\"\\\\server\\share\\r.doc\"", ShowCommand::kDefault}},
        ExplorerCase{L"C:\\Data", PathKind::kFolder, {L"explore", L"C:\\Data", L"", ShowCommand::kDefault}},
        ExplorerCase{L"C:\\gone.txt", PathKind::kUnreadable, {L"explore", L"C:\\gone.txt", L"", ShowCommand::kDefault}}));

TEST(ExplorerSelectParametersTest, IsSelectCommaAndThePathInQuotes) {
  const std::wstring parameters = ExplorerSelectParameters(L"C:\\Data\\a b.txt");
  EXPECT_EQ(parameters, L"/select,\"C:\\Data\\a b.txt\"");
  EXPECT_EQ(parameters.size(), 25u);
}

TEST(OpenFileRequestTest, OpensThePathItselfShownNormally) {
  EXPECT_EQ(OpenFileRequest(L"D:\\x y\\z.pdf"), (ShellRequest{L"open", L"D:\\x y\\z.pdf", L"", ShowCommand::kNormal}));
}

}  // namespace
}  // namespace pel_mora
