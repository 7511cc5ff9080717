#include "conversion_job.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string>

#include "qrxc.h"
#include "wav_writer.h"

namespace qrx {
namespace {

constexpr int SHORT_HEADER = 4;
constexpr int LONG_HEADER = 16;

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

// The temporary WAV beside the target: removed unless it was put in place.
struct Temp_output {
    Wav_writer &writer;
    std::string path;
    bool keep = false;
    ~Temp_output() {
        writer.abandon();
        if (!keep && !path.empty()) std::remove(path.c_str());
    }
};

// Creates a temporary file name beside target that no other file has, and
// opens the writer on it.
bool open_temp_beside(Wav_writer &writer, const std::string &target, std::string &temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        if (writer.open(temp, true)) return true;
        if (errno != EEXIST) break;
    }
    temp.clear();
    return false;
}

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
// source itself, or a device or pipe node, with the WAV: both are refused.
// (A directory is left to the rename, which cannot replace it.)
bool output_replaceable(std::FILE *source, const std::string &output) {
    struct stat out_st{};
    if (::stat(output.c_str(), &out_st) != 0) return errno == ENOENT;
    if (S_ISDIR(out_st.st_mode)) return true;
    if (!S_ISREG(out_st.st_mode)) return false;
    struct stat src_st{};
    if (::fstat(::fileno(source), &src_st) != 0) return false;
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
    const std::string source = source_;
    const std::string output = output_;
    const std::string failed = output + MSG_CREATE_FAILED;

    Source src;
    src.f = source.empty() ? nullptr : std::fopen(source.c_str(), "rb");
    if (src.f == nullptr) {
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }

    unsigned char hdr_buf[LONG_HEADER] = {};
    const std::size_t got = std::fread(hdr_buf, 1, sizeof hdr_buf, src.f);
    if (std::ferror(src.f)) {  // e.g. a directory
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }
    const bool long_form = got >= 4 && (hdr_buf[3] & 0xC0) != 0;
    if (got < SHORT_HEADER || (long_form && got < LONG_HEADER)) {
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
    const int pcm_samples = info.pcm_frame;
    const std::size_t frame_bytes = info.frame_bytes;

    // Frames start right after the header, 4 or 16 bytes in.
    if (::fseeko(src.f, 0, SEEK_END) != 0) {
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }
    const off_t file_len = ::ftello(src.f);
    if (file_len < header_len || ::fseeko(src.f, header_len, SEEK_SET) != 0) {
        ui_.message(MSG_OPEN_FAILED);
        return Job_result::open_failed;
    }
    const std::uint64_t total = static_cast<std::uint64_t>(file_len) - static_cast<std::uint64_t>(header_len);

    // More PCM than the WAV's 32-bit sizes can describe would fail only after
    // gigabytes of writing; it fails before anything is written instead.
    if (wav_data_bytes(total, frame_bytes, pcm_samples) > WAV_MAX_DATA_BYTES) {
        ui_.message(failed);
        return Job_result::write_failed;
    }

    if (!output_replaceable(src.f, output)) {
        ui_.message(failed);
        return Job_result::create_failed;
    }

    Wav_writer writer;
    writer.set_format(info.sample_rate);
    Temp_output temp{writer, {}};
    if (!open_temp_beside(writer, output, temp.path)) {
        ui_.message(failed);
        return Job_result::create_failed;
    }

    unsigned char frame_buf[QRXC_MAX_FRAME_BYTES];
    short pcm_buf[QRXC_MAX_PCM_FRAME];
    std::uint64_t consumed = 0;
    Job_result result = Job_result::success;
    for (;;) {
        if (cancelled_.load()) return Job_result::cancelled;
        if (std::fread(frame_buf, 1, frame_bytes, src.f) != frame_bytes) {
            // A trailing partial frame ends the job normally; a read error does not.
            if (std::ferror(src.f)) result = Job_result::read_failed;
            break;
        }
        if (ctx_ != nullptr)
            Qrxc_frame_ctx(ctx_, pcm_buf, frame_buf);
        else
            Qrxc_frame(pcm_buf, frame_buf);
        consumed += frame_bytes;
        ++frames_;
        if (!write_pcm(writer, pcm_buf, pcm_samples)) {
            result = Job_result::write_failed;
            break;
        }
        if (consumed >= total) break;
        ui_.progress(progress_position(consumed, total));
    }
    std::fclose(src.f);
    src.f = nullptr;

    if (!writer.close() && result == Job_result::success) result = Job_result::write_failed;
    if (result == Job_result::success && std::rename(temp.path.c_str(), output.c_str()) != 0)
        result = Job_result::write_failed;
    if (result != Job_result::success) {
        ui_.message(failed);
        return result;
    }
    temp.keep = true;
    ui_.message(ui_.success_path(output) + MSG_CREATE_SUCCESS);
    return Job_result::success;
}

}  // namespace qrx
