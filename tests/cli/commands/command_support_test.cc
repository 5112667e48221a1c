// The pieces every family of commands shares: the confirmation before deleting and the names
// Linux paths are given for the host.

#include "cli/commands/command_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace pel_mora::cli {
namespace {

using ::testing::HasSubstr;

struct ConfirmationCase {
  const char* name;
  bool yes_option;
  bool in_is_terminal;
  const char* typed;
  Confirmation expected;
};

TEST(ConfirmDeletionTest, OnlyAnExplicitYesConfirms) {
  const ConfirmationCase cases[] = {
      {"--yes asks nothing", true, false, "", Confirmation::kConfirmed},
      {"y", false, true, "y\n", Confirmation::kConfirmed},
      {"yes with a carriage return", false, true, "yes\r\n", Confirmation::kConfirmed},
      {"n", false, true, "n\n", Confirmation::kDeclined},
      {"just Enter", false, true, "\n", Confirmation::kDeclined},
      {"anything else", false, true, "sure\n", Confirmation::kDeclined},
      {"end of input", false, true, "", Confirmation::kDeclined},
  };
  for (const ConfirmationCase& test_case : cases) {
    CliOptions options;
    options.command = "clean";
    if (test_case.yes_option) {
      options.command_options["yes"] = "";
    }
    std::istringstream in(test_case.typed);
    std::ostringstream err;
    CliEnvironment environment;
    environment.in = &in;
    environment.in_is_terminal = test_case.in_is_terminal;
    environment.err = &err;
    EXPECT_EQ(ConfirmDeletion(options, environment, "Delete 3 files?"), test_case.expected) << test_case.name;
    if (test_case.yes_option) {
      EXPECT_EQ(err.str(), "") << test_case.name;
    } else {
      EXPECT_THAT(err.str(), HasSubstr("Delete 3 files? [y/N] ")) << test_case.name;
    }
  }
}

TEST(ConfirmDeletionTest, WithoutATerminalAndWithoutYesItRefuses) {
  CliOptions options;
  std::istringstream in("y\n");  // Piped input is not a person's answer.
  std::ostringstream err;
  CliEnvironment environment;
  environment.in = &in;
  environment.in_is_terminal = false;
  environment.err = &err;
  try {
    ConfirmDeletion(options, environment, "Delete?");
    FAIL() << "expected a usage error";
  } catch (const UsageError& error) {
    EXPECT_THAT(error.what(), HasSubstr("--yes"));
  }
}

TEST(HostPathForOperandTest, LinuxPathsGetTheirWineNames) {
  struct Case {
    std::string operand;
    std::string expected;
  };
  const std::string here = std::filesystem::current_path().string();
  std::string here_on_z = "Z:";
  for (const char character : here) {
    here_on_z.push_back(character == '/' ? '\\' : character);
  }
  const Case cases[] = {
      {"/tmp/a b/c.txt", "Z:\\tmp\\a b\\c.txt"},
      {"/", "Z:\\"},
      {"C:\\Users\\x", "C:\\Users\\x"},
      {"c:/data", "c:/data"},
      {"\\\\server\\share\\x", "\\\\server\\share\\x"},
      {"sub/file", here_on_z + "\\sub\\file"},
      {"", ""},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(HostPathForOperand(test_case.operand), test_case.expected) << test_case.operand;
  }
}

}  // namespace
}  // namespace pel_mora::cli
