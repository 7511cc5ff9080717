// The conversion job: one QRX file into one PCM WAV file, frame by frame.
// Toolkit-independent: the dialog, the command-line tool and the tests all
// drive this class and supply the message box and progress bar through
// Job_ui.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct Qrxc_context;

namespace qrx {

// Texts the job shows, exactly as users see them.
inline constexpr const char *MSG_OPEN_FAILED = "File Open false";
inline constexpr const char *MSG_CANNOT_CONVERT = "This type of file can not be converted.";  // string 102
inline constexpr const char *MSG_CREATE_SUCCESS = " Create Success";  // appended to the output path

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
    open_failed,     // source missing or unreadable: "File Open false"
    bad_header,      // too short or header rejected: string 102
    create_failed,   // WAV could not be created
    write_failed,    // a PCM write or the final close failed
    cancelled,       // cancel() was called; nothing is left behind
};

// The output name: one trailing ".QRX" (any case) removed, ".wav" appended.
std::string output_path_for(const std::string &source);

class Conversion_job {
public:
    // ctx: the codec context to decode with; nullptr uses the library's
    // process-wide default context.
    Conversion_job(std::string source, std::string output, Job_ui &ui, Qrxc_context *ctx = nullptr);

    // Runs the whole job on the calling thread.
    Job_result run();

    // Safe from any thread: the job stops before its next frame, removes its
    // temporary output and closes the source.
    void cancel() { cancelled_.store(true); }

private:
    std::string source_;
    std::string output_;
    Job_ui &ui_;
    Qrxc_context *ctx_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace qrx
