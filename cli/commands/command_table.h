#pragma once

// The commands of each family of operations. RunCli looks a command up in these tables, checks
// that the command-specific options given belong to it, and builds --help from their help texts.
// A family adds a command by adding an entry to its own table; nothing else needs to change.

#include <functional>
#include <string_view>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/common/cli_options.h"
#include "cli/connection/host_session.h"

namespace pel_mora::cli {

// A command that needs a host, ready to run once the session is open.
using SessionCommand = std::function<int(HostSession&)>;

struct CommandDefinition {
  std::string_view name;
  // The command's lines in --help: the synopsis from column 3, the description from column 24,
  // each line ending with a line break, as the built-in commands are shown.
  std::string_view help;
  // The command-specific options it accepts (see CliOptions::command_options), without "--".
  std::vector<std::string_view> options;
  // Checks the operands and options (throwing UsageError) before any host is started, and
  // returns what to run in the session. `options` and `environment` outlive the session command.
  SessionCommand (*prepare)(const CliOptions& options, const CliEnvironment& environment) = nullptr;
};

// Each is defined in the family's own file: cleanup_commands.cc (categories, clean),
// recycle_commands.cc (recycle, bin), duplicate_commands.cc (dupes), search_commands.cc (search,
// largest), system_commands.cc (metrics, apps, uninstall), shell_commands.cc (verify, open,
// reveal, pick, secret).
std::vector<CommandDefinition> CleanupCommands();
std::vector<CommandDefinition> RecycleCommands();
std::vector<CommandDefinition> DuplicateCommands();
std::vector<CommandDefinition> SearchCommands();
std::vector<CommandDefinition> SystemCommands();
std::vector<CommandDefinition> ShellCommands();

}  // namespace pel_mora::cli
