// The conversion job: one QRX file into one PCM WAV file, frame by frame.
// Toolkit-independent: the dialog, the command-line tool and the tests all
// drive this class and supply the message box and progress bar through
// Job_ui.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "conversion/wav_writer.h"

struct Qrxc_context;

namespace qrxc {

// Texts the job shows, exactly as users see them.
inline constexpr const char *MSG_OPEN_FAILED = "File Open false";
inline constexpr const char *MSG_CANNOT_CONVERT = "This type of file can not be converted.";  // string 102
inline constexpr const char *MSG_CREATE_SUCCESS = " Create Success";  // appended to the output path
// Appended to the output path when the WAV could not be created, written,
// closed or put in place; any earlier file of that name is left as it was.
inline constexpr const char *MSG_CREATE_FAILED = " Create Failed";

// The window the job reports to.
class Job_ui {
public:
    virtual ~Job_ui() = default;
    // A modal message box with an OK button only; returns when dismissed.
    virtual void message(const std::string &text) = 0;
    // The progress bar's new position (0..100), delivered synchronously.
    virtual void progress(int position) = 0;
    // The output path shown in the success message: the dialog's path at the
    // moment the job ends (it may have been changed by OPEN meanwhile).
    virtual std::string success_path(const std::string &job_output) { return job_output; }
};

enum class Job_result {
    success,
    open_failed,    // source missing or unreadable: "File Open false"
    bad_header,     // shorter than a header, or header rejected: string 102
    create_failed,  // WAV could not be created, or the output is the source itself or a
                    // device or pipe that the final rename would replace: "<output> Create Failed"
    write_failed,   // a PCM write, the close or the final rename failed: "<output> Create Failed"
    cancelled,      // cancel() was called; nothing is left behind, no message
    read_failed,    // the source failed to read mid-file, or ended before the size it had
                    // at the start: "<output> Create Failed"
};

// Progress bar position after consumed of total coded bytes: consumed*100/total
// truncated, computed in 64 bits so that large files do not overflow.
int progress_position(std::uint64_t consumed, std::uint64_t total);

// PCM bytes the whole frames among coded_bytes decode to, and the most a WAV
// data chunk can hold beside its 46-byte header.
// (WAV_MAX_DATA_BYTES, wav_writer.h).
std::uint64_t wav_data_bytes(std::uint64_t coded_bytes, std::size_t frame_bytes, int pcm_frame);

// The output name: one trailing ".QRX" (any case) removed, ".wav" appended.
std::string output_path_for(const std::string &source);

class Conversion_job {
public:
    // ctx: the codec context to decode with; nullptr uses the library's
    // process-wide default context.
    Conversion_job(std::string source, std::string output, Job_ui &ui, Qrxc_context *ctx = nullptr);

    // Runs the whole job on the calling thread. The WAV is written to a
    // temporary file beside the output and renamed over it only once it is
    // complete (see Output_file).
    Job_result run();

    // Options for callers other than the dialog, set before run():
    // Read the source from this open descriptor (owned by the caller)
    // instead of opening the source path, which then only names it. A pipe
    // or FIFO is read once, front to back.
    void set_source_fd(int fd) { source_fd_ = fd; }
    // Write standard output ("-"), devices and pipes through instead of
    // refusing them.
    void set_write_through(bool on) { write_through_ = on; }
    // With false an existing output is kept and the job fails with create_failed.
    void set_replace(bool on) { replace_ = on; }

    // Safe from any thread: the job stops before its next frame, removes its
    // temporary output and closes the source.
    void cancel() { cancelled_.store(true); }

    // What the last run converted.
    std::uint64_t frames_converted() const { return frames_; }
    int header_length() const { return header_length_; }
    double seconds_converted() const { return sample_rate_ > 0 ? double(frames_) * pcm_frame_ / sample_rate_ : 0; }
    // Why the last run could not create or write its output ("No space left
    // on device"), when known; empty otherwise. The message box keeps its
    // own text: this is for callers that can say more.
    const std::string &failure_cause() const { return failure_cause_; }

private:
    std::string source_;
    std::string output_;
    Job_ui &ui_;
    Qrxc_context *ctx_;
    int source_fd_ = -1;
    bool write_through_ = false;
    bool replace_ = true;
    std::atomic<bool> cancelled_{false};
    std::uint64_t frames_ = 0;
    int header_length_ = 0;
    int pcm_frame_ = 0;
    unsigned sample_rate_ = 0;
    std::string failure_cause_;
};

}  // namespace qrxc
