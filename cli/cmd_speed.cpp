// Placeholder until the speed control lands.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace qrx::cli {
void add_speed_command(CLI::App &) {}
}  // namespace qrx::cli
