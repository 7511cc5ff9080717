// qrx: command-line front end of the qrxc codec.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "conversion/output_file.h"
#include "qrxc.h"

#ifndef QRX_TOOL_VERSION
#define QRX_TOOL_VERSION "unknown"
#endif

int main(int argc, char **argv) {
    // Ctrl-C, SIGTERM, a closed terminal and the rest remove every partial
    // output first; nothing else is deleted.
    qrxc::remove_temporaries_on_signals(qrxc::cli::EXIT_CANCELLED, "qrx: interrupted; partial outputs removed\n");
    CLI::App app{"qrx - convert, inspect and play QRX voice files"};
    app.require_subcommand(1);
    app.set_version_flag("--version",
                         std::string("qrx ") + QRX_TOOL_VERSION + " (libqrxc " + Qrxc_version_string() + ")");
    qrxc::cli::add_decode_command(app);
    qrxc::cli::add_info_command(app);
    qrxc::cli::add_encode_command(app);
    qrxc::cli::add_speed_command(app);
    qrxc::cli::add_export_command(app);
    qrxc::cli::add_import_command(app);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
