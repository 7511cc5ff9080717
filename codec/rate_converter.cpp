#include "codec/rate_converter.h"

#include <algorithm>
#include <bit>
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
// The outputs of a block from its start, whole periods of UP outputs (KEEP
// inputs) at a time, as convert's loop computes them one by one: output o
// of period g sums branch (KEEP o) mod UP against the window that starts
// KEEP g + (KEEP o) div UP inputs after w. With the inputs dealt into KEEP
// streams (stream r holding w[KEEP j + r]), each tap of each output is one
// pass over the periods that reads a stream contiguously, so the sums
// vectorise. Returns the number of periods done: as many as the block's
// inputs and the outputs still owed allow.
template <int UP, int KEEP, typename Emit>
int grouped_outputs(const short branch[MAX_FACTOR][TAPS], const short *w, int nb, std::int64_t owed, bool extra_gain,
                    short *dst, const Emit &emit) {
    constexpr int NT = (TAPS + UP - 1) / UP;
    constexpr int MAX_GROUPS = BLOCK / KEEP;
    constexpr int SPAN = (NT + KEEP - 2 + KEEP) / KEEP;  // stream entries a window reaches past its period
    const int groups = static_cast<int>(std::min<std::int64_t>(nb / KEEP, owed / UP));
    if (groups <= 0) return 0;
    short streams[KEEP][MAX_GROUPS + SPAN + 1];
    const int have = nb + NT - 1;  // w's valid entries
    for (int r = 0; r < KEEP; ++r) {
        const int n = std::min(groups + SPAN + 1, (have - r + KEEP - 1) / KEEP);
        for (int j = 0; j < n; ++j) streams[r][j] = w[KEEP * j + r];
        for (int j = n; j < groups + SPAN + 1; ++j) streams[r][j] = 0;
    }
    std::int32_t acc[MAX_GROUPS];
    for (int o = 0; o < UP; ++o) {
        const short *c = branch[(KEEP * o) % UP];
        const short *in[NT];
        for (int i = 0; i < NT; ++i) {
            const int k = (KEEP * o) / UP + i;
            in[i] = streams[k % KEEP] + k / KEEP;
        }
        for (int g = 0; g < groups; ++g) {
            std::int32_t sum = 0;
            for (int i = 0; i < NT; ++i) sum += c[i] * in[i][g];
            acc[g] = sum;
        }
        if constexpr ((UP & (UP - 1)) == 0) {
            // (UP acc) >> 15 is a plain shift of acc when UP is a power of two.
            constexpr int SHIFT = 15 - std::countr_zero(static_cast<unsigned>(UP));
            if (!extra_gain) {
                for (int g = 0; g < groups; ++g) dst[UP * g + o] = saturate(acc[g] >> SHIFT);
                continue;
            }
        }
        for (int g = 0; g < groups; ++g) dst[UP * g + o] = emit(acc[g]);
    }
    return groups;
}

// UP and KEEP fix the factors at compile time (0: take them from up_rt and
// keep_rt), so that the 4:3 pair's branches have a known length and unroll.
template <int UP, int KEEP>
void convert_as(short line[TAPS], int up_rt, int keep_rt, bool extra_gain, const short *src, short *dst, int n) {
    const int up = UP != 0 ? UP : up_rt;
    const int keep = KEEP != 0 ? KEEP : keep_rt;
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
        const auto emit = [&](std::int32_t acc) {
            std::int64_t v = (std::int64_t{up} * acc) >> 15;
            if (extra_gain) v = (v * RC_DOWN_GAIN) >> 14;
            return saturate(v);
        };
        if constexpr (UP != 0 && KEEP != 0) {
            if (t == 0) {
                const int groups = grouped_outputs<UP, KEEP>(branch, x + TAPS - (nt - 1), nb, total_out - m, extra_gain,
                                                             dst + m, emit);
                m += std::int64_t{UP} * groups;
                t += UP * KEEP * groups;
            }
        }
        int p = t % up;
        int q = t / up;  // newest input under the filter
        for (; m < total_out && t < len; ++m) {
            const short *w = x + TAPS + q - (nt - 1);
            const short *c = branch[p];
            std::int32_t acc = 0;
            for (int i = 0; i < nt; ++i) acc += c[i] * w[i];
            dst[m] = emit(acc);
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

void convert(short line[TAPS], int up, int keep, bool extra_gain, const short *src, short *dst, int n) {
    if (up < 1 || keep < 1 || up > MAX_FACTOR || keep > MAX_FACTOR || n <= 0 || src == nullptr || dst == nullptr)
        return;
    if (up == 3 && keep == 4) return convert_as<3, 4>(line, up, keep, extra_gain, src, dst, n);
    if (up == 4 && keep == 3) return convert_as<4, 3>(line, up, keep, extra_gain, src, dst, n);
    convert_as<0, 0>(line, up, keep, extra_gain, src, dst, n);
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
