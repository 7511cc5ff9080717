#include "conversion/wav_writer.h"

#include <cstring>
#include <limits>

namespace qrxc {
namespace {

constexpr long RIFF_SIZE_OFFSET = 4;
constexpr long DATA_SIZE_OFFSET = 42;
// Header bytes after the RIFF size field: "WAVE", the fmt chunk, the data chunk head.
constexpr std::uint32_t RIFF_OVERHEAD = WAV_HEADER_BYTES - 8;

void put16(unsigned char *p, unsigned v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void put32(unsigned char *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

bool put32_at(std::FILE *f, long offset, std::uint32_t v) {
    unsigned char b[4];
    put32(b, v);
    return std::fseek(f, offset, SEEK_SET) == 0 && std::fwrite(b, 1, 4, f) == 4;
}

// "LIST" size "INFO" "ICRD" size date NUL, padded to an even length.
std::vector<unsigned char> info_chunk(const std::string &date) {
    const std::uint32_t text = static_cast<std::uint32_t>(date.size() + 1);
    const std::uint32_t padded = text + (text & 1);
    std::vector<unsigned char> c(20 + padded, 0);
    std::memcpy(c.data(), "LIST", 4);
    put32(c.data() + 4, 12 + padded);
    std::memcpy(c.data() + 8, "INFOICRD", 8);
    put32(c.data() + 16, text);
    std::memcpy(c.data() + 20, date.data(), date.size());
    return c;
}

}  // namespace

Wav_writer::~Wav_writer() { abandon(); }

void Wav_writer::set_format(unsigned sample_rate) {
    const std::uint32_t rate = sample_rate & 0xFFFFu;
    fmt_.fill(0);
    put16(&fmt_[0], 1);  // PCM
    put16(&fmt_[2], 1);  // mono
    put32(&fmt_[4], rate);
    put32(&fmt_[8], rate * 2);  // bytes per second
    put16(&fmt_[12], 2);        // block align
    put16(&fmt_[14], 16);       // bits per sample
    // fmt_[16..17]: extra size 0
}

bool Wav_writer::open(const std::string &path, bool must_not_exist) {
    abandon();
    data_bytes_ = 0;
    file_ = std::fopen(path.c_str(), must_not_exist ? "wbx" : "wb");
    owned_ = true;
    return file_ != nullptr && start();
}

bool Wav_writer::open(std::FILE *stream) {
    abandon();
    data_bytes_ = 0;
    file_ = stream;
    owned_ = false;
    return file_ != nullptr && start();
}

bool Wav_writer::start() {
    // While the file is being written the sizes read 0 and 18, as the
    // chunk writer leaves them; close puts in the real ones.
    unsigned char h[WAV_HEADER_BYTES];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 0);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 18);
    std::memcpy(h + 20, fmt_.data(), fmt_.size());
    std::memcpy(h + 38, "data", 4);
    put32(h + 42, 18);
    if (std::fwrite(h, 1, sizeof h, file_) != sizeof h || std::fflush(file_) != 0) {
        abandon();
        return false;
    }
    return true;
}

bool Wav_writer::write(const void *buf, std::size_t len) {
    if (file_ == nullptr || (buf == nullptr && len != 0)) return false;
    if (len == 0) return true;
    if (len > std::numeric_limits<std::uint32_t>::max() - RIFF_OVERHEAD - data_bytes_) return false;
    if (std::fwrite(buf, 1, len, file_) != len) return false;
    data_bytes_ += static_cast<std::uint32_t>(len);
    return true;
}

bool Wav_writer::close() {
    if (file_ == nullptr) return false;
    bool ok = true;
    std::uint32_t riff = RIFF_OVERHEAD + data_bytes_;
    const std::vector<unsigned char> chunk =
        date_.empty() || date_.size() > 255 ? std::vector<unsigned char>{} : info_chunk(date_);
    // A tag that would overflow the RIFF size is left out: the audio matters more.
    if (!chunk.empty() && chunk.size() <= std::numeric_limits<std::uint32_t>::max() - riff) {
        // 16-bit samples keep the data even, so the chunk follows it directly.
        ok = std::fseek(file_, 0, SEEK_END) == 0 && std::fwrite(chunk.data(), 1, chunk.size(), file_) == chunk.size();
        riff += static_cast<std::uint32_t>(chunk.size());
    }
    ok = put32_at(file_, DATA_SIZE_OFFSET, data_bytes_) && ok;
    ok = put32_at(file_, RIFF_SIZE_OFFSET, riff) && ok;
    ok = std::fflush(file_) == 0 && ok;
    if (owned_) ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

void Wav_writer::abandon() {
    if (file_ != nullptr && owned_) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace qrxc
