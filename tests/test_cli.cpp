// Round trips through the qrx tool, run as a user would.
#include <gtest/gtest.h>

#include <string>

#include "convertor/core/conversion_job.h"
#include "qrxc.h"
#include "test_support.h"

#ifdef QRX_CLI

using qrx_test::Bytes;

namespace {

using Cli_run = qrx_test::Command_result;

// Runs qrx with args (already quoted), capturing stdout; stderr to err_file if given.
Cli_run run_qrx(const std::string &args, const std::string &err_file = "/dev/null") {
    return qrx_test::run_command(std::string("'") + QRX_CLI + "' " + args + " 2>'" + err_file + "'");
}

std::string q(const std::string &s) { return "'" + s + "'"; }

class Silent_ui : public qrx::Job_ui {
public:
    void message(const std::string &) override {}
    void progress(int) override {}
};

Bytes sample_stream(unsigned type, std::size_t frames, std::size_t trailing) {
    const unsigned fb = 240 * (type - 1) / 8;
    Bytes b = qrx_test::long_header(12000, type, 240, fb);
    const Bytes body = qrx_test::noise_bytes(frames * fb + trailing, 5);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

}  // namespace

TEST(Cli, DecodeWritesTheConvertersBytes) {
    qrx_test::Scratch_dir dir;
    const std::string src = dir.file("msg.QRX");
    qrx_test::write_bytes(src, sample_stream(5, 7, 3));

    Silent_ui ui;
    ASSERT_EQ(qrx::Conversion_job(src, dir.file("job.wav"), ui).run(), qrx::Job_result::success);
    const Bytes want = qrx_test::read_bytes(dir.file("job.wav"));

    const Cli_run plain = run_qrx("decode " + q(src));
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, dir.file("msg.wav") + " Create Success\n");
    EXPECT_EQ(qrx_test::read_bytes(dir.file("msg.wav")), want);

    EXPECT_EQ(run_qrx("decode -q " + q(src) + " -o " + q(dir.file("named.wav"))).status, 0);
    EXPECT_EQ(qrx_test::read_bytes(dir.file("named.wav")), want);

    const Cli_run piped = run_qrx("decode " + q(src) + " -o -");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), want);
}

TEST(Cli, DecodeFailuresHaveDistinctExitCodes) {
    qrx_test::Scratch_dir dir;
    qrx_test::write_bytes(dir.file("bad.QRX"), {'Q', 'R', 'X', 0x35});
    qrx_test::write_bytes(dir.file("ok.QRX"), sample_stream(4, 2, 0));
    struct Case {
        std::string args;
        int status;
        std::string error;
    };
    const Case cases[] = {
        {"decode " + q(dir.file("none.QRX")), 2, "File Open false"},
        {"decode " + q(dir.file("bad.QRX")), 3, "This type of file can not be converted."},
        {"decode " + q(dir.file("ok.QRX")) + " -o " + q(dir.file("no/dir/x.wav")), 4, "Create Failed"},
        {"info " + q(dir.file("none.QRX")), 2, "cannot read"},
        {"info " + q(dir.file("bad.QRX")), 3, "not a QRX stream header"},
    };
    for (const Case &c : cases) {
        const std::string err = dir.file("err.txt");
        const Cli_run r = run_qrx(c.args, err);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_TRUE(r.out.empty()) << c.args;
        const Bytes e = qrx_test::read_bytes(err);
        EXPECT_NE(std::string(e.begin(), e.end()).find(c.error), std::string::npos) << c.args;
    }
    EXPECT_NE(run_qrx("").status, 0);
    EXPECT_NE(run_qrx("decode").status, 0);
}

TEST(Cli, InfoReportsHeaderFramesAndTrailingBytes) {
    qrx_test::Scratch_dir dir;
    qrx_test::write_bytes(dir.file("a.QRX"), sample_stream(6, 40, 11));
    const Cli_run r = run_qrx("info " + q(dir.file("a.QRX")));
    ASSERT_EQ(r.status, 0);
    for (const char *want : {"sample rate:  12000 Hz", "type:         6 (ADPCM 5 bits per sample)",
                             "frame_bytes:  150 bytes", "frames:       40", "duration:     0.800 s",
                             "trailing:     11 bytes", "header:       long, 16 bytes"})
        EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;

    qrx_test::write_bytes(dir.file("s.QRX"), {'Q', 'R', 'X', 0x00, 1, 2, 3});
    const Cli_run s = run_qrx("info " + q(dir.file("s.QRX")));
    ASSERT_EQ(s.status, 0);
    EXPECT_NE(s.out.find("header:       short, 4 bytes"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("trailing:     3 bytes"), std::string::npos) << s.out;
}

TEST(Cli, BundledSampleDecodes) {
    qrx_test::Scratch_dir dir;
    const std::string sample = std::string(QRXC_SAMPLES) + "/hello.QRX";
    const Cli_run r = run_qrx("decode -q " + q(sample) + " -o " + q(dir.file("hello.wav")));
    ASSERT_EQ(r.status, 0);
    const Bytes wav = qrx_test::read_bytes(dir.file("hello.wav"));
    const std::size_t frames = (qrx_test::read_bytes(sample).size() - 16) / 120;
    EXPECT_EQ(wav.size(), 46 + frames * 480);
}

#endif  // QRX_CLI
