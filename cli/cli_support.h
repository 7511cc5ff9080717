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

// True, with a message, when a command that reads QRX files by name was
// given "-": a QRX file is read with seeks, so standard input cannot serve.
bool stdin_refused(const std::string &input);

// While one exists, SIGINT and SIGTERM only raise a flag that the command
// polls between frames, so that it can remove its partial output first.
class Interrupt_guard {
public:
    Interrupt_guard();
    ~Interrupt_guard();
    Interrupt_guard(const Interrupt_guard &) = delete;
    Interrupt_guard &operator=(const Interrupt_guard &) = delete;
    static bool raised();

private:
    void (*previous_int_)(int);
    void (*previous_term_)(int);
};

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

// True when path names an existing device, pipe or socket (/dev/null, a
// FIFO) or a symbolic link (/dev/stdout): such an output is written
// through, never replaced.
bool is_stream_target(const std::string &path);

// True when both paths name the same existing file (links included).
bool same_file(const std::string &a, const std::string &b);

// A private temporary directory under $TMPDIR (or /tmp), removed with
// everything in it when the object goes; path() is empty if it could not be made.
class Temp_dir {
public:
    Temp_dir();
    ~Temp_dir();
    Temp_dir(const Temp_dir &) = delete;
    Temp_dir &operator=(const Temp_dir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Copies the finished file at path to target ("-" is standard output) and
// removes it, first thing, so that nothing is left behind even when the
// copy is cut short. False on any error, a reader that went away included.
bool deliver(const std::string &path, const std::string &target);

}  // namespace qrx::cli
