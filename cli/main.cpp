// qrx: command-line front end of the qrxc codec.
#include <CLI/CLI.hpp>

#include "cli/commands.h"

int main(int argc, char **argv) {
    CLI::App app{"qrx - convert, inspect and play QRX voice files"};
    app.require_subcommand(1);
    qrx::cli::add_decode_command(app);
    qrx::cli::add_info_command(app);
    qrx::cli::add_encode_command(app);
    qrx::cli::add_speed_command(app);
    qrx::cli::add_export_command(app);
    qrx::cli::add_import_command(app);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
