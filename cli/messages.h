// Every fault qrx reports about a file, worded once: "<name>: <what>: <why>".
// Names are shown as they are on disk, except that control characters and
// bytes that are not UTF-8 are escaped (\n, \t, \xFF), so that one message
// is always one line of a log.
#pragma once

#include <string>
#include <string_view>

namespace qrxc::cli {

// Length of the well-formed UTF-8 sequence that starts at text[i] (1 for
// ASCII), or 0 when the byte there starts none.
std::size_t utf8_sequence(std::string_view text, std::size_t i);

// text with control characters (and DEL) as \n, \r, \t or \xHH, and bytes
// that are not part of a valid UTF-8 sequence as \xHH.
std::string escaped(std::string_view text);

// How a path is named in messages: "-" is standard input or output.
std::string shown_input(const std::string &path);
std::string shown_output(const std::string &path);

// The operating system's text for an errno value ("No such file or directory").
std::string os_error(int err);

namespace msg {

// Inputs.
std::string cannot_open_input(const std::string &path, int err);
std::string cannot_read_input(const std::string &path, int err);  // err 0: no OS cause
std::string input_shrank(const std::string &path);
std::string too_short(const std::string &path);
// The header fault as qrx info names it, for a Qrxc_initial result code.
std::string header_fault(int code);
std::string bad_header(const std::string &path, int code);
std::string input_is_directory(const std::string &path);

// Outputs. cause is an Output_file's error(), or empty.
std::string cannot_create_output(const std::string &path, const std::string &cause);
std::string cannot_write_output(const std::string &path, const std::string &cause);
std::string output_exists(const std::string &path);
std::string output_is_input(const std::string &path);
// An -o name whose extension names no output format, or another than --format.
std::string unknown_extension(const std::string &path, const std::string &ext, const std::string &formats);
std::string extension_contradicts(const std::string &path, const std::string &format);
// The one line a batch prints for all the outputs it found in place.
std::string outputs_exist_hint(std::size_t count);

}  // namespace msg
}  // namespace qrxc::cli
