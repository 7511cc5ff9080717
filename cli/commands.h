// Subcommands of the qrx tool; each file registers its own.
#pragma once

namespace CLI {
class App;
}

namespace qrxc::cli {

void add_decode_command(CLI::App &app);
void add_info_command(CLI::App &app);
void add_encode_command(CLI::App &app);
void add_speed_command(CLI::App &app);
void add_export_command(CLI::App &app);
void add_import_command(CLI::App &app);

}  // namespace qrxc::cli
