// Helpers shared by the qrx subcommands: exit codes, messages, progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qrx::cli {

// Distinct exit codes per failure class (CLI11 uses its own for bad usage).
enum Exit_code : int {
    EXIT_OK = 0,
    EXIT_SOURCE = 2,      // input missing or unreadable
    EXIT_FORMAT = 3,      // input is not a stream we can handle
    EXIT_OUTPUT = 4,      // output could not be created or written
    EXIT_CANCELLED = 5,
};

// "qrx: <text>" on stderr.
void print_error(const std::string &text);

// True when standard error is a terminal, so progress may be drawn there.
bool progress_wanted();

// A one-line progress display on stderr, drawn only on a terminal.
class Progress_line {
public:
    explicit Progress_line(std::string label);
    ~Progress_line();
    void update(int percent);
    void finish();

private:
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    int last_ = -1;
};

// The first bytes of a file (up to max, got tells how many) and its size;
// false if it cannot be read.
bool read_head(const std::string &path, unsigned char *head, std::size_t max, std::size_t &got, std::uint64_t &size);

// Copies a file to standard output; false on any error.
bool copy_to_stdout(const std::string &path);

}  // namespace qrx::cli
