#include "cli/command_table.h"

namespace pel_mora::cli {

std::vector<CommandDefinition> SystemCommands() {
  return {};
}

}  // namespace pel_mora::cli
