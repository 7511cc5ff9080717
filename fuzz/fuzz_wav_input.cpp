// Arbitrary bytes as an audio file on qrx encode's input path: libsndfile
// reads them from memory, qrx's own audio input mixes them down, resamples
// and converts them to 16-bit PCM, and the PCM is encoded. Byte 0 picks the
// stream type, the stream rate and the header form; the rest is the file.
#include <sndfile.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "cli/audio_input.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int TYPES[6] = {0, 1, 2, 4, 5, 6};
constexpr int MAX_FRAMES = 2;
constexpr int RATES[3] = {8000, 12000, 16000};
// Past these the input only costs more: the mix-down loop is the same for
// any channel count, and far-off rates only make soxr's filters and output
// longer. Counts and rates that are refused still go through.
constexpr int MAX_CHANNELS = 16;
constexpr int MIN_RATE = 1000;
constexpr int MAX_RATE = 192000;

struct Memory_file {
    const std::uint8_t *data;
    sf_count_t size;
    sf_count_t pos;
};

sf_count_t mem_length(void *user) { return static_cast<Memory_file *>(user)->size; }
sf_count_t mem_seek(sf_count_t offset, int whence, void *user) {
    auto *m = static_cast<Memory_file *>(user);
    sf_count_t to = offset;
    if (whence == SEEK_CUR) to += m->pos;
    if (whence == SEEK_END) to += m->size;
    if (to < 0 || to > m->size) return -1;
    m->pos = to;
    return to;
}
sf_count_t mem_read(void *ptr, sf_count_t count, void *user) {
    auto *m = static_cast<Memory_file *>(user);
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, m->size - m->pos));
    std::memcpy(ptr, m->data + m->pos, static_cast<std::size_t>(n));
    m->pos += n;
    return n;
}
sf_count_t mem_write(const void *, sf_count_t, void *) { return 0; }
sf_count_t mem_tell(void *user) { return static_cast<Memory_file *>(user)->pos; }

struct Sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};

}  // namespace

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size < 2 || size > qrxc::fuzz::INPUT_CAP) return 0;
    const int type = TYPES[data[0] % 6];
    const bool short_header = (data[0] & 0x80) != 0;
    Memory_file mem{data + 1, static_cast<sf_count_t>(size - 1), 0};
    SF_VIRTUAL_IO io{mem_length, mem_seek, mem_read, mem_write, mem_tell};
    SF_INFO info{};
    std::unique_ptr<SNDFILE, Sndfile_closer> in(sf_open_virtual(&io, SFM_READ, &info, &mem));
    if (!in) return 0;
    if (info.channels > MAX_CHANNELS && info.channels <= 1024) return 0;  // more are refused
    if (info.samplerate > MAX_RATE || (info.samplerate > 0 && info.samplerate < MIN_RATE)) return 0;
    const int rate = RATES[(data[0] >> 3) % 3];
    qrxc::cli::Audio_input audio;
    if (!audio.start(in.get(), info, rate)) return 0;

    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    Qrxc_version_ctx(ctx.get(), short_header ? 0 : 1);
    G_header h{};
    unsigned char hdr[QRXC_HEADER_MAX];
    check(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, rate, type, &h, hdr) ==
          (short_header ? QRXC_HEADER_SHORT : QRXC_HEADER_LONG));
    short pcm[QRXC_MAX_PCM_FRAME];
    unsigned char out[QRXC_MAX_FRAME_BYTES];
    for (int f = 0; f < MAX_FRAMES; ++f) {
        const long got = audio.read(pcm, h.pcm_frame);
        if (got <= 0) break;
        check(got <= h.pcm_frame);
        std::fill(pcm + got, pcm + h.pcm_frame, short{0});
        check(Qrxc_frame_ctx(ctx.get(), pcm, out) == 0);
        if (got < h.pcm_frame) break;
    }
    return 0;
}
