// Harmonic noise shaping: the lag and gain search around the open-loop
// pitch, and the shaping filter.
#include "g723/encoder/noise_shaping.h"

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

constexpr int HNS_CANDIDATES = 7;  // lags olp-3 .. olp+3
constexpr Word16 HNS_MAX_GAIN = Q15(0.3125);
constexpr int HIST = ACB_LAG_MAX;  // harmonic filter history length

}  // namespace

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY Hns_params hns_search_body(const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp) {
    const Word16 *x = &buf[start];
    Word32 vals[1 + 2 * HNS_CANDIDATES];
    vals[0] = energy_sat(x, SUBFRAME_LEN);
    for (int k = 0; k < HNS_CANDIDATES; k++) {
        const Word16 *cand = &buf[start - (olp - 3 + k)];
        vals[1 + 2 * k] = energy_sat(cand, SUBFRAME_LEN);
        vals[2 + 2 * k] = L_mac_n(0, x, cand, SUBFRAME_LEN);
    }
    Word32 mx = 0;
    for (const Word32 v : vals)
        if (L_abs(v) > mx) mx = L_abs(v);
    const Word16 e = mx == 0 ? Word16{0} : norm_l(mx);
    Word16 n[1 + 2 * HNS_CANDIDATES];
    for (int i = 0; i < 1 + 2 * HNS_CANDIDATES; i++) n[i] = round(vals[i] << e);

    int best = -1;
    Word16 bcr = 1;
    Word16 ben = 0x7fff;
    for (int k = 0; k < HNS_CANDIDATES; k++) {
        const Word16 c = n[2 + 2 * k];
        const Word16 en = n[1 + 2 * k];
        if (c <= 0) continue;
        const Word16 cc = round(L_mult(c, c));
        if (L_sub(L_mult(ben, cc), L_mult(en, bcr)) > 0) {
            best = k;
            bcr = cc;
            ben = en;
        }
    }
    if (best < 0) return {olp, 0};

    Hns_params out{static_cast<Word16>(olp - 3 + best), 0};
    const Word16 cbest = n[2 + 2 * best];
    const Word32 prod = Word32{n[0]} * ben;
    Word32 a = (prod >> 2) + (prod >> 1);
    a = L_sub(a, L_mult(cbest, cbest));
    if (a < 0) {
        out.gain_q15 = cbest >= ben ? HNS_MAX_GAIN : round(L_mult(div_s(cbest, ben), HNS_MAX_GAIN));
    }
    return out;
}

QRXC_AVX2_TWIN(Hns_params, hns_search, hns_search_body, (const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp),
               (buf, start, olp))

}  // namespace

Hns_params hns_search(const Word16 buf[PITCH_BUF_LEN], int start, Word16 olp) {
    QRXC_DISPATCH(hns_search, hns_search_body, buf, start, olp)
}

void hns_filter(Word16 frame[FRAME_LEN], const Word16 buf[PITCH_BUF_LEN], const Hns_params hns[SUBFRAMES]) {
    for (int i = 0; i < SUBFRAMES; i++) {
        for (int j = 0; j < SUBFRAME_LEN; j++) {
            const int n = SUBFRAME_LEN * i + j;
            frame[n] = round(L_msu(L_deposit_h(buf[HIST + n]), hns[i].gain_q15, buf[HIST + n - hns[i].lag]));
        }
    }
}

}  // namespace qrxc::g723
