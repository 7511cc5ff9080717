// Standard G.723.1 streams in the qrx tool: the pieces export, import,
// decode and encode share.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/cli_support.h"
#include "conversion/output_file.h"
#include "qrxc.h"

namespace qrxc::cli {

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
// reason in error, if it cannot be read.
bool read_input(const std::string &path, std::vector<unsigned char> &bytes, std::string &error);
// The same, with the message printed.
bool read_input(const std::string &path, std::vector<unsigned char> &bytes);

// One output of export or import, through the shared output-file rules:
// messages printed, exit codes returned.
class Staged_output {
public:
    // EXIT_OK, or an exit code with the message printed (the output is the
    // input, or its temporary cannot be made). With replace false an
    // existing file is kept and commit() fails.
    int prepare(const std::string &target, const std::string &input, bool replace);
    std::FILE *stream() { return file_.stream(); }
    const std::string &shown() const { return shown_; }
    // Puts the written file in place: EXIT_OK or EXIT_OUTPUT with the message printed.
    int commit();

private:
    Output_file file_;
    std::string shown_;
    bool replace_ = false;
};

// qrx export: the frames of a QRX stream of type 0, 1 or 2 in the standard
// layout at target (cmd_export.cpp).
// quiet leaves out the notes; errors are still printed. pcap: target is a
// packet capture of the frames as RTP.
int export_to_standard(const std::string &input, const std::string &target, bool replace, bool quiet,
                       bool pcap = false);

// qrx decode of a standard stream (one file of a batch) to the converter's
// WAV at 8000 Hz.
Task_result decode_standard(const Task &task, Qrxc_context *ctx);

}  // namespace qrxc::cli
