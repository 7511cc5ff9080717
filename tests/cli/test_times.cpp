// Recording dates through qrx and the converter: outputs take their input's
// modification time, date tags only when asked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "common_support.h"
#include "conversion/conversion_job.h"

#ifdef QRX_CLI

namespace {

using qrxc::test::quoted;

// 2021-03-04 05:06:07 UTC, and a nanosecond part a copy must keep.
constexpr std::time_t RECORDED = 1614834367;
constexpr long RECORDED_NS = 123456789;

void set_mtime(const std::string &path) {
    const struct timespec t[2] = {{RECORDED, RECORDED_NS}, {RECORDED, RECORDED_NS}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), t, 0), 0) << path;
}

struct timespec mtime_of(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim;
}

class Quiet_ui : public qrxc::Job_ui {
public:
    void message(const std::string &) override {}
    void progress(int) override {}
};

}  // namespace

TEST(CliTimes, EveryOutputTakesItsInputsTime) {
    const qrxc::test::Scratch_dir dir;
    const std::string qrx = dir.file("rec.QRX");
    qrxc::test::write_bytes(qrx,
                            qrxc::test::read_bytes(std::string(QRXC_TEST_DATA) + "/conformance/decode/OVERD53.QRX"));
    set_mtime(qrx);
    // Each step reads what an earlier one wrote, so every input carries the time.
    struct Case {
        std::string args, output;
        bool kept;
    };
    const Case cases[] = {
        {"decode -q " + quoted(qrx), "rec.wav", true},
        {"decode -q --format flac " + quoted(qrx), "rec.flac", true},
        {"speed -q --level 2 " + quoted(qrx) + " -o " + quoted(dir.file("fast.wav")), "fast.wav", true},
        {"encode -q -t 2 " + quoted(dir.file("rec.wav")) + " -o " + quoted(dir.file("again.QRX")), "again.QRX", true},
        {"export -q " + quoted(qrx), "rec.g723", true},
        {"import -q " + quoted(dir.file("rec.g723")) + " -o " + quoted(dir.file("back.QRX")), "back.QRX", true},
        {"decode -q " + quoted(dir.file("rec.g723")) + " -o " + quoted(dir.file("std.wav")), "std.wav", true},
        {"export -q --pcap " + quoted(dir.file("call.pcap")) + " " + quoted(qrx), "call.pcap", true},
        {"decode -q " + quoted(dir.file("call.pcap")) + " -o " + quoted(dir.file("call.wav")), "call.wav", true},
        {"decode -q -y --no-preserve-time " + quoted(qrx), "rec.wav", false},
        {"export -q -y --no-preserve-time " + quoted(qrx), "rec.g723", false},
    };
    for (const Case &c : cases) {
        const auto run = qrxc::test::run_tool(c.args);
        ASSERT_EQ(run.status, 0) << c.args << "\n" << run.err;
        const struct timespec t = mtime_of(dir.file(c.output));
        if (c.kept) {
            EXPECT_EQ(t.tv_sec, RECORDED) << c.args;
            EXPECT_EQ(t.tv_nsec, RECORDED_NS) << c.args;
        } else {
            EXPECT_GT(t.tv_sec, RECORDED + 86400) << c.args;
        }
    }

    // The dialog's conversion keeps it too.
    Quiet_ui ui;
    ASSERT_EQ(qrxc::Conversion_job(qrx, dir.file("dialog.wav"), ui).run(), qrxc::Job_result::success);
    EXPECT_EQ(mtime_of(dir.file("dialog.wav")).tv_sec, RECORDED);

    const auto info = qrxc::test::run_tool("info --json " + quoted(qrx));
    EXPECT_NE(info.out.find("\"mtime\": \"2021-03-04T05:06:07Z\""), std::string::npos) << info.out;
    EXPECT_NE(qrxc::test::run_tool("info --json - < " + quoted(qrx)).out.find("\"mtime\": \"2021-03-04T05:06:07Z\""),
              std::string::npos);
}

TEST(CliTimes, DateTagsOnlyWhenAsked) {
    const qrxc::test::Scratch_dir dir;
    const std::string qrx = dir.file("rec.QRX");
    qrxc::test::write_bytes(qrx,
                            qrxc::test::read_bytes(std::string(QRXC_TEST_DATA) + "/conformance/decode/OVERD53.QRX"));
    set_mtime(qrx);
    const std::string date = "2021-03-04T05:06:07Z";
    ASSERT_EQ(qrxc::test::run_tool("decode -q " + quoted(qrx) + " -o " + quoted(dir.file("plain.wav"))).status, 0);
    ASSERT_EQ(qrxc::test::run_tool("decode -q --tag-date " + quoted(qrx) + " -o " + quoted(dir.file("tag.wav"))).status,
              0);
    ASSERT_EQ(
        qrxc::test::run_tool("decode -q --tag-date " + quoted(qrx) + " -o " + quoted(dir.file("tag.flac"))).status, 0);

    // The tagged WAV is the plain one, sizes aside, with LIST/INFO/ICRD after the data.
    const qrxc::test::Bytes plain = qrxc::test::read_bytes(dir.file("plain.wav"));
    const qrxc::test::Bytes tagged = qrxc::test::read_bytes(dir.file("tag.wav"));
    ASSERT_EQ(tagged.size(), plain.size() + 20 + date.size() + 1 + 1);
    EXPECT_TRUE(std::equal(plain.begin() + 8, plain.end(), tagged.begin() + 8));
    const std::string tail(tagged.begin() + static_cast<long>(plain.size()), tagged.end());
    EXPECT_EQ(tail.substr(0, 4), "LIST");
    EXPECT_EQ(tail.substr(8, 8), "INFOICRD");
    EXPECT_EQ(tail.substr(20, date.size()), date);
    SF_INFO wav_info{};
    SNDFILE *wav = sf_open(dir.file("tag.wav").c_str(), SFM_READ, &wav_info);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(wav_info.frames * 2, static_cast<sf_count_t>(plain.size() - 46));
    sf_close(wav);

    SF_INFO flac_info{};
    SNDFILE *flac = sf_open(dir.file("tag.flac").c_str(), SFM_READ, &flac_info);
    ASSERT_NE(flac, nullptr);
    const char *got = sf_get_string(flac, SF_STR_DATE);
    EXPECT_EQ(got != nullptr ? std::string(got) : std::string(), date);
    sf_close(flac);
}

#endif
