#include "codec/rate_converter.h"

#include <cstdint>
#include <cstring>

namespace qrxc {

namespace {

constexpr int TAPS = 33;
// Q15 low-pass at one eighth of the intermediate rate, DC gain about 0.997.
constexpr short RC_FILTER[TAPS] = {-3,    -46,  -86,  -87,  5,    196,  379,  360,  -15,  -676, -1245,
                                   -1159, 23,   2285, 5032, 7291, 8164, 7291, 5032, 2285, 23,   -1159,
                                   -1245, -676, -15,  360,  379,  196,  5,    -87,  -86,  -46,  -3};
constexpr int RC_DOWN_GAIN = 17890;  // Q14, about 1.092, downward direction only
constexpr int BLOCK = 960;           // input samples converted per pass
constexpr int MAX_FACTOR = 8;

short saturate(std::int64_t v) { return static_cast<short>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

// Zero-stuffs n inputs by `up`, filters, keeps every `keep`-th intermediate
// sample. Only the kept samples are computed and only the taps that meet
// input samples are summed (the line holds an input every `up` entries, the
// stuffed zeros in between), so each output is a short dot product of one
// polyphase branch of the filter with consecutive input samples.
void convert(short line[TAPS], int up, int keep, bool extra_gain, const short *src, short *dst, int n) {
    if (up < 1 || keep < 1 || up > MAX_FACTOR || keep > MAX_FACTOR || n <= 0 || src == nullptr || dst == nullptr)
        return;
    const int nt = (TAPS + up - 1) / up;  // taps per branch, shorter branches padded with 0
    short branch[MAX_FACTOR][TAPS] = {};  // branch[p][i] multiplies the input nt - 1 - i back
    for (int p = 0; p < up; ++p)
        for (int j = 0; p + up * j < TAPS; ++j) branch[p][nt - 1 - j] = RC_FILTER[p + up * j];

    // Past inputs, oldest first, then this block's; the stuffed line holds
    // the input j back at entry up - 1 + up * j.
    short x[TAPS + BLOCK];
    for (int j = 0; j < TAPS; ++j) {
        const int k = up - 1 + up * j;
        x[TAPS - 1 - j] = k < TAPS ? line[k] : short{0};
    }

    const std::int64_t total_out = (std::int64_t{up} * n) / keep;
    std::int64_t m = 0;  // next output
    for (int i0 = 0; i0 < n; i0 += BLOCK) {
        const int nb = n - i0 < BLOCK ? n - i0 : BLOCK;
        const int len = up * nb;
        for (int i = 0; i < nb; ++i) x[TAPS + i] = src[i0 + i];  // all inputs read before any output

        int t = static_cast<int>(m * keep - std::int64_t{up} * i0);  // intermediate index within the block
        int p = t % up;
        int q = t / up;  // newest input under the filter
        for (; m < total_out && t < len; ++m) {
            const short *w = x + TAPS + q - (nt - 1);
            const short *c = branch[p];
            std::int32_t acc = 0;
            for (int i = 0; i < nt; ++i) acc += c[i] * w[i];
            std::int64_t v = (std::int64_t{up} * acc) >> 15;
            if (extra_gain) v = (v * RC_DOWN_GAIN) >> 14;
            dst[m] = saturate(v);
            t += keep;
            p += keep;
            while (p >= up) {
                p -= up;
                ++q;
            }
        }
        // Keep the newest TAPS inputs as the next block's history.
        std::memmove(x, x + nb, sizeof(short) * TAPS);
    }
    for (int k = 0; k < TAPS; ++k) line[k] = (k % up == up - 1) ? x[TAPS - 1 - (k - (up - 1)) / up] : short{0};
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
