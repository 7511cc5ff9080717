// Round trips through the qrx tool, run as a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common_support.h"
#include "conversion/conversion_job.h"
#include "qrxc.h"

#ifdef QRX_CLI

using qrxc::test::Bytes;

namespace {

using Cli_run = qrxc::test::Command_result;

// Runs qrx with args (already quoted), capturing stdout; stderr to err_file if given.
Cli_run run_qrx(const std::string &args, const std::string &err_file = "/dev/null") {
    return qrxc::test::run_command(std::string("'") + QRX_CLI + "' " + args + " 2>'" + err_file + "'");
}

std::string q(const std::string &s) { return "'" + s + "'"; }

class Silent_ui : public qrxc::Job_ui {
public:
    void message(const std::string &) override {}
    void progress(int) override {}
};

Bytes sample_stream(unsigned type, std::size_t frames, std::size_t trailing) {
    const unsigned fb = 240 * (type - 1) / 8;
    Bytes b = qrxc::test::long_header(12000, type, 240, fb);
    const Bytes body = qrxc::test::noise_bytes(frames * fb + trailing, 5);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

}  // namespace

TEST(Cli, DecodeWritesTheConvertersBytes) {
    qrxc::test::Scratch_dir dir;
    const std::string src = dir.file("msg.QRX");
    qrxc::test::write_bytes(src, sample_stream(5, 7, 3));

    Silent_ui ui;
    ASSERT_EQ(qrxc::Conversion_job(src, dir.file("job.wav"), ui).run(), qrxc::Job_result::success);
    const Bytes want = qrxc::test::read_bytes(dir.file("job.wav"));

    const Cli_run plain = run_qrx("decode " + q(src));
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, dir.file("msg.wav") + " Create Success\n");
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("msg.wav")), want);

    EXPECT_EQ(run_qrx("decode -q " + q(src) + " -o " + q(dir.file("named.wav"))).status, 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("named.wav")), want);

    const Cli_run piped = run_qrx("decode " + q(src) + " -o -");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), want);
}

TEST(Cli, DecodeFailuresHaveDistinctExitCodes) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("bad.QRX"), {'Q', 'R', 'X', 0x35});
    qrxc::test::write_bytes(dir.file("ok.QRX"), sample_stream(4, 2, 0));
    struct Case {
        std::string args;
        int status;
        std::string error;
    };
    const Case cases[] = {
        // One wording per fault, whichever command meets it.
        {"decode " + q(dir.file("none.QRX")), 2, "none.QRX: cannot open input: No such file or directory"},
        {"info " + q(dir.file("none.QRX")), 2, "none.QRX: cannot open input: No such file or directory"},
        {"encode -t 1 " + q(dir.file("none.wav")), 2, "none.wav: cannot open input: No such file or directory"},
        {"export " + q(dir.file("none.QRX")), 2, "none.QRX: cannot open input: No such file or directory"},
        {"decode " + q(dir.file("bad.QRX")), 3, "bad.QRX: not a QRX stream header (magic, rate or type)"},
        {"info " + q(dir.file("bad.QRX")), 3, "bad.QRX: not a QRX stream header (magic, rate or type)"},
        {"export " + q(dir.file("bad.QRX")), 3, "bad.QRX: not a QRX stream header (magic, rate or type)"},
        // A name never splits a log line.
        {"info " + q(dir.file("new\nline\x01.QRX")), 2, "new\\nline\\x01.QRX: cannot open input"},
        {"decode " + q(dir.file("ok.QRX")) + " -o " + q(dir.file("no/dir/x.wav")), 4, "x.wav: cannot create output: "},
    };
    for (const Case &c : cases) {
        const std::string err = dir.file("err.txt");
        const Cli_run r = run_qrx(c.args, err);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args;
        const Bytes e = qrxc::test::read_bytes(err);
        EXPECT_NE(std::string(e.begin(), e.end()).find(c.error), std::string::npos) << c.args;
    }
    EXPECT_NE(run_qrx("").status, 0);
    EXPECT_NE(run_qrx("decode").status, 0);
}

TEST(Cli, InfoReportsHeaderFramesAndTrailingBytes) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), sample_stream(6, 40, 11));
    const Cli_run r = run_qrx("info " + q(dir.file("a.QRX")));
    ASSERT_EQ(r.status, 0);
    for (const char *want :
         {"sample rate:  12000 Hz", "type:         6 (ADPCM 5 bits", "frame_bytes:  150 bytes", "frames:       40",
          "duration:     0.800 s", "trailing:     11 bytes", "header:       long, 16 bytes"})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;

    qrxc::test::write_bytes(dir.file("s.QRX"), {'Q', 'R', 'X', 0x00, 1, 2, 3});
    const Cli_run s = run_qrx("info " + q(dir.file("s.QRX")));
    ASSERT_EQ(s.status, 0);
    EXPECT_NE(s.out.find("header:       short, 4 bytes"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("trailing:     3 bytes"), std::string::npos) << s.out;
}

TEST(Cli, BundledSampleDecodes) {
    qrxc::test::Scratch_dir dir;
    const std::string sample = std::string(QRXC_SAMPLES) + "/hello.QRX";
    const Cli_run r = run_qrx("decode -q " + q(sample) + " -o " + q(dir.file("hello.wav")));
    ASSERT_EQ(r.status, 0);
    const Bytes wav = qrxc::test::read_bytes(dir.file("hello.wav"));
    const std::size_t frames = (qrxc::test::read_bytes(sample).size() - 16) / 120;
    EXPECT_EQ(wav.size(), 46 + frames * 480);
}

TEST(Cli, OutputNeverReplacesTheInput) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("m.QRX"), sample_stream(5, 3, 0));
    ASSERT_EQ(run_qrx("decode -q " + q(dir.file("m.QRX"))).status, 0);
    std::filesystem::create_symlink(dir.file("m.QRX"), dir.file("alias.wav"));
    const Bytes stream = qrxc::test::read_bytes(dir.file("m.QRX"));
    const Bytes wav = qrxc::test::read_bytes(dir.file("m.wav"));
    const std::string src = q(dir.file("m.QRX"));
    const std::string pcm = q(dir.file("m.wav"));
    for (const std::string &args : {"decode " + src + " -o " + src, "decode " + src + " -o " + q(dir.file("alias.wav")),
                                    "speed " + src + " --level 2 -o " + src, "encode " + pcm + " -t 1 -o " + pcm}) {
        const std::string err = dir.file("err.txt");
        const Cli_run r = run_qrx(args, err);
        const Bytes e = qrxc::test::read_bytes(err);
        EXPECT_EQ(r.status, 4) << args;
        EXPECT_NE(std::string(e.begin(), e.end()).find("is the input file"), std::string::npos) << args;
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("m.QRX")), stream) << args;
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("m.wav")), wav) << args;
    }
    std::remove(dir.file("err.txt").c_str());
    EXPECT_EQ(dir.entries().size(), 3u);
}

TEST(Cli, PipesDevicesAndOversizedOutput) {
    qrxc::test::Scratch_dir dir;
    const std::string src = dir.file("m.QRX");
    qrxc::test::write_bytes(src, sample_stream(5, 3, 0));
    ASSERT_EQ(run_qrx("decode -q " + q(src) + " -o " + q(dir.file("plain.wav"))).status, 0);
    const Bytes want = qrxc::test::read_bytes(dir.file("plain.wav"));
    ASSERT_LT(want.size(), 4096u) << "must fit the pipe's buffer";

    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // a reader, so the writer's open succeeds
    ASSERT_GE(fd, 0);
    const Cli_run r = run_qrx("decode " + q(src) + " -o " + q(fifo));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.empty()) << "no success line after data sent to a device";
    Bytes got(8192);
    const ssize_t n = ::read(fd, got.data(), got.size());
    ::close(fd);
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // A stream too long for any WAV is refused up front, with the reason.
    const std::string big = dir.file("big.QRX");
    qrxc::test::write_bytes(big, qrxc::test::long_header(8000, 1, 240, 20));
    std::filesystem::resize_file(big, 200000000);
    const Cli_run too_long = run_qrx("decode -y " + q(big) + " -o " + q(dir.file("plain.wav")), dir.file("err.txt"));
    EXPECT_EQ(too_long.status, 4);
    const Bytes e = qrxc::test::read_bytes(dir.file("err.txt"));
    EXPECT_NE(std::string(e.begin(), e.end()).find("more than a WAV file can hold"), std::string::npos);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("plain.wav")), want);

    // Standard output cut short: an error, and no temporary left behind.
    std::filesystem::create_directory(dir.file("tmp"));
    const std::string cmd = "TMPDIR=" + q(dir.file("tmp")) + " '" + QRX_CLI + "' decode " + q(src) +
                            " -o - 2>/dev/null | head -c 4 >/dev/null; exit ${PIPESTATUS[0]}";
    const int st = std::system(("bash -c " + q(cmd)).c_str());
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
}

TEST(Cli, StandardInputIsReadAsAStream) {
    // A pipe is read front to back: the same bytes as from the file.
    qrxc::test::Scratch_dir dir;
    const std::string src = dir.file("m.QRX");
    qrxc::test::write_bytes(src, sample_stream(5, 9, 7));
    ASSERT_EQ(run_qrx("decode -q " + q(src) + " -o " + q(dir.file("file.wav"))).status, 0);
    ASSERT_EQ(run_qrx("speed -q " + q(src) + " --level 8 -o " + q(dir.file("file.s.wav"))).status, 0);
    const std::string pipe = "cat " + q(src) + " | ";
    EXPECT_EQ(qrxc::test::run_command(pipe + "'" + QRX_CLI + "' decode -q - -o " + q(dir.file("pipe.wav"))).status, 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("pipe.wav")), qrxc::test::read_bytes(dir.file("file.wav")));
    EXPECT_EQ(
        qrxc::test::run_command(pipe + "'" + QRX_CLI + "' speed -q - --level 8 -o " + q(dir.file("pipe.s.wav"))).status,
        0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("pipe.s.wav")), qrxc::test::read_bytes(dir.file("file.s.wav")));
    const Cli_run info = qrxc::test::run_command(pipe + "'" + QRX_CLI + "' info -");
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("frames:       9\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("trailing:     7 bytes"), std::string::npos) << info.out;
    // Standard input may be a file someone has read partly: the stream starts where it stands.
    Bytes prefixed{'j', 'u', 'n', 'k', '!'};
    const Bytes body = qrxc::test::read_bytes(src);
    prefixed.insert(prefixed.end(), body.begin(), body.end());
    qrxc::test::write_bytes(dir.file("p.bin"), prefixed);
    const std::string skip = "{ dd bs=5 count=1 of=/dev/null status=none; '" + std::string(QRX_CLI) + "' ";
    const std::string from = "; } < " + q(dir.file("p.bin"));
    EXPECT_EQ(qrxc::test::run_command(skip + "decode -q - -o " + q(dir.file("skip.wav")) + from).status, 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("skip.wav")), qrxc::test::read_bytes(dir.file("file.wav")));
    EXPECT_EQ(qrxc::test::run_command(skip + "speed -q - --level 8 -o " + q(dir.file("skip.s.wav")) + from).status, 0);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("skip.s.wav")), qrxc::test::read_bytes(dir.file("file.s.wav")));
    EXPECT_EQ(qrxc::test::run_command(skip + "info -" + from).out, info.out);
    // Audio reaches standard output only when asked for with -o -.
    EXPECT_EQ(run_qrx("decode - < " + q(src)).status, 4);
}

TEST(Cli, ADirectoryAsInputIsASourceError) {
    qrxc::test::Scratch_dir dir;
    const std::string d = q(dir.file("d.QRX"));
    std::filesystem::create_directory(dir.file("d.QRX"));
    const std::string to = " -o " + q(dir.file("x.wav"));
    for (const std::string &args :
         {"decode " + d + to, "info " + d, "speed " + d + " --level 2" + to, "encode " + d + " -t 1" + to})
        EXPECT_EQ(run_qrx(args).status, 2) << args;
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(Cli, ALinkedOutputIsWrittenThroughAndStaysALink) {
    // /dev/stdout redirected to a file is such a link; renaming onto it
    // would replace the link instead of filling the file.
    qrxc::test::Scratch_dir dir;
    const std::string src = dir.file("m.QRX");
    qrxc::test::write_bytes(src, sample_stream(5, 3, 0));
    ASSERT_EQ(run_qrx("decode -q " + q(src) + " -o " + q(dir.file("plain.wav"))).status, 0);
    qrxc::test::write_bytes(dir.file("target.wav"), {1, 2, 3});
    std::filesystem::create_symlink(dir.file("target.wav"), dir.file("link.wav"));
    const Cli_run r = run_qrx("decode -y " + q(src) + " -o " + q(dir.file("link.wav")));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.wav")));
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("target.wav")), qrxc::test::read_bytes(dir.file("plain.wav")));
    EXPECT_EQ(dir.entries().size(), 4u);
}

TEST(Cli, DevStdoutRedirectedToAFileWorksForEverySubcommand) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("m.QRX"), qrxc::test::noise_stream(2, 4));  // 6.3 kbit/s: export and import apply
    ASSERT_EQ(run_qrx("decode -q " + q(dir.file("m.QRX")) + " -o " + q(dir.file("m.wav"))).status, 0);
    ASSERT_EQ(run_qrx("export -q " + q(dir.file("m.QRX")) + " -o " + q(dir.file("m.g723"))).status, 0);
    const std::pair<std::string, std::string> cases[] = {
        {"decode " + q(dir.file("m.QRX")), ".wav"},           {"speed " + q(dir.file("m.QRX")) + " --level 8", ".wav"},
        {"encode " + q(dir.file("m.wav")) + " -t 1", ".QRX"}, {"export " + q(dir.file("m.QRX")), ".g723"},
        {"import " + q(dir.file("m.g723")), ".QRX"},
    };
    for (const auto &[args, ext] : cases) {
        const std::string named = dir.file("named" + ext), redirected = dir.file("redirected.out");
        std::filesystem::remove(named);
        qrxc::test::write_bytes(redirected, {9, 9, 9});  // the shell truncates it
        ASSERT_EQ(run_qrx(args + " -q -o " + q(named)).status, 0) << args;
        EXPECT_EQ(run_qrx(args + " -q -o /dev/stdout > " + q(redirected)).status, 0) << args;
        EXPECT_EQ(qrxc::test::read_bytes(redirected), qrxc::test::read_bytes(named)) << args;
    }
}

#endif  // QRX_CLI
