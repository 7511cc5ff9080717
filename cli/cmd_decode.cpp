// Placeholder.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace qrx::cli {
void add_decode_command(CLI::App &) {}
void add_info_command(CLI::App &) {}
}  // namespace qrx::cli
