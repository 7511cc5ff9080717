// Frame layout: pack/unpack round trips at both rates and every bad-frame rule.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "g723/common/frame.h"

namespace {

using qrxc::g723::Frame_params;
using qrxc::g723::RATE_53;
using qrxc::g723::RATE_63;

using Bytes = std::array<unsigned char, 24>;

// A record with every coded field random within its valid range.
Frame_params random_valid(std::mt19937 &rng, int rate) {
    auto r = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Frame_params p{};
    p.lsp_index = r(0, 0xffffff);
    p.ol_lag[0] = static_cast<Word16>(r(18, 141));
    p.ol_lag[1] = static_cast<Word16>(r(18, 141));
    for (int i = 0; i < 4; ++i) {
        auto &s = p.sub[i];
        s.lag_offset = static_cast<Word16>((i & 1) ? r(0, 3) : 1);
        const bool short_lag = rate == RATE_63 && p.ol_lag[i / 2] < 58;
        s.acb_gain = static_cast<Word16>(r(0, short_lag ? 84 : 169));
        s.fcb_gain = static_cast<Word16>(r(0, 23));
        s.grid = static_cast<Word16>(r(0, 1));
        s.train = static_cast<Word16>(short_lag ? r(0, 1) : 0);
        if (rate == RATE_63) {
            s.pulse_signs = static_cast<Word16>(r(0, (i & 1) ? 31 : 63));
            const int low_bits = (i & 1) ? 14 : 16;
            s.pulse_pos = (r(0, (i & 1) ? 8 : 9) << low_bits) + r(0, (1 << low_bits) - 1);
        } else {
            s.pulse_signs = static_cast<Word16>(r(0, 15));
            s.pulse_pos = r(0, 0xfff);
        }
    }
    return p;
}

void expect_same_coded_fields(const Frame_params &a, const Frame_params &b) {
    EXPECT_EQ(b.bad_frame, 0);
    EXPECT_EQ(a.lsp_index, b.lsp_index);
    EXPECT_EQ(a.ol_lag[0], b.ol_lag[0]);
    EXPECT_EQ(a.ol_lag[1], b.ol_lag[1]);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.sub[i].lag_offset, b.sub[i].lag_offset);
        EXPECT_EQ(a.sub[i].acb_gain, b.sub[i].acb_gain);
        EXPECT_EQ(a.sub[i].fcb_gain, b.sub[i].fcb_gain);
        EXPECT_EQ(a.sub[i].grid, b.sub[i].grid);
        EXPECT_EQ(a.sub[i].train, b.sub[i].train);
        EXPECT_EQ(a.sub[i].pulse_signs, b.sub[i].pulse_signs);
        EXPECT_EQ(a.sub[i].pulse_pos, b.sub[i].pulse_pos);
    }
}

TEST(Frame, RandomValidRecordsSurviveRoundTrip) {
    std::mt19937 rng(2024);
    for (int rate : {RATE_63, RATE_53}) {
        for (int n = 0; n < 50000; ++n) {
            const Frame_params p = random_valid(rng, rate);
            Bytes b;
            b.fill(0xa5);
            qrxc::g723::frame_pack(p, rate, b.data());
            if (rate == RATE_53) {
                for (int k = 20; k < 24; ++k) ASSERT_EQ(b[k], 0);
            } else {
                ASSERT_EQ(b[12] & 1, 0);
            }
            expect_same_coded_fields(p, qrxc::g723::frame_unpack(b.data(), rate, 0));
            if (HasFailure()) return;
        }
    }
}

TEST(Frame, RandomGoodFramesRepackToTheirBytes) {
    std::mt19937 rng(7);
    int good = 0;
    for (int rate : {RATE_63, RATE_53}) {
        for (int n = 0; n < 50000; ++n) {
            Bytes b{};
            for (int k = 0; k < (rate == RATE_63 ? 24 : 20); ++k) b[k] = static_cast<unsigned char>(rng());
            b[3] %= 124;  // lag codes in range, so most frames are good
            b[4] %= 124;
            if (rate == RATE_63) b[12] &= 0xfe;  // the unused bit packs as 0
            const Frame_params p = qrxc::g723::frame_unpack(b.data(), rate, 0);
            if (p.bad_frame != 0) continue;
            ++good;
            Bytes again;
            qrxc::g723::frame_pack(p, rate, again.data());
            ASSERT_EQ(again, b) << "rate " << rate << " frame " << n;
        }
    }
    EXPECT_GT(good, 50000);
}

TEST(Frame, ZeroFrameIsGood) {
    for (int rate : {RATE_63, RATE_53}) {
        const Bytes zero{};
        const Frame_params p = qrxc::g723::frame_unpack(zero.data(), rate, 0);
        EXPECT_EQ(p.bad_frame, 0);
        EXPECT_EQ(p.lsp_index, 0);
        EXPECT_EQ(p.ol_lag[0], 18);
        EXPECT_EQ(p.ol_lag[1], 18);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(p.sub[i].lag_offset, (i & 1) ? 0 : 1);
            EXPECT_EQ(p.sub[i].acb_gain, 0);
            EXPECT_EQ(p.sub[i].fcb_gain, 0);
            EXPECT_EQ(p.sub[i].train, 0);
            EXPECT_EQ(p.sub[i].grid, 0);
        }
    }
}

// Writes gain code g of subframe 0 into bytes 5 and 6.
void set_g0(Bytes &b, unsigned g) {
    b[5] = static_cast<unsigned char>((b[5] & 0x0f) | ((g & 0xf) << 4));
    b[6] = static_cast<unsigned char>(g >> 4);
}
// Writes gain code g of subframe 3 into bytes 10 and 11.
void set_g3(Bytes &b, unsigned g) {
    b[10] = static_cast<unsigned char>(g);
    b[11] = static_cast<unsigned char>((b[11] & 0xf0) | ((g >> 8) & 0xf));
}

TEST(Frame, BadFrameRules) {
    struct Case {
        const char *what;
        int rate;
        int lag_byte3, lag_byte4;
        unsigned g0, g3;
        bool bad;
        int acb0, fcb0, train0;
    };
    const Case cases[] = {
        {"lag byte 3 = 123 is the largest lag", RATE_53, 123, 0, 0, 0, false, 0, 0, 0},
        {"lag byte 3 = 124", RATE_53, 124, 0, 0, 0, true, 0, 0, 0},
        {"lag byte 3 = 255", RATE_63, 255, 0, 0, 0, true, 0, 0, 0},
        {"lag byte 4 = 124", RATE_63, 0, 124, 0, 0, true, 0, 0, 0},
        {"lag byte 4 = 200", RATE_53, 0, 200, 0, 0, true, 0, 0, 0},
        {"5.3: gain code 4079 is index 169", RATE_53, 0, 0, 4079, 0, false, 169, 23, 0},
        {"5.3: gain code 4080 is index 170", RATE_53, 0, 0, 4080, 0, true, 0, 0, 0},
        {"5.3: bit 11 is part of the index", RATE_53, 0, 0, 0x800 + 5, 0, false, 85, 13, 0},
        {"5.3: the last subframe is checked too", RATE_53, 0, 0, 0, 4095, true, 0, 0, 0},
        {"6.3: lag 57 with train", RATE_63, 39, 100, 0x800 + 2039, 0, false, 84, 23, 1},
        {"6.3: lag 57, index 85", RATE_63, 39, 100, 0x800 + 2040, 0, true, 0, 0, 0},
        {"6.3: lag 57, index 85 without train", RATE_63, 39, 100, 2040, 0, true, 0, 0, 0},
        {"6.3: lag 58, code 4087 is index 170", RATE_63, 40, 100, 0x800 + 2039, 0, true, 0, 0, 0},
        {"6.3: lag 58, index 169", RATE_63, 40, 100, 169 * 24 + 7, 0, false, 169, 7, 0},
        {"6.3: second pair uses its own lag", RATE_63, 100, 39, 0, 0x800 + 2040, true, 0, 0, 0},
        {"6.3: second pair short lag with train", RATE_63, 100, 39, 0, 0x800 + 2039, false, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b{};
        b[3] = static_cast<unsigned char>(c.lag_byte3);
        b[4] = static_cast<unsigned char>(c.lag_byte4);
        set_g0(b, c.g0);
        set_g3(b, c.g3);
        const Frame_params p = qrxc::g723::frame_unpack(b.data(), c.rate, 0);
        EXPECT_EQ(p.bad_frame, c.bad ? 1 : 0);
        if (!c.bad) {
            EXPECT_EQ(p.ol_lag[0], c.lag_byte3 + 18);
            EXPECT_EQ(p.sub[0].acb_gain, c.acb0);
            EXPECT_EQ(p.sub[0].fcb_gain, c.fcb0);
            EXPECT_EQ(p.sub[0].train, c.train0);
        }
    }
}

TEST(Frame, ErasedFlagWinsOverContent) {
    const Bytes zero{};
    EXPECT_EQ(qrxc::g723::frame_unpack(zero.data(), RATE_63, 1).bad_frame, 1);
    EXPECT_EQ(qrxc::g723::frame_unpack(zero.data(), RATE_53, 3).bad_frame, 3);
}

TEST(Frame, CombinedPositionCode) {
    struct Case {
        unsigned t;
        int h0, h1, h2, h3;
    };
    const Case cases[] = {{0, 0, 0, 0, 0}, {8099, 9, 8, 9, 8}, {8191, 10, 1, 0, 1}, {810 + 90 + 9 + 1, 1, 1, 1, 1}};
    for (const Case &c : cases) {
        for (int reserved : {0, 1}) {
            Bytes b{};
            b[12] = static_cast<unsigned char>(((c.t & 0x7f) << 1) | static_cast<unsigned>(reserved));
            b[13] = static_cast<unsigned char>(c.t >> 7);
            const Frame_params p = qrxc::g723::frame_unpack(b.data(), RATE_63, 0);
            EXPECT_EQ(p.bad_frame, 0);
            EXPECT_EQ(p.sub[0].pulse_pos, c.h0 << 16) << c.t;
            EXPECT_EQ(p.sub[1].pulse_pos, c.h1 << 14) << c.t;
            EXPECT_EQ(p.sub[2].pulse_pos, c.h2 << 16) << c.t;
            EXPECT_EQ(p.sub[3].pulse_pos, c.h3 << 14) << c.t;
        }
    }
    // The largest high parts survive the packer.
    Frame_params p{};
    p.ol_lag[0] = p.ol_lag[1] = 18;
    p.sub[0].pulse_pos = (9 << 16) + 0xffff;
    p.sub[1].pulse_pos = (8 << 14) + 0x3fff;
    p.sub[2].pulse_pos = (9 << 16) + 1;
    p.sub[3].pulse_pos = (8 << 14) + 2;
    Bytes b;
    qrxc::g723::frame_pack(p, RATE_63, b.data());
    const Frame_params q = qrxc::g723::frame_unpack(b.data(), RATE_63, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(q.sub[i].pulse_pos, p.sub[i].pulse_pos);
}

TEST(Frame, KnownBytesAtFiveThree) {
    Frame_params p{};
    p.lsp_index = 0x123456;
    p.ol_lag[0] = 141;
    p.ol_lag[1] = 18;
    p.sub[1].lag_offset = 3;
    p.sub[3].lag_offset = 2;
    p.sub[0].acb_gain = 169;
    p.sub[0].fcb_gain = 23;  // gain code 0xfef
    p.sub[2].grid = 1;
    p.sub[0].pulse_signs = 0x5;
    p.sub[1].pulse_signs = 0xa;
    p.sub[0].pulse_pos = 0xabc;
    p.sub[3].pulse_pos = 0x123;
    Bytes b;
    qrxc::g723::frame_pack(p, RATE_53, b.data());
    const Bytes want = {0x56, 0x34, 0x12, 123,  0, 0xfb, 0xfe, 0,    0, 0, 0, 0x40,
                        0xa5, 0,    0xbc, 0x0a, 0, 0,    0x30, 0x12, 0, 0, 0, 0};
    EXPECT_EQ(b, want);
}

}  // namespace
