#include "cli/messages.h"

#include <cstdio>
#include <cstring>

#include "qrxc.h"

namespace qrxc::cli {
namespace {

// An output's own error text may already name the step ("cannot create:
// ..."); the message names it once.
std::string with_cause(std::string text, std::string_view cause) {
    for (std::string_view step : {"cannot create: ", "write failed: "})
        if (cause.starts_with(step)) cause.remove_prefix(step.size());
    if (!cause.empty()) text.append(": ").append(cause);
    return text;
}

}  // namespace

// Overlong forms, surrogates and code points past U+10FFFF start no sequence.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return n;
}

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_sequence(text, i);
        if (n > 1 || (n == 1 && c >= 0x20 && c != 0x7F)) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
        ++i;
    }
    return out;
}

std::string shown_input(const std::string &path) { return path == "-" ? "standard input" : escaped(path); }
std::string shown_output(const std::string &path) { return path == "-" ? "standard output" : escaped(path); }

std::string os_error(int err) { return std::strerror(err); }

namespace msg {

std::string cannot_open_input(const std::string &path, int err) {
    return shown_input(path) + ": cannot open input: " + os_error(err);
}

std::string cannot_read_input(const std::string &path, int err) {
    return with_cause(shown_input(path) + ": cannot read input", err != 0 ? os_error(err) : std::string());
}

std::string input_shrank(const std::string &path) {
    return shown_input(path) + ": cannot read input: it ended before its size at the start (did it shrink?)";
}

std::string too_short(const std::string &path) { return shown_input(path) + ": too short for a QRX header"; }

std::string header_fault(int code) {
    switch (code) {
    case QRXC_ERR_ARG: return "header does not match its type (frame sizes)";
    case QRXC_ERR_HEADER: return "not a QRX stream header (magic, rate or type)";
    default: return "header rejected";
    }
}

std::string bad_header(const std::string &path, int code) { return shown_input(path) + ": " + header_fault(code); }

std::string input_is_directory(const std::string &path) {
    return shown_input(path) + ": is a directory; give -r to convert what it holds";
}

std::string cannot_create_output(const std::string &path, const std::string &cause) {
    return with_cause(shown_output(path) + ": cannot create output", cause);
}

std::string cannot_write_output(const std::string &path, const std::string &cause) {
    return with_cause(shown_output(path) + ": cannot write output", cause);
}

std::string output_exists(const std::string &path) {
    return shown_output(path) + ": exists; -y replaces it, --skip-existing skips it";
}

std::string output_is_input(const std::string &path) {
    return shown_output(path) + ": is the input file; give another output name";
}

std::string unknown_extension(const std::string &path, const std::string &ext, const std::string &formats) {
    return shown_output(path) + ": " + escaped(ext) + " names no output format; the formats are " + formats +
           " (--format chooses one)";
}

std::string extension_contradicts(const std::string &path, const std::string &format) {
    return shown_output(path) + ": the name says another format than --format " + format +
           "; rename it, or give --force-format";
}

std::string outputs_exist_hint(std::size_t count) {
    if (count == 1) return "1 output exists already and was kept; -y replaces it, --skip-existing skips it quietly";
    return std::to_string(count) +
           " outputs exist already and were kept; -y replaces them, --skip-existing skips them quietly";
}

}  // namespace msg
}  // namespace qrxc::cli
