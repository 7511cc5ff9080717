// Helpers shared by the qrx subcommands: exit codes, messages, inputs, progress.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/messages.h"

struct Qrxc_context;

namespace qrxc::cli {

// Distinct exit codes per failure class (CLI11 uses its own for bad usage).
// A batch of several inputs returns EXIT_OK, EXIT_BATCH_FAILED or EXIT_CANCELLED.
enum Exit_code : int {
    EXIT_OK = 0,
    EXIT_BATCH_FAILED = 1,  // some file of a batch failed
    EXIT_SOURCE = 2,        // input missing or unreadable
    EXIT_FORMAT = 3,        // input is not a stream we can handle
    EXIT_OUTPUT = 4,        // output could not be created or written
    EXIT_CANCELLED = 5,
};

// "qrx: <text>" on stderr.
void print_error(const std::string &text);

// "No space left on device" and the like for the errno a failed write left
// behind, or "" when it left none (the caller clears errno before the write).
std::string errno_text();

// An input opened for reading: "-" is standard input. The descriptor is
// read once, front to back, so pipes and FIFOs serve as well as files.
class Input_fd {
public:
    Input_fd() = default;
    ~Input_fd();
    Input_fd(const Input_fd &) = delete;
    Input_fd &operator=(const Input_fd &) = delete;
    // False with error_number() set (EISDIR for a directory).
    bool open(const std::string &path);
    int get() const { return fd_; }
    int error_number() const { return errno_; }
    // The open failure as qrx reports it: "<name>: cannot open input: <why>".
    std::string error_message(const std::string &path) const { return msg::cannot_open_input(path, errno_); }
    // True for a regular file, whose size() is then known: the bytes from
    // start() on (standard input may arrive partly read).
    bool sized() const { return sized_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t start() const { return start_; }

private:
    int fd_ = -1;
    bool owned_ = false;
    bool sized_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t start_ = 0;
    int errno_ = 0;
};

// A regular file's modification time in ISO 8601 UTC ("2024-05-01T09:30:00Z"),
// or "" for a pipe, a terminal or a descriptor that cannot be read.
std::string modification_time_utc(int fd);

// True when both paths name the same existing file (links included).
bool same_file(const std::string &a, const std::string &b);

// The stream types the library has, in order (for option checks).
std::vector<int> stream_types();
// True for a sample rate a stream header can carry.
bool is_stream_rate(int rate);

// A codec context, destroyed with the object.
class Context {
public:
    Context();
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    Qrxc_context *get() const { return ctx_; }

private:
    Qrxc_context *ctx_;
};

// True when standard error is a terminal, so progress may be drawn there.
bool progress_wanted();

// A one-line progress display on stderr for a single file, drawn only on a
// terminal and when not quiet.
class Progress_line {
public:
    Progress_line(std::string label, bool enabled);
    ~Progress_line();
    void update(int percent);
    void finish();

private:
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    int last_ = -1;
};

}  // namespace qrxc::cli
