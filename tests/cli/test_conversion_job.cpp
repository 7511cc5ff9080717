#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "common_support.h"
#include "conversion/conversion_job.h"
#include "qrxc.h"

using qrxc::Job_result;
using qrxc::test::Bytes;

namespace {

class Recording_ui : public qrxc::Job_ui {
public:
    void message(const std::string &text) override { messages.push_back(text); }
    void progress(int position) override {
        positions.push_back(position);
        if (on_progress) on_progress();
    }
    std::string success_path(const std::string &job_output) override {
        return dialog_path.empty() ? job_output : dialog_path;
    }
    std::vector<std::string> messages;
    std::vector<int> positions;
    std::function<void()> on_progress;
    std::string dialog_path;
};

struct Ctx {
    Qrxc_context *c = Qrxc_create();
    ~Ctx() { Qrxc_destroy(c); }
};

// A type 5 (or other ADPCM type) stream of noise frames.
Bytes adpcm_file(unsigned type, std::size_t frames, std::size_t trailing = 0, bool short_header = false,
                 unsigned rate = 8000) {
    const unsigned frame_bytes = 240 * (type - 1) / 8;
    Bytes b;
    if (short_header) {
        const unsigned code = rate == 12000 ? 0x10 : rate == 16000 ? 0x20 : 0;
        b = {'Q', 'R', 'X', static_cast<unsigned char>(type | code)};
    } else {
        b = qrxc::test::long_header(rate, type, 240, frame_bytes);
    }
    const Bytes body = qrxc::test::noise_bytes(frames * frame_bytes + trailing, 99);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The WAV the job must produce for a stream, decoded straight through the API.
Bytes expected_wav(const Bytes &file, int header_len) {
    Ctx ctx;
    G_header info{};
    Bytes hdr(file.begin(), file.begin() + std::min<std::size_t>(16, file.size()));
    hdr.resize(16);
    EXPECT_EQ(Qrxc_initial_ctx(ctx.c, QRXC_DECODE, 0, 0, &info, hdr.data()), header_len);
    Bytes data;
    for (std::size_t at = static_cast<std::size_t>(header_len); at + info.frame_bytes <= file.size();
         at += info.frame_bytes) {
        Bytes frame(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + info.frame_bytes));
        short pcm[QRXC_MAX_PCM_FRAME];
        Qrxc_frame_ctx(ctx.c, pcm, frame.data());
        for (int i = 0; i < info.pcm_frame; ++i) {
            data.push_back(static_cast<unsigned char>(static_cast<unsigned short>(pcm[i]) & 0xFF));
            data.push_back(static_cast<unsigned char>(static_cast<unsigned short>(pcm[i]) >> 8));
        }
    }
    return qrxc::test::wav_file(info.sample_rate, data);
}

}  // namespace

TEST(ConversionJob, OutputNameRule) {
    struct Case {
        const char *source, *output;
    };
    const Case cases[] = {
        {"/rec/msg01.QRX", "/rec/msg01.wav"},
        {"/rec/AX.QRX", "/rec/AX.wav"},
        {"/rec/RX.QRX", "/rec/RX.wav"},
        {"/rec/msg01.qrx", "/rec/msg01.wav"},
        {"/rec/a.QrX", "/rec/a.wav"},
        {"/rec/a.QRX.QRX", "/rec/a.QRX.wav"},
        {"/rec/noext", "/rec/noext.wav"},
        {"/rec/QRX", "/rec/QRX.wav"},
        {"/rec/a.QRXX", "/rec/a.QRXX.wav"},
        {".QRX", ".wav"},
        {"", ".wav"},
        {"C:\\rec\\m.QRX", "C:\\rec\\m.wav"},
    };
    for (const Case &c : cases) EXPECT_EQ(qrxc::output_path_for(c.source), c.output) << c.source;
}

TEST(ConversionJob, ProgressPosition) {
    struct Case {
        std::uint64_t consumed, total;
        int position;
    };
    const Case cases[] = {
        {1, 10, 10},
        {9, 10, 90},
        {99, 100, 99},
        {1, 3, 33},
        {2, 3, 66},
        {0, 5, 0},
        {5, 5, 100},
        {6, 5, 100},
        {50'000'000, 60'000'000, 83},              // past the 32-bit range of consumed * 100
        {4'000'000'000ull, 4'294'967'295ull, 93},  // near the top of a 32-bit file size
        {1ull << 40, (1ull << 40) + 1, 99},
        {7, 0, 100},
    };
    for (const Case &c : cases) EXPECT_EQ(qrxc::progress_position(c.consumed, c.total), c.position) << c.consumed;
}

TEST(ConversionJob, ConvertsWholeFramesAndReportsProgress) {
    struct Case {
        const char *name;
        unsigned type;
        std::size_t frames, trailing;
        bool short_header;
        unsigned rate;
        std::vector<int> positions;
    };
    const Case cases[] = {
        {"ten frames", 5, 10, 0, false, 8000, {10, 20, 30, 40, 50, 60, 70, 80, 90}},
        {"trailing bytes", 4, 3, 17, false, 12000, {31, 62, 94}},  // of 287 bytes, trailing ones counted
        {"header only", 6, 0, 0, false, 16000, {}},
        {"short header", 5, 4, 0, true, 12000, {25, 50, 75}},
        {"short header, partial frame", 6, 2, 149, true, 8000, {33, 66}},  // of 449 bytes after the 4
        {"one frame", 4, 1, 0, false, 8000, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        qrxc::test::Scratch_dir dir;
        const Bytes file = adpcm_file(c.type, c.frames, c.trailing, c.short_header, c.rate);
        const std::string src = dir.file("msg.QRX");
        qrxc::test::write_bytes(src, file);
        const std::string out = qrxc::output_path_for(src);
        Recording_ui ui;
        Ctx ctx;
        qrxc::Conversion_job job(src, out, ui, ctx.c);
        ASSERT_EQ(job.run(), Job_result::success);
        EXPECT_EQ(job.frames_converted(), c.frames);
        EXPECT_EQ(job.header_length(), c.short_header ? 4 : 16);
        EXPECT_EQ(ui.positions, c.positions);
        EXPECT_EQ(ui.messages, std::vector<std::string>{out + " Create Success"});
        EXPECT_EQ(qrxc::test::read_bytes(out), expected_wav(file, c.short_header ? 4 : 16));
        EXPECT_EQ(dir.entries().size(), 2u);  // source and WAV, no leftovers
    }
}

TEST(ConversionJob, DefaultContextGivesTheSameBytes) {
    qrxc::test::Scratch_dir dir;
    const Bytes file = adpcm_file(5, 6);
    qrxc::test::write_bytes(dir.file("a.QRX"), file);
    Recording_ui ui;
    // Leave the default context mid-stream first: the reset on open must hide it.
    G_header info;
    unsigned char hdr[16];
    Qrxc_initial(QRXC_ENCODE, 8000, 5, &info, hdr);
    short pcm[240] = {1000, -2000, 3000};
    unsigned char frame[120];
    Qrxc_frame(pcm, frame);
    ASSERT_EQ(qrxc::Conversion_job(dir.file("a.QRX"), dir.file("default.wav"), ui).run(), Job_result::success);
    Ctx ctx;
    ASSERT_EQ(qrxc::Conversion_job(dir.file("a.QRX"), dir.file("own.wav"), ui, ctx.c).run(), Job_result::success);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("default.wav")), qrxc::test::read_bytes(dir.file("own.wav")));
}

TEST(ConversionJob, RejectedSources) {
    struct Case {
        const char *name;
        Bytes content;  // empty name below: no file at all
        bool create;
        Job_result result;
        const char *message;
    };
    Bytes long_short = qrxc::test::long_header(8000, 5, 240, 120);
    long_short.resize(15);
    const Case cases[] = {
        {"missing", {}, false, Job_result::open_failed, qrxc::MSG_OPEN_FAILED},
        {"empty", {}, true, Job_result::bad_header, qrxc::MSG_CANNOT_CONVERT},
        {"three bytes", {'Q', 'R', 'X'}, true, Job_result::bad_header, qrxc::MSG_CANNOT_CONVERT},
        {"long header cut short", long_short, true, Job_result::bad_header, qrxc::MSG_CANNOT_CONVERT},
        {"bad magic", {'Q', 'R', 'Z', 0x05, 1, 2, 3}, true, Job_result::bad_header, qrxc::MSG_CANNOT_CONVERT},
        {"short type 3", {'Q', 'R', 'X', 0x03, 1, 2, 3}, true, Job_result::bad_header, qrxc::MSG_CANNOT_CONVERT},
        {"long type 3", qrxc::test::long_header(8000, 3, 240, 20), true, Job_result::bad_header,
         qrxc::MSG_CANNOT_CONVERT},
        {"frame_bytes off", qrxc::test::long_header(8000, 5, 240, 121), true, Job_result::bad_header,
         qrxc::MSG_CANNOT_CONVERT},
        {"bad rate", qrxc::test::long_header(44100, 5, 240, 120), true, Job_result::bad_header,
         qrxc::MSG_CANNOT_CONVERT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        qrxc::test::Scratch_dir dir;
        const std::string src = dir.file("in.QRX");
        if (c.create) qrxc::test::write_bytes(src, c.content);
        Recording_ui ui;
        Ctx ctx;
        EXPECT_EQ(qrxc::Conversion_job(src, dir.file("in.wav"), ui, ctx.c).run(), c.result);
        EXPECT_EQ(ui.messages, std::vector<std::string>{c.message});
        EXPECT_TRUE(ui.positions.empty());
        EXPECT_EQ(dir.entries().size(), c.create ? 1u : 0u);  // no WAV, no temporary
    }
}

TEST(ConversionJob, NoFileChosenOrADirectory) {
    qrxc::test::Scratch_dir dir;
    for (const std::string &src : {std::string(), dir.path().string()}) {
        Recording_ui ui;
        Ctx ctx;
        EXPECT_EQ(qrxc::Conversion_job(src, dir.file("x.wav"), ui, ctx.c).run(), Job_result::open_failed);
        EXPECT_EQ(ui.messages, std::vector<std::string>{qrxc::MSG_OPEN_FAILED});
    }
    EXPECT_TRUE(dir.entries().empty());
}

TEST(ConversionJob, OutputCannotBeCreated) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), adpcm_file(5, 2));
    const std::string out = dir.file("no/such/dir/a.wav");
    Recording_ui ui;
    Ctx ctx;
    EXPECT_EQ(qrxc::Conversion_job(dir.file("a.QRX"), out, ui, ctx.c).run(), Job_result::create_failed);
    EXPECT_EQ(ui.messages, std::vector<std::string>{out + " Create Failed"});
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(ConversionJob, FailedRenameLeavesTheTargetAndNoTemporary) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), adpcm_file(5, 3));
    const std::string out = dir.file("a.wav");
    std::filesystem::create_directory(out);  // a directory of that name cannot be replaced by a file
    qrxc::test::write_bytes(out + "/keep", {1, 2, 3});
    Recording_ui ui;
    Ctx ctx;
    EXPECT_EQ(qrxc::Conversion_job(dir.file("a.QRX"), out, ui, ctx.c).run(), Job_result::write_failed);
    EXPECT_EQ(ui.messages, std::vector<std::string>{out + " Create Failed"});
    EXPECT_EQ(qrxc::test::read_bytes(out + "/keep"), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries().size(), 2u);
}

TEST(ConversionJob, WriteFailureKeepsTheOldFile) {
    // A file size limit makes the PCM writes fail part way (as a full disk
    // would). Run in a child so the limit does not touch the test process.
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), adpcm_file(5, 200));
    const std::string out = dir.file("a.wav");
    const Bytes old(3000, 0x42);
    qrxc::test::write_bytes(out, old);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{20000, 20000};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        Recording_ui ui;
        Ctx ctx;
        const Job_result r = qrxc::Conversion_job(dir.file("a.QRX"), out, ui, ctx.c).run();
        const bool told = ui.messages == std::vector<std::string>{out + " Create Failed"};
        ::_exit(r == Job_result::write_failed && told ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(qrxc::test::read_bytes(out), old);
    EXPECT_EQ(dir.entries().size(), 2u);
}

TEST(ConversionJob, SuccessReplacesAnOldFileAndShowsTheDialogsPath) {
    qrxc::test::Scratch_dir dir;
    const Bytes file = adpcm_file(6, 2);
    qrxc::test::write_bytes(dir.file("a.QRX"), file);
    const std::string out = dir.file("a.wav");
    qrxc::test::write_bytes(out, Bytes(100000, 7));
    Recording_ui ui;
    ui.dialog_path = "/elsewhere/b.wav";  // OPEN chose another file meanwhile
    Ctx ctx;
    ASSERT_EQ(qrxc::Conversion_job(dir.file("a.QRX"), out, ui, ctx.c).run(), Job_result::success);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"/elsewhere/b.wav Create Success"});
    EXPECT_EQ(qrxc::test::read_bytes(out), expected_wav(file, 16));
}

TEST(ConversionJob, CancelLeavesNothingBehind) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), adpcm_file(5, 50));
    const Bytes old = {9, 9, 9};
    qrxc::test::write_bytes(dir.file("a.wav"), old);
    Recording_ui ui;
    Ctx ctx;
    qrxc::Conversion_job job(dir.file("a.QRX"), dir.file("a.wav"), ui, ctx.c);
    ui.on_progress = [&] {
        if (ui.positions.size() == 5) job.cancel();
    };
    EXPECT_EQ(job.run(), Job_result::cancelled);
    EXPECT_EQ(ui.positions.size(), 5u);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("a.wav")), old);
    EXPECT_EQ(dir.entries().size(), 2u);
}

TEST(ConversionJob, NeverReplacesTheSourceOrADeviceNode) {
    // The finished WAV is renamed over the output: aimed at the source (or a
    // link to it) that would destroy the source, aimed at a pipe or device
    // node it would put a plain file in the node's place.
    qrxc::test::Scratch_dir dir;
    const Bytes stream = adpcm_file(5, 3);
    qrxc::test::write_bytes(dir.file("a.QRX"), stream);
    std::filesystem::create_symlink(dir.file("a.QRX"), dir.file("link.wav"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
    for (const char *name : {"a.QRX", "link.wav", "pipe.wav"}) {
        const std::string out = dir.file(name);
        Recording_ui ui;
        Ctx ctx;
        EXPECT_EQ(qrxc::Conversion_job(dir.file("a.QRX"), out, ui, ctx.c).run(), Job_result::create_failed) << name;
        EXPECT_EQ(ui.messages, std::vector<std::string>{out + " Create Failed"}) << name;
    }
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("a.QRX")), stream);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.wav")));
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.wav")));
    EXPECT_EQ(dir.entries().size(), 3u);
}

TEST(ConversionJob, MoreThanAWavCanHoldFailsBeforeWriting) {
    // A sparse 200 MB type 1 stream decodes to 4.8 GB of PCM.
    qrxc::test::Scratch_dir dir;
    const std::string src = dir.file("long.QRX");
    qrxc::test::write_bytes(src, qrxc::test::long_header(8000, 1, 240, 20));
    std::filesystem::resize_file(src, 200000000);
    EXPECT_GT(qrxc::wav_data_bytes(200000000 - 16, 20, 240), qrxc::WAV_MAX_DATA_BYTES);
    EXPECT_EQ(qrxc::wav_data_bytes(20 * 1000 + 19, 20, 320), 640000u);
    Recording_ui ui;
    Ctx ctx;
    qrxc::Conversion_job job(src, dir.file("long.wav"), ui, ctx.c);
    EXPECT_EQ(job.run(), Job_result::write_failed);
    EXPECT_EQ(job.frames_converted(), 0u);
    EXPECT_EQ(ui.messages, std::vector<std::string>{dir.file("long.wav") + " Create Failed"});
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(ConversionJob, ASourceThatShrinksIsAReadFailure) {
    // Cut short by another program while the job reads it: not a shorter success.
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), adpcm_file(5, 300));
    Recording_ui ui;
    Ctx ctx;
    qrxc::Conversion_job job(dir.file("a.QRX"), dir.file("a.wav"), ui, ctx.c);
    ui.on_progress = [&] {
        if (ui.positions.size() == 1) std::filesystem::resize_file(dir.file("a.QRX"), 16 + 120 * 100 + 50);
    };
    EXPECT_EQ(job.run(), Job_result::read_failed);
    EXPECT_EQ(ui.messages, std::vector<std::string>{dir.file("a.wav") + " Create Failed"});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"a.QRX"});
}
