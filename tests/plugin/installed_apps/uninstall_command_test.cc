#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "plugin/installed_apps/uninstall_command.h"

namespace pel_mora {
namespace {

TEST(SplitCommandLineTest, FirstWordAsProcessCreationReadsIt) {
  struct SplitCase {
    const wchar_t* command;
    const wchar_t* program;
    const wchar_t* parameters;
  };
  const std::vector<SplitCase> cases = {
      {L"\"C:\\Program Files\\App\\un install.exe\" /S /log=\"a b\"", L"C:\\Program Files\\App\\un install.exe",
       L"/S /log=\"a b\""},
      // The closing quote ends the program even without a blank after it.
      {L"\"C:\\App\\uninst.exe\"/S", L"C:\\App\\uninst.exe", L"/S"},
      {L"  MsiExec.exe  /X{1234}", L"MsiExec.exe", L"/X{1234}"},
      {L"C:\\App\\uninst.exe\t/S \"x y\"", L"C:\\App\\uninst.exe", L"/S \"x y\""},
      {L"C:\\App\\uninst.exe", L"C:\\App\\uninst.exe", L""},
      // An unclosed quote runs to the end.
      {L"\"C:\\App\\uninst.exe /S", L"C:\\App\\uninst.exe /S", L""},
      {L"\"\" /S", L"", L"/S"},
      {L"", L"", L""},
  };
  for (const SplitCase& split : cases) {
    const CommandParts parts = SplitCommandLine(split.command);
    EXPECT_EQ(parts.program, split.program) << testing::PrintToString(std::wstring(split.command));
    EXPECT_EQ(parts.parameters, split.parameters) << testing::PrintToString(std::wstring(split.command));
  }
}

// A disk of named files and folders; remembers what was asked.
class FakeDisk : public PathProbe {
 public:
  explicit FakeDisk(std::map<std::wstring, PathKind> paths) : paths_(std::move(paths)) {}
  PathKind KindOf(const std::wstring& path) override {
    probed.push_back(path);
    const auto found = paths_.find(path);
    return found == paths_.end() ? PathKind::kMissing : found->second;
  }
  std::vector<std::wstring> probed;

 private:
  std::map<std::wstring, PathKind> paths_;
};

TEST(PinProgramTest, UnquotedProgramIsTheShortestExistingExePrefix) {
  struct PinCase {
    const char* situation;
    const wchar_t* command;
    std::map<std::wstring, PathKind> disk;
    std::optional<std::wstring> pinned;
  };
  const std::map<std::wstring, PathKind> planted = {
      // What process creation would try first for an unquoted "C:\Program Files\App\..." command.
      {L"C:\\Program", PathKind::kFile},
      {L"C:\\Program.exe", PathKind::kFile},
      {L"C:\\Program Files\\App\\un.exe", PathKind::kFile},
      {L"C:\\Program Files\\App\\un install.exe", PathKind::kFile},
  };
  const std::vector<PinCase> cases = {
      {"quoted program", L"\"C:\\Program Files\\App\\un install.exe\" /S", {},
       L"\"C:\\Program Files\\App\\un install.exe\" /S"},
      {"no blanks", L"C:\\App\\uninst.exe", {}, L"C:\\App\\uninst.exe"},
      {"leading blanks dropped", L"  \"C:\\App\\uninst.exe\" /S", {}, L"\"C:\\App\\uninst.exe\" /S"},
      {"planted shorter prefixes", L"C:\\Program Files\\App\\un install.exe /S /D=\"x y\"", planted,
       L"\"C:\\Program Files\\App\\un install.exe\" /S /D=\"x y\""},
      {"upper-case extension", L"C:\\Program Files\\App\\UNINST.EXE /S",
       {{L"C:\\Program Files\\App\\UNINST.EXE", PathKind::kFile}}, L"\"C:\\Program Files\\App\\UNINST.EXE\" /S"},
      {"a folder ending in .exe is passed over", L"C:\\My.exe Tools\\uninst.exe /S",
       {{L"C:\\My.exe", PathKind::kFolder}, {L"C:\\My.exe Tools\\uninst.exe", PathKind::kFile}},
       L"\"C:\\My.exe Tools\\uninst.exe\" /S"},
      {"the shortest existing .exe prefix wins", L"C:\\My.exe Tools\\uninst.exe /S",
       {{L"C:\\My.exe", PathKind::kFile}, {L"C:\\My.exe Tools\\uninst.exe", PathKind::kFile}},
       L"\"C:\\My.exe\" Tools\\uninst.exe /S"},
      {"program without arguments", L"C:\\Program Files\\App\\un install.exe", planted,
       L"\"C:\\Program Files\\App\\un install.exe\""},
      {"document opened whole", L"C:\\My Docs\\read me.txt ", {{L"C:\\My Docs\\read me.txt", PathKind::kFile}},
       L"\"C:\\My Docs\\read me.txt\""},
      {"folder opened whole", L"C:\\My Docs", {{L"C:\\My Docs", PathKind::kFolder}}, L"\"C:\\My Docs\""},
      {"bare name left to the system's search", L"MsiExec.exe /X{1234}", {}, L"MsiExec.exe /X{1234}"},
      {"missing program path", L"C:\\Program Files\\Gone\\uninst.exe /S", planted, std::nullopt},
      {"missing program relative to a drive", L"C:uninst.exe /S", {}, std::nullopt},
      {"only blanks", L"  \t", {}, std::nullopt},
  };
  for (const PinCase& pin : cases) {
    FakeDisk disk(pin.disk);
    EXPECT_EQ(PinProgram(pin.command, disk), pin.pinned) << pin.situation;
  }
}

TEST(PinProgramTest, ProbesOnlyExePrefixesUpToTheFirstMatch) {
  FakeDisk disk({{L"C:\\Program Files\\A.exe B\\un.exe", PathKind::kFile}});
  PinProgram(L"C:\\Program Files\\A.exe B\\un.exe /S x.exe", disk);
  EXPECT_EQ(disk.probed,
            (std::vector<std::wstring>{L"C:\\Program Files\\A.exe", L"C:\\Program Files\\A.exe B\\un.exe"}));
}

// Records what it was asked to start and answers as told.
class ScriptedStarter : public CommandStarter {
 public:
  ScriptedStarter(bool process_starts, intptr_t shell_result)
      : process_starts_(process_starts), shell_result_(shell_result) {}

  PathKind KindOf(const std::wstring& path) override {
    return path == L"C:\\Program Files\\App\\uninst.exe" || path == L"C:\\Docs\\read me.txt" ? PathKind::kFile
                                                                                             : PathKind::kMissing;
  }
  std::wstring ExpandEnvironment(const std::wstring& text) override {
    calls.push_back(L"expand:" + text);
    std::wstring expanded = text;
    const std::wstring variable = L"%ProgramFiles%";
    const size_t found = expanded.find(variable);
    if (found != std::wstring::npos) {
      expanded.replace(found, variable.size(), L"C:\\Program Files");
    }
    return expanded;
  }
  bool StartProcess(const std::wstring& command_line) override {
    calls.push_back(L"process:" + command_line);
    return process_starts_;
  }
  intptr_t OpenWithShell(const std::wstring& program, const std::wstring& parameters) override {
    calls.push_back(L"shell:" + program + L"|" + parameters);
    return shell_result_;
  }

  std::vector<std::wstring> calls;

 private:
  bool process_starts_;
  intptr_t shell_result_;
};

TEST(LaunchUninstallCommandTest, ExpandsPinsStartsThenHandsProgramAndParametersToTheShell) {
  const std::wstring expandable = L"%ProgramFiles%\\App\\uninst.exe /S /log=\"a b\"";
  const std::wstring pinned = L"\"C:\\Program Files\\App\\uninst.exe\" /S /log=\"a b\"";
  const std::wstring shell = L"shell:C:\\Program Files\\App\\uninst.exe|/S /log=\"a b\"";
  struct LaunchCase {
    const char* situation;
    std::wstring command;
    bool process_starts;
    intptr_t shell_result;
    bool launched;
    std::vector<std::wstring> calls;
  };
  const std::vector<LaunchCase> cases = {
      {"process starts", expandable, true, 0, true, {L"expand:" + expandable, L"process:" + pinned}},
      {"elevation needed, shell starts it", expandable, false, 42, true,
       {L"expand:" + expandable, L"process:" + pinned, shell}},
      {"shell answers 33", expandable, false, 33, true, {L"expand:" + expandable, L"process:" + pinned, shell}},
      {"shell answers 32", expandable, false, 32, false, {L"expand:" + expandable, L"process:" + pinned, shell}},
      {"shell answers file not found", expandable, false, 2, false,
       {L"expand:" + expandable, L"process:" + pinned, shell}},
      {"document", L"C:\\Docs\\read me.txt", false, 42, true,
       {L"expand:C:\\Docs\\read me.txt", L"process:\"C:\\Docs\\read me.txt\"", L"shell:C:\\Docs\\read me.txt|"}},
      {"bare program name", L"MsiExec.exe /X{1234}", false, 42, true,
       {L"expand:MsiExec.exe /X{1234}", L"process:MsiExec.exe /X{1234}", L"shell:MsiExec.exe|/X{1234}"}},
      {"no safe reading starts nothing", L"C:\\Program Files\\Gone\\uninst.exe /S", true, 42, false,
       {L"expand:C:\\Program Files\\Gone\\uninst.exe /S"}},
      {"empty program starts no shell", L"\"\" /S", false, 42, false, {L"expand:\"\" /S", L"process:\"\" /S"}},
  };
  for (const LaunchCase& launch : cases) {
    ScriptedStarter starter(launch.process_starts, launch.shell_result);
    EXPECT_EQ(LaunchUninstallCommand(launch.command, starter), launch.launched) << launch.situation;
    EXPECT_EQ(starter.calls, launch.calls) << launch.situation;
  }
}

TEST(LaunchUninstallCommandTest, EmptyCommandStartsNothing) {
  ScriptedStarter starter(true, 42);
  EXPECT_FALSE(LaunchUninstallCommand(L"", starter));
  EXPECT_TRUE(starter.calls.empty());
}

}  // namespace
}  // namespace pel_mora
