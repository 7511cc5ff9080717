// The converter's WAV output: RIFF/WAVE, 16-bit mono PCM, a 46-byte header
// with an 18-byte fmt chunk and one data chunk whose sizes are fixed at close.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace qrxc {

inline constexpr std::size_t WAV_HEADER_BYTES = 46;
// The RIFF size field counts everything after itself: the header past its
// first 8 bytes, then the data; so a data chunk holds at most this much.
inline constexpr std::uint64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFull - (WAV_HEADER_BYTES - 8);

class Wav_writer {
public:
    Wav_writer() = default;
    Wav_writer(const Wav_writer &) = delete;
    Wav_writer &operator=(const Wav_writer &) = delete;
    ~Wav_writer();

    // Mono, 16 bits, at the low 16 bits of sample_rate.
    void set_format(unsigned sample_rate);
    // A creation date for a LIST/INFO ICRD chunk after the data, written at
    // close(). Without one (the default) the file is the plain 46-byte-header
    // WAV and nothing follows the data.
    void set_creation_date(std::string date) { date_ = std::move(date); }
    // Creates (or truncates) the file and writes the header; with
    // must_not_exist it fails instead of touching an existing file. On failure the
    // file is closed again.
    bool open(const std::string &path, bool must_not_exist = false);
    // Writes into a seekable stream the caller owns (e.g. an Output_file's),
    // from its start; close() then leaves the stream open.
    bool open(std::FILE *stream);
    // Appends len bytes of PCM. Fails once the data would no longer fit the
    // 32-bit chunk sizes.
    bool write(const void *buf, std::size_t len);
    // Fixes both chunk sizes and closes the file; false if anything failed.
    bool close();
    // Closes without fixing the sizes, e.g. before the file is removed.
    void abandon();

    bool is_open() const { return file_ != nullptr; }
    std::uint32_t data_bytes() const { return data_bytes_; }
    // The 18-byte fmt chunk body as set_format filled it.
    const std::array<unsigned char, 18> &format() const { return fmt_; }

private:
    std::array<unsigned char, 18> fmt_{};
    bool start();

    std::FILE *file_ = nullptr;
    bool owned_ = true;
    std::uint32_t data_bytes_ = 0;
    std::string date_;
};

}  // namespace qrxc
