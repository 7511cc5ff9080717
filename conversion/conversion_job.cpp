#include "conversion/conversion_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "conversion/output_file.h"
#include "conversion/wav_writer.h"
#include "qrxc.h"

namespace qrxc {
namespace {

constexpr std::size_t SHORT_HEADER = 4;
constexpr std::size_t LONG_HEADER = 16;

bool ends_with_qrx(const std::string &s) {
    if (s.size() < 4) return false;
    const char *ext = ".qrx";
    for (std::size_t i = 0; i < 4; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - 4 + i])) != ext[i]) return false;
    return true;
}

// The source file, closed on every way out.
struct Source {
    std::FILE *f = nullptr;
    ~Source() {
        if (f != nullptr) std::fclose(f);
    }
};

// PCM goes to the file little-endian whatever the host.
bool write_pcm(Wav_writer &writer, short *pcm, int samples) {
    if constexpr (std::endian::native != std::endian::little) {
        for (int i = 0; i < samples; ++i) {
            const auto u = static_cast<unsigned short>(pcm[i]);
            pcm[i] = static_cast<short>(static_cast<unsigned short>((u >> 8) | (u << 8)));
        }
    }
    return writer.write(pcm, static_cast<std::size_t>(samples) * 2);
}

// The output is renamed into place at the end, which would replace the
// source itself with the WAV, and a device or pipe node with a plain file
// unless the caller writes those through: both are refused.
// (A directory is left to the rename, which cannot replace it.)
bool output_allowed(int source_fd, const std::string &output, bool write_through) {
    if (output == "-") return write_through;
    struct stat out_st {};
    if (::stat(output.c_str(), &out_st) != 0) return errno == ENOENT;
    if (S_ISDIR(out_st.st_mode)) return true;
    if (!S_ISREG(out_st.st_mode)) return write_through;
    struct stat src_st {};
    if (::fstat(source_fd, &src_st) != 0) return false;
    return out_st.st_dev != src_st.st_dev || out_st.st_ino != src_st.st_ino;
}

}  // namespace

int progress_position(std::uint64_t consumed, std::uint64_t total) {
    if (total == 0) return 100;
    const std::uint64_t p = consumed >= total ? 100 : consumed / total * 100 + consumed % total * 100 / total;
    return static_cast<int>(p);
}

std::uint64_t wav_data_bytes(std::uint64_t coded_bytes, std::size_t frame_bytes, int pcm_frame) {
    if (frame_bytes == 0 || pcm_frame <= 0) return 0;
    return coded_bytes / frame_bytes * static_cast<std::uint64_t>(pcm_frame) * 2;
}

std::string output_path_for(const std::string &source) {
    std::string out = source;
    if (ends_with_qrx(out)) out.resize(out.size() - 4);
    return out + ".wav";
}

Conversion_job::Conversion_job(std::string source, std::string output, Job_ui &ui, Qrxc_context *ctx)
    : source_(std::move(source)), output_(std::move(output)), ui_(ui), ctx_(ctx) {}

Job_result Conversion_job::run() {
    frames_ = 0;
    header_length_ = 0;
    sample_rate_ = 0;
    failure_cause_.clear();
    const std::string source = source_;
    const std::string output = output_;
    const std::string failed = output + MSG_CREATE_FAILED;

    Source src;
    if (source_fd_ >= 0) {
        const int fd = ::dup(source_fd_);
        src.f = fd < 0 ? nullptr : ::fdopen(fd, "rb");
        if (src.f == nullptr && fd >= 0) ::close(fd);
    } else {
        src.f = source.empty() ? nullptr : std::fopen(source.c_str(), "rb");
    }
    if (src.f == nullptr) {
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }
    // A source handed over (standard input) may have been read partly already.
    const off_t start = ::lseek(::fileno(src.f), 0, SEEK_CUR);

    unsigned char hdr_buf[LONG_HEADER] = {};
    const std::size_t got = std::fread(hdr_buf, 1, SHORT_HEADER, src.f);
    if (std::ferror(src.f)) {  // e.g. a directory
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }
    // Only as many bytes as the header has are taken, so that a pipe can be
    // read on from the first frame.
    const int want = got == SHORT_HEADER ? Qrxc_header_length(hdr_buf) : -1;
    if (want < 0 ||
        (want > static_cast<int>(SHORT_HEADER) &&
         std::fread(hdr_buf + SHORT_HEADER, 1, LONG_HEADER - SHORT_HEADER, src.f) != LONG_HEADER - SHORT_HEADER)) {
        ui_.message(MSG_CANNOT_CONVERT);
        return Job_result::bad_header;
    }

    G_header info{};
    int header_len = 0;
    if (ctx_ != nullptr) {
        Qrxc_version_ctx(ctx_, 1);
        header_len = Qrxc_initial_ctx(ctx_, QRXC_DECODE, 0, 0, &info, hdr_buf);
    } else {
        Qrxc_version(1);
        header_len = Qrxc_initial(QRXC_DECODE, 0, 0, &info, hdr_buf);
    }
    if (header_len < 0 || info.pcm_frame == 0 || info.pcm_frame > QRXC_MAX_PCM_FRAME || info.frame_bytes == 0 ||
        info.frame_bytes > QRXC_MAX_FRAME_BYTES) {
        ui_.message(MSG_CANNOT_CONVERT);
        return Job_result::bad_header;
    }
    header_length_ = header_len;
    pcm_frame_ = info.pcm_frame;
    sample_rate_ = info.sample_rate;
    const int pcm_samples = info.pcm_frame;
    const std::size_t frame_bytes = info.frame_bytes;

    // A regular file's size is known: progress, the size check and the
    // end-of-data check use it. A pipe is read to its end.
    struct stat src_st {};
    if (::fstat(::fileno(src.f), &src_st) != 0) {
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }
    const bool sized = S_ISREG(src_st.st_mode);
    std::uint64_t total = 0;
    if (sized) {
        const off_t file_len = src_st.st_size - (start > 0 ? start : 0);
        if (file_len < header_len) {
            ui_.message(MSG_OPEN_FAILED);
            return Job_result::open_failed;
        }
        total = static_cast<std::uint64_t>(file_len) - static_cast<std::uint64_t>(header_len);
        // More PCM than the WAV's 32-bit sizes can describe would fail only after
        // gigabytes of writing; it fails before anything is written instead.
        if (wav_data_bytes(total, frame_bytes, pcm_samples) > WAV_MAX_DATA_BYTES) {
            failure_cause_ = "more PCM than a WAV file can hold";
            ui_.message(failed);
            return Job_result::write_failed;
        }
    }

    errno = 0;
    if (!output_allowed(::fileno(src.f), output, write_through_)) {
        failure_cause_ = errno != 0 ? std::strerror(errno) : "it is the source file, or a device or pipe";
        ui_.message(failed);
        return Job_result::create_failed;
    }

    Output_file out;
    Wav_writer writer;
    writer.set_format(info.sample_rate);
    if (!out.open(output) || !writer.open(out.stream())) {
        failure_cause_ = out.fd() < 0 ? out.error() : std::strerror(errno);
        ui_.message(failed);
        return Job_result::create_failed;
    }

    unsigned char frame_buf[QRXC_MAX_FRAME_BYTES];
    short pcm_buf[QRXC_MAX_PCM_FRAME];
    std::uint64_t consumed = 0;
    Job_result result = Job_result::success;
    for (;;) {
        if (cancelled_.load()) return Job_result::cancelled;
        const std::size_t n = std::fread(frame_buf, 1, frame_bytes, src.f);
        if (n != frame_bytes) {
            // A trailing partial frame ends the job normally; a read error
            // does not, nor a file that now ends before the size it had.
            if (std::ferror(src.f) || (sized && consumed + n < total)) result = Job_result::read_failed;
            break;
        }
        if (ctx_ != nullptr)
            Qrxc_frame_ctx(ctx_, pcm_buf, frame_buf);
        else
            Qrxc_frame(pcm_buf, frame_buf);
        consumed += frame_bytes;
        ++frames_;
        if (!write_pcm(writer, pcm_buf, pcm_samples)) {
            failure_cause_ = std::ferror(out.stream()) ? std::strerror(errno) : "more PCM than a WAV file can hold";
            result = Job_result::write_failed;
            break;
        }
        if (sized && consumed >= total) break;
        if (sized) ui_.progress(progress_position(consumed, total));
    }
    std::fclose(src.f);
    src.f = nullptr;

    errno = 0;
    if (!writer.close() && result == Job_result::success) {
        if (errno != 0) failure_cause_ = std::strerror(errno);
        result = Job_result::write_failed;
    }
    out.keep_times_of(source_);
    if (result == Job_result::success && !out.commit(replace_)) {
        failure_cause_ = out.error_number() == EEXIST ? "it exists" : out.error();
        result = out.error_number() == EEXIST ? Job_result::create_failed : Job_result::write_failed;
    }
    if (result != Job_result::success) {
        ui_.message(failed);
        return result;
    }
    ui_.message(ui_.success_path(output) + MSG_CREATE_SUCCESS);
    return Job_result::success;
}

}  // namespace qrxc
