// qrx encode: WAV (16-bit mono at 8000, 12000 or 16000 Hz) to a QRX stream.
#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "qrxc.h"

namespace qrx::cli {

namespace {

struct Encode_options {
    std::string input;
    std::string output;
    int type = 1;
    bool short_header = false;
};

struct Sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};
struct Context_deleter {
    void operator()(Qrxc_context *c) const { Qrxc_destroy(c); }
};
struct File_closer {
    void operator()(std::FILE *f) const { std::fclose(f); }
};

std::string default_output(const std::string &in) {
    std::filesystem::path p(in);
    p.replace_extension(".QRX");
    return p.string();
}

bool write_all(std::FILE *f, const void *p, std::size_t n) { return std::fwrite(p, 1, n, f) == n; }

int run_encode(const Encode_options &o) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, Sndfile_closer> in(sf_open(o.input.c_str(), SFM_READ, &info));
    if (!in) {
        std::fprintf(stderr, "qrx encode: cannot read %s: %s\n", o.input.c_str(), sf_strerror(nullptr));
        return 2;
    }
    if (info.channels != 1) {
        std::fprintf(stderr, "qrx encode: %s has %d channels; only mono input is supported\n", o.input.c_str(),
                     info.channels);
        return 3;
    }
    if (info.samplerate != 8000 && info.samplerate != 12000 && info.samplerate != 16000) {
        std::fprintf(stderr, "qrx encode: %s is sampled at %d Hz; use 8000, 12000 or 16000 Hz\n", o.input.c_str(),
                     info.samplerate);
        return 3;
    }

    std::unique_ptr<Qrxc_context, Context_deleter> ctx(Qrxc_create());
    if (!ctx) {
        std::fprintf(stderr, "qrx encode: out of memory\n");
        return 4;
    }
    Qrxc_version_ctx(ctx.get(), o.short_header ? 0 : 1);
    G_header hdr{};
    unsigned char hdr_bytes[16];
    const int hlen = Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, info.samplerate, o.type, &hdr, hdr_bytes);
    if (hlen < 0) {
        std::fprintf(stderr, "qrx encode: the codec refused type %d at %d Hz (error %d)\n", o.type, info.samplerate,
                     hlen);
        return 3;
    }

    const std::string out_path = o.output.empty() ? default_output(o.input) : o.output;
    const std::string tmp_path = out_path + ".part";
    std::unique_ptr<std::FILE, File_closer> out(std::fopen(tmp_path.c_str(), "wb"));
    if (!out) {
        std::fprintf(stderr, "qrx encode: cannot create %s: %s\n", tmp_path.c_str(), std::strerror(errno));
        return 5;
    }
    auto fail = [&](const char *what) {
        std::fprintf(stderr, "qrx encode: %s %s\n", what, tmp_path.c_str());
        out.reset();
        std::remove(tmp_path.c_str());
        return 5;
    };

    if (!write_all(out.get(), hdr_bytes, static_cast<std::size_t>(hlen))) return fail("cannot write");
    const int pcm_frame = hdr.pcm_frame;
    const int frame_bytes = hdr.frame_bytes;
    std::vector<short> pcm(QRXC_MAX_PCM_FRAME);
    std::vector<unsigned char> data(QRXC_MAX_FRAME_BYTES);
    for (;;) {
        const sf_count_t got = sf_read_short(in.get(), pcm.data(), pcm_frame);
        if (got <= 0) break;
        // A final partial frame is completed with silence.
        for (int i = static_cast<int>(got); i < pcm_frame; i++) pcm[static_cast<std::size_t>(i)] = 0;
        if (Qrxc_frame_ctx(ctx.get(), pcm.data(), data.data()) < 0) return fail("codec failure while writing");
        if (!write_all(out.get(), data.data(), static_cast<std::size_t>(frame_bytes))) return fail("cannot write");
        if (got < pcm_frame) break;
    }
    if (sf_error(in.get()) != SF_ERR_NO_ERROR) {
        std::fprintf(stderr, "qrx encode: error reading %s: %s\n", o.input.c_str(), sf_strerror(in.get()));
        out.reset();
        std::remove(tmp_path.c_str());
        return 2;
    }
    if (std::fflush(out.get()) != 0) return fail("cannot write");
    if (std::fclose(out.release()) != 0) {
        std::remove(tmp_path.c_str());
        std::fprintf(stderr, "qrx encode: cannot write %s\n", tmp_path.c_str());
        return 5;
    }
    std::error_code ec;
    std::filesystem::rename(tmp_path, out_path, ec);
    if (ec) {
        std::remove(tmp_path.c_str());
        std::fprintf(stderr, "qrx encode: cannot create %s: %s\n", out_path.c_str(), ec.message().c_str());
        return 5;
    }
    return 0;
}

}  // namespace

void add_encode_command(CLI::App &app) {
    auto opts = std::make_shared<Encode_options>();
    CLI::App *cmd = app.add_subcommand("encode", "Encode a mono 16-bit WAV file into a QRX stream");
    cmd->add_option("input", opts->input, "WAV file at 8000, 12000 or 16000 Hz")->required();
    cmd->add_option("-t,--type", opts->type,
                    "stream type: 0 (5.3 kbit/s, 320 samples), 1 (5.3 kbit/s), 2 (6.3 kbit/s), "
                    "4, 5, 6 (ADPCM 3, 4, 5 bits)")
        ->required()
        ->check(CLI::IsMember({0, 1, 2, 4, 5, 6}));
    cmd->add_option("-o,--output", opts->output, "output file (default: input with .QRX)");
    cmd->add_flag("--short-header", opts->short_header, "write the 4-byte header form");
    cmd->callback([opts]() {
        const int rc = run_encode(*opts);
        if (rc != 0) throw CLI::RuntimeError(rc);
    });
}

}  // namespace qrx::cli
