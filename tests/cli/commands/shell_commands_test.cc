// verify, open, reveal, pick and secret against the fake bridge host: what each sends, what it
// prints, and its exit status.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "tests/cli/support/fake_bridge_host.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::Optional;
using testing::Console;
using testing::FakeBridgeHost;
using testing::Outcome;
using testing::RunClientAgainst;
using testing::ScriptedReply;




EncodableValue Map(std::initializer_list<std::pair<const char*, std::string>> entries) {
  EncodableMap map;
  for (const auto& [key, value] : entries) {
    map[EncodableValue(key)] = EncodableValue(value);
  }
  return EncodableValue(map);
}

class ShellCommandsTest : public ::testing::Test {
 protected:
  // Runs the client against the fake host with `input` as standard input.
  Outcome Run(std::vector<std::string> arguments, const std::string& input = "", bool input_is_terminal = false,
              std::function<unsigned()> interrupt_count = nullptr) {
    return RunClientAgainst(host_, std::move(arguments),
                            Console{.typed = input, .in_is_terminal = input_is_terminal,
                                    .interrupt_count = std::move(interrupt_count)});
  }

  void Reply(const std::string& method, ScriptedReply reply) {
    host_.set_method_reply(method, [reply](const EncodableValue&) { return reply; });
  }

  bool Called(const std::string& method) const {
    const std::vector<std::string> calls = host_.calls();
    return std::find(calls.begin(), calls.end(), "com.pelmora.app/native " + method) != calls.end();
  }

  FakeBridgeHost host_;
};

struct VerifyCase {
  EncodableValue reply;
  std::vector<std::string> options;
  int status;
  std::string out;
};

TEST_F(ShellCommandsTest, VerifyPrintsTheVerdictAndAnswersWithItsStatus) {
  const std::vector<VerifyCase> cases = {
      {EncodableValue(true), {}, kExitSuccess, "C:\\Tools\\setup.exe: signature verified\n"},
      {EncodableValue(false), {}, kExitFailure,
       "C:\\Tools\\setup.exe: no valid signature (unsigned, altered, untrusted or unreadable)\n"},
      {EncodableValue(true), {"--json"}, kExitSuccess, "{\"path\":\"C:\\\\Tools\\\\setup.exe\",\"verified\":true}\n"},
      {EncodableValue(false), {"--json"}, kExitFailure, "{\"path\":\"C:\\\\Tools\\\\setup.exe\",\"verified\":false}\n"},
  };
  for (const VerifyCase& test_case : cases) {
    SCOPED_TRACE(test_case.out);
    Reply("verifyAuthenticode", ScriptedReply::Success(test_case.reply));
    std::vector<std::string> arguments = {"verify", "C:\\Tools\\setup.exe"};
    arguments.insert(arguments.end(), test_case.options.begin(), test_case.options.end());
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.status, test_case.status) << outcome.err;
    EXPECT_EQ(outcome.out, test_case.out);
    EXPECT_THAT(host_.last_arguments("verifyAuthenticode"), Optional(Map({{"path", "C:\\Tools\\setup.exe"}})));
  }
}

TEST_F(ShellCommandsTest, ErrorRepliesAreReportedWithStatusOne) {
  struct Case {
    std::vector<std::string> arguments;
    const char* method;
    const char* code;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"verify", "C:\\a.exe"}, "verifyAuthenticode", "VERIFY_ERROR", "Failed to verify authenticode."},
      {{"open", "C:\\a.pdf"}, "openFile", "OPEN_ERROR", "Failed to open file."},
      {{"reveal", "C:\\a.pdf"}, "openInExplorer", "EXPLORER_ERROR", "Failed to open in explorer."},
      {{"secret", "get", "k"}, "secureRead", "SECURE_READ_ERROR", "Failed to read secure key."},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.method);
    Reply(test_case.method, ScriptedReply::Error(test_case.code, test_case.message));
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, kExitFailure);
    EXPECT_THAT(outcome.out, IsEmpty());
    EXPECT_EQ(outcome.err, std::string("error ") + test_case.code + ": " + test_case.message + "\n");
  }
}

TEST_F(ShellCommandsTest, OpenAndRevealSendThePathAndSayWhatWasDone) {
  Reply("openFile", ScriptedReply::Success(EncodableValue(true)));
  Reply("openInExplorer", ScriptedReply::Success(EncodableValue(true)));

  const Outcome opened = Run({"open", "D:\\Docs\\a b.pdf"});
  EXPECT_EQ(opened.status, kExitSuccess) << opened.err;
  EXPECT_EQ(opened.out, "Opened D:\\Docs\\a b.pdf with its application\n");
  EXPECT_THAT(host_.last_arguments("openFile"), Optional(Map({{"path", "D:\\Docs\\a b.pdf"}})));

  const Outcome revealed = Run({"reveal", "D:\\Docs"});
  EXPECT_EQ(revealed.status, kExitSuccess) << revealed.err;
  EXPECT_EQ(revealed.out, "Asked Explorer to show D:\\Docs\n");
  EXPECT_THAT(host_.last_arguments("openInExplorer"), Optional(Map({{"path", "D:\\Docs"}})));
}

#ifndef _WIN32
TEST_F(ShellCommandsTest, LinuxPathsReachTheHostAsWineNames) {
  Reply("verifyAuthenticode", ScriptedReply::Success(EncodableValue(false)));
  Reply("openFile", ScriptedReply::Success(EncodableValue(true)));
  Reply("openInExplorer", ScriptedReply::Success(EncodableValue(true)));
  // Paths every Linux system has: the client checks that a path exists before it asks.
  Run({"verify", "/bin/sh"});
  Run({"open", "/etc/passwd"});
  Run({"reveal", "/usr/bin"});
  EXPECT_THAT(host_.last_arguments("verifyAuthenticode"), Optional(Map({{"path", "Z:\\bin\\sh"}})));
  EXPECT_THAT(host_.last_arguments("openFile"), Optional(Map({{"path", "Z:\\etc\\passwd"}})));
  EXPECT_THAT(host_.last_arguments("openInExplorer"), Optional(Map({{"path", "Z:\\usr\\bin"}})));
}
#endif

TEST_F(ShellCommandsTest, PickPrintsTheChosenFolderOrSaysNoneWasChosen) {
  struct Case {
    EncodableValue reply;
    std::vector<std::string> arguments;
    int status;
    std::string out;
  };
  const std::vector<Case> cases = {
      {EncodableValue("D:\\Photos"), {"pick"}, kExitSuccess, "D:\\Photos\n"},
      {EncodableValue(), {"pick"}, kExitFailure, ""},
      {EncodableValue("D:\\Photos"), {"pick", "--json"}, kExitSuccess, "\"D:\\\\Photos\"\n"},
      {EncodableValue(), {"pick", "--json"}, kExitFailure, "null\n"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.out);
    Reply("pickFolder", ScriptedReply::Success(test_case.reply));
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, test_case.status);
    EXPECT_EQ(outcome.out, test_case.out);
    EXPECT_THAT(outcome.err, HasSubstr("Waiting for a folder"));
    if (test_case.reply.IsNull()) {
      EXPECT_THAT(outcome.err, HasSubstr("No folder chosen"));
    }
  }
}

TEST_F(ShellCommandsTest, SecretSetStoresTheValueFromTheCommandLineOrStandardInput) {
  Reply("secureWrite", ScriptedReply::Success(EncodableValue(true)));
  struct Case {
    std::vector<std::string> arguments;
    std::string input;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {{"secret", "set", "api token", "v a l"}, "", "v a l"},
      // Piped: everything, less one final line break, whichever kind it is.
      {{"secret", "set", "api token"}, "s3cret\n", "s3cret"},
      {{"secret", "set", "api token"}, "s3cret\r\n", "s3cret"},
      {{"secret", "set", "api token"}, "two\nlines\n", "two\nlines"},
      {{"secret", "set", "api token"}, "", ""},
      {{"secret", "set", "api token", ""}, "ignored", ""},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.stored);
    const Outcome outcome = Run(test_case.arguments, test_case.input);
    EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
    EXPECT_EQ(outcome.out, "Stored the secret api token\n");
    EXPECT_THAT(host_.last_arguments("secureWrite"),
                Optional(Map({{"key", "api token"}, {"value", test_case.stored}})));
  }
}

TEST_F(ShellCommandsTest, SecretTypedAtATerminalIsPromptedForAndNeverPrinted) {
  Reply("secureWrite", ScriptedReply::Success(EncodableValue(true)));
  const Outcome outcome = Run({"secret", "set", "api token"}, "typed-secret\nnext line\n", true);
  EXPECT_EQ(outcome.status, kExitSuccess) << outcome.err;
  // One line only: at a terminal Enter ends the value.
  EXPECT_THAT(host_.last_arguments("secureWrite"), Optional(Map({{"key", "api token"}, {"value", "typed-secret"}})));
  EXPECT_THAT(outcome.err, HasSubstr("Value for api token (not shown): "));
  EXPECT_THAT(outcome.err, Not(HasSubstr("typed-secret")));
  EXPECT_THAT(outcome.out, Not(HasSubstr("typed-secret")));
}

TEST_F(ShellCommandsTest, SecretPromptEndedWithoutAValueStoresNothing) {
  Reply("secureWrite", ScriptedReply::Success(EncodableValue(true)));
  const Outcome outcome = Run({"secret", "set", "api token"}, "", true);
  EXPECT_EQ(outcome.status, kExitUsage);
  EXPECT_THAT(outcome.err, HasSubstr("no value was typed for api token"));
  EXPECT_THAT(host_.calls(), IsEmpty());

  // Ctrl-C while typing: the line that Enter then ends is not stored either.
  const Outcome interrupted = Run({"secret", "set", "api token"}, "half typed\n", true, [] { return 1u; });
  EXPECT_EQ(interrupted.status, kExitInterrupted);
  EXPECT_THAT(host_.calls(), IsEmpty());
}

TEST_F(ShellCommandsTest, SecretSetThatTheHostRefusesFails) {
  Reply("secureWrite", ScriptedReply::Success(EncodableValue(false)));
  const Outcome outcome = Run({"secret", "set", "k", "v"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.err, "pelmora-cli: the host could not store the secret k\n");
}

TEST_F(ShellCommandsTest, SecretGetPrintsTheValueOrSaysNothingIsStored) {
  struct Case {
    EncodableValue reply;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {EncodableValue("v\xC3\xA4lue"), {"secret", "get", "k"}, kExitSuccess, "v\xC3\xA4lue\n", ""},
      {EncodableValue(false), {"secret", "get", "k"}, kExitFailure, "", "pelmora-cli: no secret stored under k\n"},
      {EncodableValue("x"), {"secret", "get", "k", "--json"}, kExitSuccess, "\"x\"\n", ""},
      {EncodableValue(false), {"secret", "get", "k", "--json"}, kExitFailure, "null\n", ""},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.out + test_case.err);
    Reply("secureRead", ScriptedReply::Success(test_case.reply));
    const Outcome outcome = Run(test_case.arguments);
    EXPECT_EQ(outcome.status, test_case.status);
    EXPECT_EQ(outcome.out, test_case.out);
    EXPECT_EQ(outcome.err, test_case.err);
    EXPECT_THAT(host_.last_arguments("secureRead"), Optional(Map({{"key", "k"}})));
  }
}

TEST_F(ShellCommandsTest, SecretRmAsksFirstUnlessToldYes) {
  Reply("secureRead", ScriptedReply::Success(EncodableValue(std::string("stored"))));
  Reply("secureDelete", ScriptedReply::Success(EncodableValue(true)));

  // Nobody at a terminal to answer: refused before anything is sent.
  const Outcome unanswerable = Run({"secret", "rm", "k"});
  EXPECT_EQ(unanswerable.status, kExitUsage);
  EXPECT_THAT(unanswerable.err, HasSubstr("--yes"));
  EXPECT_FALSE(Called("secureDelete"));

  const Outcome declined = Run({"secret", "rm", "k"}, "n\n", true);
  EXPECT_EQ(declined.status, kExitFailure);
  EXPECT_THAT(declined.err, HasSubstr("Remove the secret k? It cannot be recovered. [y/N] "));
  EXPECT_THAT(declined.err, HasSubstr("Nothing removed"));
  EXPECT_FALSE(Called("secureDelete"));

  const Outcome confirmed = Run({"secret", "rm", "k"}, "y\n", true);
  EXPECT_EQ(confirmed.status, kExitSuccess) << confirmed.err;
  EXPECT_EQ(confirmed.out, "Removed the secret k\n");
  EXPECT_THAT(host_.last_arguments("secureDelete"), Optional(Map({{"key", "k"}})));

  Reply("secureDelete", ScriptedReply::Success(EncodableValue(false)));
  const Outcome refused = Run({"secret", "rm", "k", "--yes"});
  EXPECT_EQ(refused.status, kExitFailure);
  EXPECT_EQ(refused.err, "pelmora-cli: the host could not remove the secret k\n");
}

TEST_F(ShellCommandsTest, SecretRmOfAKeyNeverStoredSaysSo) {
  // The store answers "gone" whether or not there was anything; only the read tells.
  Reply("secureRead", ScriptedReply::Success(EncodableValue(false)));
  Reply("secureDelete", ScriptedReply::Success(EncodableValue(true)));
  const Outcome outcome = Run({"secret", "rm", "never", "--yes"});
  EXPECT_EQ(outcome.status, kExitFailure);
  EXPECT_EQ(outcome.err, "pelmora-cli: no secret stored under never; nothing removed\n");
  EXPECT_THAT(outcome.out, IsEmpty());
  // An unreadable leftover file under the key is cleared all the same.
  EXPECT_TRUE(Called("secureDelete"));
}

TEST_F(ShellCommandsTest, BadCommandLinesFailBeforeAnyCall) {
  const std::vector<std::vector<std::string>> command_lines = {
      {"verify"},
      {"verify", "a", "b"},
      {"open"},
      {"reveal", "a", "b"},
      {"pick", "extra"},
      {"open", "a", "--json"},
      {"secret"},
      {"secret", "list"},
      {"secret", "set"},
      {"secret", "set", "k", "v", "extra"},
      {"secret", "get"},
      {"secret", "rm", "k", "--json"},
      {"secret", "set", "k", "v", "--yes"},
  };
  for (const std::vector<std::string>& command_line : command_lines) {
    SCOPED_TRACE(::testing::PrintToString(command_line));
    const Outcome outcome = Run(command_line);
    EXPECT_EQ(outcome.status, kExitUsage);
    EXPECT_THAT(outcome.err, HasSubstr("pelmora-cli: "));
  }
  EXPECT_THAT(host_.calls(), IsEmpty());
}

TEST_F(ShellCommandsTest, HelpListsEveryCommand) {
  const Outcome outcome = Run({"--help"});
  for (const char* synopsis : {"  verify FILE  ", "  open PATH  ", "  reveal PATH  ", "  pick  ", "  secret set KEY [VALUE]\n",
                               "  secret get KEY  ", "  secret rm KEY  "}) {
    EXPECT_THAT(outcome.out, HasSubstr(synopsis));
  }
}

}  // namespace
}  // namespace pel_mora::cli
