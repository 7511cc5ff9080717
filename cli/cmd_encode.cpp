// Placeholder until the encoder lands.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace qrx::cli {
void add_encode_command(CLI::App &) {}
}  // namespace qrx::cli
