#include "cli/command_table.h"

namespace pel_mora::cli {

std::vector<CommandDefinition> SearchCommands() {
  return {};
}

}  // namespace pel_mora::cli
