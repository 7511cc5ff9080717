// qrx encode as a user runs it: every type, header forms, refused input,
// padding of the last frame, and round trips through qrx decode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common_support.h"

#ifdef QRX_CLI

namespace {

using qrxc::test::Bytes;

// A canonical WAV file: fmt chunk of 16 bytes, then data.
Bytes make_wav(int rate, int channels, int bits, int format, std::size_t frames) {
    Bytes b{'R', 'I', 'F', 'F'};
    const std::size_t bytes_per_frame = static_cast<std::size_t>(channels * bits / 8);
    const std::size_t data = frames * bytes_per_frame;
    qrxc::test::put32(b, static_cast<std::uint32_t>(36 + data));
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<unsigned char>(c));
    qrxc::test::put32(b, 16);
    qrxc::test::put16(b, static_cast<unsigned>(format));
    qrxc::test::put16(b, static_cast<unsigned>(channels));
    qrxc::test::put32(b, static_cast<std::uint32_t>(rate));
    qrxc::test::put32(b, static_cast<std::uint32_t>(rate * static_cast<int>(bytes_per_frame)));
    qrxc::test::put16(b, static_cast<unsigned>(bytes_per_frame));
    qrxc::test::put16(b, static_cast<unsigned>(bits));
    for (char c : std::string("data")) b.push_back(static_cast<unsigned char>(c));
    qrxc::test::put32(b, static_cast<std::uint32_t>(data));
    for (std::size_t n = 0; n < frames; n++) {
        const double v =
            0.3 * std::sin(2 * M_PI * 220 * double(n) / rate) + 0.1 * std::sin(2 * M_PI * 1270 * double(n) / rate);
        for (int ch = 0; ch < channels; ch++) {
            if (format == 3) {
                float f = static_cast<float>(v);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                qrxc::test::put32(b, u);
            } else {
                qrxc::test::put16(
                    b, static_cast<unsigned>(static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32767))));
            }
        }
    }
    return b;
}

int run(const std::string &args, bool keep_stdout = false) {
    const std::string cmd = std::string(QRX_CLI) + " " + args + (keep_stdout ? " 2>/dev/null" : " >/dev/null 2>&1");
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

struct Type_case {
    int type;
    std::size_t pcm_frame;
    std::size_t frame_bytes;
};

class CliEncode : public ::testing::TestWithParam<Type_case> {};

TEST_P(CliEncode, EncodesPadsAndDecodesBack) {
    const Type_case &c = GetParam();
    qrxc::test::Scratch_dir dir;
    const std::size_t samples = 7 * c.pcm_frame + 5;  // a partial last frame
    qrxc::test::write_bytes(dir.file("in.wav"), make_wav(12000, 1, 16, 1, samples));
    const std::string t = std::to_string(c.type);
    ASSERT_EQ(run("encode " + dir.file("in.wav") + " -t " + t), 0);
    const Bytes q = qrxc::test::read_bytes(dir.file("in.QRX"));
    ASSERT_EQ(q.size(), 16 + 8 * c.frame_bytes);
    EXPECT_EQ(q[3], 0x40);
    EXPECT_EQ(q[4] | (q[5] << 8), 12000);
    EXPECT_EQ(q[6], c.type);

    ASSERT_EQ(run("encode " + dir.file("in.wav") + " -t " + t + " --short-header -o " + dir.file("s.QRX")), 0);
    const Bytes s = qrxc::test::read_bytes(dir.file("s.QRX"));
    ASSERT_EQ(s.size(), 4 + 8 * c.frame_bytes);
    EXPECT_EQ(s[3], c.type | 0x10);
    EXPECT_TRUE(std::equal(s.begin() + 4, s.end(), q.begin() + 16)) << "frames depend on the header form";

    ASSERT_EQ(run("decode -q " + dir.file("s.QRX") + " -o " + dir.file("out.wav")), 0);
    EXPECT_GE(qrxc::test::read_bytes(dir.file("out.wav")).size(), 8 * c.pcm_frame * 2);
    for (const auto &name : dir.entries()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

INSTANTIATE_TEST_SUITE_P(Types, CliEncode,
                         ::testing::Values(Type_case{0, 320, 20}, Type_case{1, 240, 20}, Type_case{2, 240, 24},
                                           Type_case{4, 240, 90}, Type_case{5, 240, 120}, Type_case{6, 240, 150}));

struct Refusal_case {
    const char *name;
    int rate, channels, bits, format;
    const char *extra;
    int code;  // 0: any failure
};

class CliEncodeRefuses : public ::testing::TestWithParam<Refusal_case> {};

TEST_P(CliEncodeRefuses, FailsWithoutLeavingAnOutput) {
    const Refusal_case &c = GetParam();
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("in.wav"), make_wav(c.rate, c.channels, c.bits, c.format, 1000));
    const int rc = run("encode " + dir.file("in.wav") + " " + c.extra + " -o " + dir.file("o.QRX"));
    if (c.code > 0) {
        EXPECT_EQ(rc, c.code);
    } else {
        EXPECT_NE(rc, 0);  // a usage error, reported by the option parser
    }
    EXPECT_EQ(dir.entries().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliEncodeRefuses,
                         ::testing::Values(Refusal_case{"rate_option", 8000, 1, 16, 1, "-t 2 --rate 44100", 0},
                                           Refusal_case{"type3", 8000, 1, 16, 1, "-t 3", 0},
                                           Refusal_case{"no_type", 8000, 1, 16, 1, "", 0}),
                         [](const auto &p) { return std::string(p.param.name); });

TEST(CliEncodeInput, MissingOrGarbageInputIsASourceError) {
    qrxc::test::Scratch_dir dir;
    EXPECT_EQ(run("encode " + dir.file("nothing.wav") + " -t 1"), 2);
    qrxc::test::write_bytes(dir.file("junk.wav"), Bytes(500, 0x55));
    EXPECT_EQ(run("encode " + dir.file("junk.wav") + " -t 1"), 2);
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(CliEncodeInput, CutRecordingsWarnOrFailUnderStrict) {
    qrxc::test::Scratch_dir dir;
    // A WAV whose data chunk promises 2400 samples with 1000 there, and an
    // AIFF (written by libsndfile) with its sound data cut short.
    Bytes wav = make_wav(8000, 1, 16, 1, 2400);
    wav.resize(44 + 2000);
    qrxc::test::write_bytes(dir.file("cut.wav"), wav);
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(dir.file("cut.aiff").c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    const std::vector<short> tone = qrxc::test::tone(2400, 8000);
    sf_writef_short(f, tone.data(), 2400);
    sf_close(f);
    std::filesystem::resize_file(dir.file("cut.aiff"), std::filesystem::file_size(dir.file("cut.aiff")) - 2800);
    for (const char *name : {"cut.wav", "cut.aiff"}) {
        const std::string in = dir.file(name), out = dir.file("out.QRX");
        const auto warned = qrxc::test::run_tool("encode -q -y -t 5 '" + in + "' -o '" + out + "'");
        EXPECT_EQ(warned.status, 0) << name;
        EXPECT_NE(warned.err.find("the header promises 2400 samples, the file holds 1000"), std::string::npos)
            << name << ": " << warned.err;
        EXPECT_EQ(std::filesystem::file_size(out), 16u + 5 * 120) << name;  // 1000 samples in 240-sample frames
        std::filesystem::remove(out);
        const auto refused = qrxc::test::run_tool("encode -q --strict -t 5 '" + in + "' -o '" + out + "'");
        EXPECT_EQ(refused.status, 3) << name << ": " << refused.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << name;
    }
    // A whole file says nothing.
    qrxc::test::write_bytes(dir.file("whole.wav"), make_wav(8000, 1, 16, 1, 2400));
    EXPECT_EQ(qrxc::test::run_tool("encode -q --strict -t 5 '" + dir.file("whole.wav") + "'").err, "");
}

TEST(CliEncodeInput, FloatWavIsMappedTo16Bit) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("f.wav"), make_wav(8000, 1, 32, 3, 2400));
    qrxc::test::write_bytes(dir.file("i.wav"), make_wav(8000, 1, 16, 1, 2400));
    ASSERT_EQ(run("encode " + dir.file("f.wav") + " -t 2"), 0);
    ASSERT_EQ(run("encode " + dir.file("i.wav") + " -t 2"), 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("f.QRX")).size(), 16 + 10 * 24u);
}

TEST(CliEncodeInput, FloatWavKeepsItsLevel) {
    // Float samples are full scale at 1.0; taken unscaled they would all
    // round to silence.
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("f.wav"), make_wav(8000, 1, 32, 3, 2400));
    qrxc::test::write_bytes(dir.file("i.wav"), make_wav(8000, 1, 16, 1, 2400));
    auto peak = [&](const std::string &name) {
        EXPECT_EQ(run("encode " + dir.file(name + ".wav") + " -t 6"), 0);
        EXPECT_EQ(run("decode -q " + dir.file(name + ".QRX") + " -o " + dir.file(name + ".out.wav")), 0);
        const Bytes w = qrxc::test::read_bytes(dir.file(name + ".out.wav"));
        int p = 0;
        for (std::size_t k = 46; k + 1 < w.size(); k += 2)
            p = std::max(p, std::abs(static_cast<int>(static_cast<std::int16_t>(w[k] | (w[k + 1] << 8)))));
        return p;
    };
    const int from_int = peak("i");
    const int from_float = peak("f");
    EXPECT_GT(from_int, 8000);
    EXPECT_NEAR(from_float, from_int, from_int / 10);
}

TEST(CliEncodeInput, UnwritableOutputFailsCleanly) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("in.wav"), make_wav(8000, 1, 16, 1, 480));
    EXPECT_EQ(run("encode " + dir.file("in.wav") + " -t 1 -o " + dir.file("no/such/dir/o.QRX")), 4);
}

TEST(CliEncodeInput, StandardInputAndOutput) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("in.wav"), make_wav(16000, 1, 16, 1, 960));
    ASSERT_EQ(run("encode -t 4 -o - - < " + dir.file("in.wav") + " > " + dir.file("o.QRX"), true), 0);
    ASSERT_EQ(run("encode -t 4 " + dir.file("in.wav")), 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("o.QRX")), qrxc::test::read_bytes(dir.file("in.QRX")));
}

TEST(CliEncodeInput, InterruptLeavesNoPartialStream) {
    // The WAV arrives through a pipe that stays open, so qrx is still
    // encoding when the interrupt comes.
    qrxc::test::Scratch_dir dir;
    const std::string fifo = dir.file("in.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int in = ::open(fifo.c_str(), O_RDONLY);
        if (in < 0 || ::dup2(in, STDIN_FILENO) < 0) ::_exit(99);
        const std::string out = dir.file("o.QRX");
        ::execl(QRX_CLI, QRX_CLI, "encode", "-", "-t", "5", "-o", out.c_str(), static_cast<char *>(nullptr));
        ::_exit(98);
    }
    const int w = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    const Bytes wav = make_wav(8000, 1, 16, 1, 48000);
    const std::size_t half = wav.size() / 2;
    ASSERT_EQ(::write(w, wav.data(), half), static_cast<ssize_t>(half));
    // Wait until the temporary exists, i.e. qrx is in its frame loop.
    for (int i = 0; i < 500 && dir.entries().size() < 2; ++i) ::usleep(10000);
    EXPECT_EQ(dir.entries().size(), 2u);
    ::kill(pid, SIGINT);
    ::usleep(50000);
    ::close(w);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.fifo"});
}

}  // namespace

#endif  // QRX_CLI
