#include "cli/command_table.h"

namespace pel_mora::cli {

std::vector<CommandDefinition> RecycleCommands() {
  return {};
}

}  // namespace pel_mora::cli
