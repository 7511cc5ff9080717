// Arbitrary bytes as a QRX file read the way qrx info reads one: the
// CLI's Qrx_reader opens it, hands over whole frames and counts the
// trailing bytes, and the G.723.1 frames are asked whether the decoder
// will conceal them. Byte 0 bit 0 picks a regular file (whose size is
// known up front) or a pipe; the rest is the file.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/cli_support.h"
#include "cli/qrx_reader.h"
#include "fuzz/fuzz_files.h"
#include "fuzz/fuzz_support.h"

namespace {

const std::string &work_dir() {
    static const std::string dir = qrxc::fuzz::make_scratch_dir("qrx-fuzz-info");
    static const qrxc::fuzz::Dir_remover remover{dir};
    return dir;
}

// A pipe holding the bytes, its writing end closed: read once, size unknown.
// Opened by name, as a user's FIFO would be. The caller closes the fd.
bool pipe_of(const std::uint8_t *data, std::size_t size, qrxc::cli::Input_fd &in) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    const bool wrote = ::write(fds[1], data, size) == static_cast<ssize_t>(size);  // far below a pipe's room
    ::close(fds[1]);
    const bool opened = wrote && in.open("/proc/self/fd/" + std::to_string(fds[0]));
    ::close(fds[0]);
    return opened;
}

}  // namespace

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::cli::Qrx_reader;
    using qrxc::fuzz::check;
    if (size < 1 || size > qrxc::fuzz::INPUT_CAP) return 0;
    const bool piped = (data[0] & 1) != 0;
    const std::uint8_t *file = data + 1;
    const std::size_t n = size - 1;

    qrxc::cli::Input_fd in;
    const std::string path = work_dir() + "/in.QRX";
    if (piped) {
        if (!pipe_of(file, n, in)) return 0;
    } else if (!qrxc::fuzz::write_file(path, file, n) || !in.open(path)) {
        return 0;
    }
    check(in.sized() == !piped && (piped || in.size() == n));

    qrxc::fuzz::Ctx ctx(Qrxc_create());
    if (!ctx) return 0;
    Qrx_reader reader;
    const Qrx_reader::Open_result opened = reader.open(in, ctx.get());
    // The outcome follows from the first bytes and the public header queries.
    const int len = n >= 4 ? Qrxc_header_length(file) : 0;
    if (n < 4 || (len > 0 && n < static_cast<std::size_t>(len))) {
        check(opened == Qrx_reader::too_short);
    } else if (len < 0) {
        check(opened == Qrx_reader::rejected && reader.header_code() == len);
    } else {
        unsigned char hdr[QRXC_HEADER_MAX] = {};
        for (int i = 0; i < len; ++i) hdr[i] = file[i];
        qrxc::fuzz::Ctx probe(Qrxc_create());
        if (!probe) return 0;
        G_header want{};
        const int code = Qrxc_initial_ctx(probe.get(), QRXC_DECODE, 0, 0, &want, hdr);
        check(code == len || code < 0);
        check((opened == Qrx_reader::ok) == (code == len));
        if (opened != Qrx_reader::ok) {
            check(opened == Qrx_reader::rejected && reader.header_code() == code);
        } else {
            check(reader.header_length() == len && reader.header().type == want.type &&
                  reader.header().sample_rate == want.sample_rate && reader.header().frame_bytes == want.frame_bytes);
        }
    }
    if (!piped) ::unlink(path.c_str());
    if (opened != Qrx_reader::ok) return 0;

    // What info reports: whole frames, the bytes after them, and for
    // G.723.1 the frames the decoder will conceal.
    const G_header &h = reader.header();
    Qrxc_type_desc desc{};
    check(Qrxc_type_info(h.type, &desc) == 0 && desc.frame_bytes == h.frame_bytes && desc.pcm_frame == h.pcm_frame);
    check(h.sample_rate > 0);
    const std::size_t payload = n - static_cast<std::size_t>(reader.header_length());
    check(reader.frames_expected() == (piped ? 0 : payload / h.frame_bytes));
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    std::uint64_t concealed = 0;
    int got = 0;
    while ((got = reader.next(frame)) == 1) {
        const int c = Qrxc_frame_concealed(static_cast<int>(h.type), frame);
        check(c == 0 || c == 1);
        check(h.type <= 2 || c == 0);
        concealed += static_cast<std::uint64_t>(c);
    }
    check(got == 0);
    check(reader.frames_read() == payload / h.frame_bytes && reader.trailing_bytes() == payload % h.frame_bytes);
    check(concealed <= reader.frames_read());
    return 0;
}
