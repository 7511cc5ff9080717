// A QRX stream decoded frame by frame, optionally through the speed control
// or the voice effects, into any output format at any rate: qrx speed, and
// qrx decode whenever --format or --rate asks for more than the converter's WAV.
#pragma once

#include <string>

#include "cli/audio_output.h"
#include "cli/batch.h"

namespace CLI {
class App;
}

namespace qrxc::cli {

struct Render_settings {
    int speed_flags = -1;  // Qrmd flags, or -1 to leave the speed alone
    bool format_given = false;
    Audio_format format = Audio_format::wav;  // else taken from the output name
    int rate = 0;                             // 0: the stream's rate
    bool tag_date = false;                    // the input's time as the output's date tag
};

// The format an output gets: --format, else its name's extension, else WAV.
Audio_format output_format(const Render_settings &s, const std::string &output);

// What the options alone make impossible, found before any file or
// directory is touched: an -o extension that names no format or another
// than --format (unless force_format), a format that cannot take --rate.
// "" when there is nothing. An -o that is an input is left to the batch,
// which refuses it for what it is.
std::string render_options_fault(const Render_settings &s, const Batch_options &batch, bool force_format);

// --force-format, for decode and speed.
void add_force_format_flag(CLI::App &cmd, bool &force);

// --tag-date, as decode and speed take it.
void add_tag_date_flag(CLI::App &cmd, bool &tag_date);

Task_result render_file(const Task &task, Qrxc_context *ctx, const Render_settings &s);

}  // namespace qrxc::cli
