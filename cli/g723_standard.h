// Standard G.723.1 streams in the qrx tool: the pieces export, import,
// decode and encode share.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_support.h"
#include "qrxc.h"

namespace qrx::cli {

// .g723, .tco, .rco or .bit in any case: names telephony tools and the ITU
// test vectors give standard streams.
bool is_standard_name(const std::string &path);

// True when decode should read path as a standard stream: format "g723",
// or "auto" with a standard name.
bool standard_input_wanted(const std::string &path, const std::string &format);

// path with its extension replaced by ext ("-" stays "-").
std::string with_extension(const std::string &path, const std::string &ext);

// The header record of a QRX stream from its first got bytes: the offset of
// its first frame, or negative when they are no QRX header.
int qrx_header(const unsigned char *head, std::size_t got, G_header &info);

// A whole input file ("-": standard input) in memory; false, with the
// message printed, if it cannot be read.
bool read_input(const std::string &path, std::vector<unsigned char> &bytes);

// An output written under a temporary name and put in place only once it is
// complete; standard output, devices, pipes and links get the finished file
// copied in. Whatever is not committed is removed.
class Staged_output {
public:
    Staged_output() = default;
    Staged_output(const Staged_output &) = delete;
    Staged_output &operator=(const Staged_output &) = delete;
    ~Staged_output();

    // EXIT_OK, or an exit code with the message printed (the output is the
    // input, no temporary directory).
    int prepare(const std::string &target, const std::string &input);
    // Where to write, and how to name the output in messages.
    const std::string &path() const { return path_; }
    const std::string &shown() const { return shown_; }
    // Puts the written file in place: EXIT_OK or EXIT_OUTPUT with the message printed.
    int commit();

private:
    std::string target_, path_, shown_;
    std::optional<Temp_dir> temp_;
    bool through_ = false;
    bool committed_ = false;
};

// qrx export: the frames of a QRX stream of type 0, 1 or 2 in the standard
// layout at target (cmd_export.cpp).
int export_to_standard(const std::string &input, const std::string &target);

// qrx decode of a standard stream to the converter's WAV at 8000 Hz.
int decode_standard(const std::string &input, const std::string &target, bool quiet);

// qrx encode --output-format g723: encode_qrx writes the QRX stream of type
// 1 or 2 to the path it is given, which is then exported to target.
int encode_standard(const std::string &input, const std::string &target, int type,
                    const std::function<int(const std::string &)> &encode_qrx);

}  // namespace qrx::cli
