// qrx speed, run as a user would.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common_support.h"
#include "qrxc.h"
#include "speed_support.h"

#ifdef QRX_CLI

using qrxc::test::Bytes;

namespace {

struct Cli_result {
    int status;
    std::string out;
    std::string err;
};

Cli_result qrx(const std::string &args, const qrxc::test::Scratch_dir &dir) {
    const std::string err_file = dir.file("stderr.txt");
    const std::string cmd = std::string("'") + QRX_CLI + "' " + args + " 2>'" + err_file + "'";
    const qrxc::test::Command_result run = qrxc::test::run_command(cmd);
    Cli_result r{run.status, run.out, {}};
    const Bytes e = qrxc::test::read_bytes(err_file);
    r.err.assign(e.begin(), e.end());
    std::remove(err_file.c_str());
    return r;
}

std::string q(const std::string &s) { return "'" + s + "'"; }

// 40 frames of speech as a 4-bit ADPCM stream at 12000 Hz.
Bytes speech_stream() {
    const auto speech = qrxc::test::speed::load_speech();
    Qrxc_context *ctx = Qrxc_create();
    G_header h{};
    unsigned char head[16];
    const int len = Qrxc_initial_ctx(ctx, QRXC_ENCODE, 12000, 5, &h, head);
    Bytes out(head, head + (len > 0 ? len : 0));
    std::vector<unsigned char> frame(120);
    std::vector<short> pcm(240);
    for (std::size_t f = 0; f < 40; ++f) {
        std::copy(speech.begin() + static_cast<long>(f * 240), speech.begin() + static_cast<long>(f * 240 + 240),
                  pcm.begin());
        Qrxc_frame_ctx(ctx, pcm.data(), frame.data());
        out.insert(out.end(), frame.begin(), frame.end());
    }
    Qrxc_destroy(ctx);
    return out;
}

// What the tool should write: the decoded frames through the speed control,
// then two silent frames that bring out what it still holds.
std::vector<short> expected_pcm(const Bytes &stream, int flags) {
    Qrxc_context *ctx = Qrxc_create();
    G_header h{};
    unsigned char head[16];
    std::copy(stream.begin(), stream.begin() + 16, head);
    const int len = Qrxc_initial_ctx(ctx, QRXC_DECODE, 0, 0, &h, head);
    Qrmd_initial_ctx(ctx, flags);
    std::vector<short> all, pcm(h.pcm_frame), out(2u * h.pcm_frame);
    auto play = [&] {
        Qrmd_frame_ctx(ctx, flags, pcm.data(), out.data());
        all.insert(all.end(), out.begin(), out.begin() + Qrmd_last_count_ctx(ctx));
    };
    for (std::size_t at = static_cast<std::size_t>(len); at + h.frame_bytes <= stream.size(); at += h.frame_bytes) {
        std::vector<unsigned char> frame(stream.begin() + static_cast<long>(at),
                                         stream.begin() + static_cast<long>(at + h.frame_bytes));
        Qrxc_frame_ctx(ctx, pcm.data(), frame.data());
        play();
    }
    std::fill(pcm.begin(), pcm.end(), short{0});
    play();
    play();
    Qrxc_destroy(ctx);
    return all;
}

}  // namespace

TEST(SpeedCli, WritesTheSpeedControlsOutputAsWav) {
    qrxc::test::Scratch_dir dir;
    const std::string src = dir.file("talk.QRX");
    const Bytes stream = speech_stream();
    ASSERT_EQ(stream.size(), 16u + 40 * 120);
    qrxc::test::write_bytes(src, stream);

    struct Case {
        std::string args;
        int flags;
    };
    const Case cases[] = {
        {"--level 0", 0},
        {"--level 8", 8},
        {"--level 4", 4},
        {"--effect 0x0B", 0x8B},
        {"--pitch 2 --echo long", 0x8B},
        {"--effect 11", 0x8B},
        {"--vibrato", 0x81},
        {"--pitch 7", 0x9C},
        {"--echo short", 0x82},
    };
    for (const Case &c : cases) {
        const std::string wav = dir.file("out.wav");
        const Cli_result r = qrx("speed -y " + q(src) + " " + c.args + " -o " + q(wav), dir);
        ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;  // standard output stays free of audio
        const Bytes got = qrxc::test::read_bytes(wav);
        const std::vector<short> want = expected_pcm(stream, c.flags);
        ASSERT_EQ(got.size(), 46 + want.size() * 2) << c.args;
        EXPECT_EQ(std::string(got.begin(), got.begin() + 4), "RIFF");
        EXPECT_EQ(got[24] | got[25] << 8, 12000) << c.args;  // the stream's rate
        EXPECT_EQ(std::memcmp(got.data() + 46, want.data(), want.size() * 2), 0) << c.args;
    }
    // Without -o the output lands beside the input, named after the level or
    // effect so that it never takes qrx decode's name; -o - writes standard output.
    ASSERT_EQ(qrx("speed " + q(src) + " --level 2", dir).status, 0);
    ASSERT_EQ(qrx("speed " + q(src) + " --effect 29", dir).status, 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("talk.level2.wav")).size(), 46 + expected_pcm(stream, 2).size() * 2);
    EXPECT_TRUE(std::filesystem::exists(dir.file("talk.effect29.wav")));
    const Cli_result piped = qrx("speed " + q(src) + " --level 2 -o -", dir);
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), qrxc::test::read_bytes(dir.file("talk.level2.wav")));
}

TEST(SpeedCli, FailuresLeaveNoFileBehind) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("bad.QRX"), {'Q', 'R', 'X', 0x35});
    qrxc::test::write_bytes(dir.file("tiny.QRX"), {'Q', 'R'});
    qrxc::test::write_bytes(dir.file("ok.QRX"), speech_stream());
    const std::string ok = q(dir.file("ok.QRX"));
    const std::string to = " -o " + q(dir.file("x.wav"));
    struct Case {
        std::string args;
        int status;
        std::string error;
    };
    const Case cases[] = {
        {"speed " + q(dir.file("none.QRX")) + " --level 2" + to, 2, "cannot open input"},
        {"speed " + q(dir.file("bad.QRX")) + " --level 2" + to, 3, "not a QRX stream header"},
        {"speed " + q(dir.file("tiny.QRX")) + " --level 2" + to, 3, "too short for a QRX header"},
        {"speed " + ok + to, 3, "exactly one of"},
        {"speed " + ok + " --level 2 --vibrato" + to, 3, "exactly one of"},
        {"speed " + ok + " --effect 5 --pitch 2" + to, 3, "exactly one of"},
        {"speed " + ok + " --vibrato --echo long" + to, 3, "cannot be combined"},
        {"speed " + ok + " --effect 32" + to, 3, "code from 0 to 31"},
        {"speed " + ok + " --effect 1x" + to, 3, "code from 0 to 31"},
        {"speed " + ok + " --level 2 -o " + q(dir.file("no/dir/x.wav")), 4, "cannot create output"},
    };
    for (const Case &c : cases) {
        const Cli_result r = qrx(c.args, dir);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.args << ": " << r.err;
    }
    // Bad option values are refused before anything runs.
    for (const char *args : {" --level 13", " --pitch 8", " --echo medium"})
        EXPECT_NE(qrx("speed " + ok + args + to, dir).status, 0) << args;
    const auto left = dir.entries();
    EXPECT_EQ(left.size(), 3u) << "only the three inputs remain";
}

#endif  // QRX_CLI
