#include "codec/rate_converter.h"

#include <cstdint>
#include <cstring>

namespace qrxc {

namespace {

constexpr int TAPS = 33;
// Q15 low-pass at one eighth of the intermediate rate, DC gain about 0.997.
constexpr short RC_FILTER[TAPS] = {-3,    -46,  -86,   -87,   5,     196,  379,  360,  -15,  -676,  -1245,
                                   -1159, 23,   2285,  5032,  7291,  8164, 7291, 5032, 2285, 23,    -1159,
                                   -1245, -676, -15,   360,   379,   196,  5,    -87,  -86,  -46,   -3};
constexpr int RC_DOWN_GAIN = 17890;  // Q14, about 1.092, downward direction only
constexpr int BLOCK = 960;           // input samples converted per pass
constexpr int MAX_FACTOR = 8;

short saturate(std::int64_t v) { return static_cast<short>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

// Zero-stuffs n inputs by `up`, filters, keeps every `keep`-th intermediate
// sample. Only the kept samples are computed and only the non-zero line
// entries are summed: the line holds an input every `up` entries, the rest
// are the stuffed zeros.
void convert(short line[TAPS], int up, int keep, bool extra_gain, const short *src, short *dst, int n) {
    if (up < 1 || keep < 1 || up > MAX_FACTOR || keep > MAX_FACTOR || n <= 0 || src == nullptr || dst == nullptr)
        return;
    const std::int64_t total_out = (std::int64_t{up} * n) / keep;
    std::int64_t m = 0;  // next output
    short h[TAPS + MAX_FACTOR * BLOCK];  // line oldest first, then this block's intermediate samples
    for (int i0 = 0; i0 < n; i0 += BLOCK) {
        const int nb = n - i0 < BLOCK ? n - i0 : BLOCK;
        const int len = up * nb;
        for (int k = 0; k < TAPS; ++k) h[TAPS - 1 - k] = line[k];
        std::memset(h + TAPS, 0, sizeof(short) * static_cast<size_t>(len));
        for (int i = 0; i < nb; ++i) h[TAPS + up * i] = src[i0 + i];  // all inputs read before any output

        const std::int64_t t0 = std::int64_t{up} * i0;  // intermediate index of this block's first sample
        for (; m < total_out && m * keep < t0 + len; ++m) {
            const int t = static_cast<int>(m * keep - t0);
            const short *newest = h + TAPS + t;
            std::int32_t acc = 0;
            for (int k = t % up; k < TAPS; k += up) acc += RC_FILTER[k] * newest[-k];
            std::int64_t v = (std::int64_t{up} * acc) >> 15;
            if (extra_gain) v = (v * RC_DOWN_GAIN) >> 14;
            dst[m] = saturate(v);
        }
        for (int k = 0; k < TAPS; ++k) line[k] = h[TAPS + len - 1 - k];
    }
}

}  // namespace

void rc_reset(Rate_converter &rc, int num, int den) {
    rc.rc_num = num;
    rc.rc_den = den;
    std::memset(rc.up_line, 0, sizeof rc.up_line);
    std::memset(rc.down_line, 0, sizeof rc.down_line);
}

void rc_down(Rate_converter &rc, const short *src, short *dst, int n) {
    convert(rc.down_line, rc.rc_num, rc.rc_den, true, src, dst, n);
}

void rc_up(Rate_converter &rc, const short *src, short *dst, int n) {
    convert(rc.up_line, rc.rc_den, rc.rc_num, false, src, dst, n);
}

}  // namespace qrxc
