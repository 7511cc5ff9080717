// The batch driver every qrx subcommand runs on: inputs (files, directories
// with -r, standard input), output names (-o, -O mirroring, or beside the
// input), clash detection before anything is written, the overwrite policy,
// parallel workers with one codec context each, progress and the summary.
// Each subcommand supplies only its per-file conversion.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "cli/paths.h"

namespace CLI {
class App;
}

namespace qrxc::cli {

struct Batch_options {
    std::vector<std::string> inputs;
    std::string output;   // -o: exactly one input
    std::string out_dir;  // -O
    bool recursive = false;
    int jobs = 0;  // 0: the number of online CPUs
    bool force = false;
    bool skip_existing = false;
    bool quiet = false;
};

// Registers the inputs and the options above on a subcommand; with_outputs
// false (qrx info) leaves out the output and overwrite options.
void add_batch_options(CLI::App &cmd, Batch_options &opt, const std::string &input_help, bool with_outputs);

// One file of a batch.
struct Task {
    std::string input;
    std::string output;   // empty when the command writes no file
    bool single = false;  // the only input: the progress line is per file
    bool quiet = false;
    bool replace = false;  // an existing output may be replaced (-y)
};

struct Task_result {
    int code = EXIT_OK;  // an Exit_code
    std::string error;   // why it failed, printed after "qrx: "
    std::string text;    // standard output, printed in input order
    double seconds = 0;  // audio converted, for the progress line
};

struct Batch_kind {
    // Which files a directory walk picks.
    std::function<bool(const std::string &path)> picks;
    // The output beside an input; empty function when there is no output.
    std::function<std::string(const std::string &input)> default_output;
    // The conversion of one file, on a worker's own context.
    std::function<Task_result(const Task &task, Qrxc_context *ctx)> convert;
    // Wrapped around and between the texts (a JSON array, for instance).
    std::string text_open, text_separator, text_close;
    // Printed instead when there is no input at all ("[]" for a JSON array).
    std::string text_empty;
    // A directory given without -r is one more input (which fails when
    // converted) instead of stopping the command.
    bool directory_is_entry = false;
    // The summary's word for a file done.
    std::string done_word = "converted";
};

// -q,--quiet, as every subcommand takes it.
void add_quiet_flag(CLI::App &cmd, bool &quiet);

// --no-preserve-time, as every subcommand that writes files takes it:
// outputs then keep the time they were written instead of their input's.
void add_preserve_time_flag(CLI::App &cmd);

// Runs the whole command; returns its exit code.
int run_batch(const Batch_options &opt, const Batch_kind &kind);

}  // namespace qrxc::cli
