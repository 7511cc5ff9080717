#include <gtest/gtest.h>

#include "common_support.h"
#include "conversion/wav_writer.h"

using qrxc::test::Bytes;

TEST(WavWriter, FinishedFileBytes) {
    struct Case {
        unsigned rate;
        std::vector<std::size_t> writes;
    };
    const Case cases[] = {
        {8000, {}},      // header only: 46 bytes, RIFF size 38
        {12000, {480}},  // 24000 bytes per second
        {16000, {640}},  // RIFF size 678, file 686
        {8000, {480, 480, 2}},
        {8000 + 65536, {4}},  // only the low 16 bits of the rate
    };
    qrxc::test::Scratch_dir dir;
    for (const Case &c : cases) {
        const std::string path = dir.file("out.wav");
        qrxc::Wav_writer w;
        w.set_format(c.rate);
        ASSERT_TRUE(w.open(path));
        Bytes all;
        std::uint32_t seed = 1;
        for (std::size_t n : c.writes) {
            const Bytes block = qrxc::test::noise_bytes(n, seed++);
            ASSERT_TRUE(w.write(block.data(), block.size()));
            all.insert(all.end(), block.begin(), block.end());
        }
        ASSERT_TRUE(w.close());
        EXPECT_EQ(qrxc::test::read_bytes(path), qrxc::test::wav_file(c.rate & 0xFFFF, all)) << c.rate;
    }
}

TEST(WavWriter, SizesReadZeroAndEighteenUntilClosed) {
    qrxc::test::Scratch_dir dir;
    const std::string path = dir.file("partial.wav");
    qrxc::Wav_writer w;
    w.set_format(8000);
    ASSERT_TRUE(w.open(path));
    const Bytes on_disk = qrxc::test::read_bytes(path);
    ASSERT_EQ(on_disk.size(), qrxc::WAV_HEADER_BYTES);
    EXPECT_EQ(Bytes(on_disk.begin() + 4, on_disk.begin() + 8), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Bytes(on_disk.begin() + 42, on_disk.end()), (Bytes{18, 0, 0, 0}));
    ASSERT_TRUE(w.close());
    EXPECT_FALSE(w.is_open());
    EXPECT_FALSE(w.close());
    const char x[2] = {1, 2};
    EXPECT_FALSE(w.write(x, 2));
}

TEST(WavWriter, OpenTruncatesOrRefusesAnExistingFile) {
    qrxc::test::Scratch_dir dir;
    const std::string path = dir.file("old.wav");
    qrxc::test::write_bytes(path, Bytes(5000, 0x11));
    qrxc::Wav_writer w;
    w.set_format(8000);
    EXPECT_FALSE(w.open(path, true));
    EXPECT_EQ(qrxc::test::read_bytes(path).size(), 5000u);
    ASSERT_TRUE(w.open(path));
    ASSERT_TRUE(w.close());
    EXPECT_EQ(qrxc::test::read_bytes(path), qrxc::test::wav_file(8000, {}));
}

TEST(WavWriter, FailuresReportFalse) {
    qrxc::test::Scratch_dir dir;
    qrxc::Wav_writer w;
    w.set_format(8000);
    EXPECT_FALSE(w.open(dir.file("missing/dir/x.wav")));
    EXPECT_FALSE(w.is_open());
    EXPECT_FALSE(w.write("ab", 2));
    EXPECT_FALSE(w.close());
    ASSERT_TRUE(w.open(dir.file("x.wav")));
    EXPECT_FALSE(w.write(nullptr, 2));
    EXPECT_TRUE(w.write(nullptr, 0));
    EXPECT_TRUE(w.close());
}
