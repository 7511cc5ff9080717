// Windowed autocorrelation LPC analysis and the sine-wave detector fed by
// the second reflection coefficient.
#include "g723/encoder/lpc_analysis.h"

#include <bit>
#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

constexpr int WHITE_NOISE_SHIFT = 10;  // r[0] * 1025/1024
constexpr Word16 SINE_THRESHOLD = Q15(0.95);

}  // namespace

Word16 levinson_durbin(Word16 a[LPC_ORDER], const Word16 corr[LPC_ORDER], Word16 err, Word16 &k2) {
    for (int i = 0; i < LPC_ORDER; i++) a[i] = 0;
    k2 = 0x7fff;
    for (int i = 0; i < LPC_ORDER; i++) {
        Word32 acc = Word32{corr[i]} * (1 << 14);
        for (int j = 0; j < i; j++) acc = L_msu(acc, a[j], corr[i - 1 - j]);
        acc = L_shl(acc, 2);
        const Word32 m = L_abs(acc);
        // Also stops on a non-positive error: the recursion has lost stability.
        if (m >= Word32{err} * 65536) {
            k2 = 0x7fff;
            return err;
        }
        Word16 k = div_32_16(m, err);
        if (acc >= 0) k = negate(k);
        if (i == 1) k2 = k;
        a[i] = static_cast<Word16>((negate(k) + 2) >> 2);
        err = round(L_add(mult_32_16(acc, k), Word32{err} * 65536));
        if (i > 0) {
            Word16 old[LPC_ORDER];
            for (int j = 0; j < i; j++) old[j] = a[j];
            for (int j = 0; j < i; j++) a[j] = round(L_mac(Word32{old[j]} * 65536, k, old[i - 1 - j]));
        }
    }
    return err;
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void lpc_analysis_body(Enc_state &st, Word16 lpc[SUBFRAMES * LPC_ORDER], const Word16 frame[FRAME_LEN],
                                        Word16 *acf, Word16 *acf_shift) {
    Word16 d[LPC_HIST + FRAME_LEN];
    for (int i = 0; i < LPC_HIST; i++) d[i] = st.prev_dat[i];
    for (int i = 0; i < FRAME_LEN; i++) d[LPC_HIST + i] = frame[i];

    for (int k = 0; k < SUBFRAMES; k++) {
        Word16 v[LPC_WIN];
        for (int i = 0; i < LPC_WIN; i++) v[i] = d[SUBFRAME_LEN * k + i];
        const Word16 norm = vector_normalize(v, LPC_WIN);
        for (int i = 0; i < LPC_WIN; i++) v[i] = mult_r(v[i], HammingWindowTable[i]);

        // The terms are never negative, so the saturating sum of the plain
        // squares is the exact sum clamped.
        const std::int64_t e64 = sum_squares(v, LPC_WIN);
        Word32 energy = PLAIN_OPS ? products_steps(v, v, LPC_WIN) : e64 > MAX_32 ? MAX_32 : static_cast<Word32>(e64);
        energy = L_add(energy, energy >> WHITE_NOISE_SHIFT);

        Word16 r[LPC_ORDER + 1] = {};
        Word16 r_shift = 40;  // a silent window
        if (energy != 0) {
            const Word16 e = norm_l(energy);
            r_shift = add(e, shl(norm, 1));
            r[0] = round(energy << e);
            for (int i = 1; i <= LPC_ORDER; i++) {
                const Word32 c = products_known(&v[i], v, LPC_WIN - i, e64, e64);
                r[i] = round(mult_32_16(c << e, BinomialWindowTable[i - 1]));
            }
        }

        if (acf != nullptr) {
            for (int i = 0; i <= LPC_ORDER; i++) acf[(LPC_ORDER + 1) * k + i] = r[i];
            acf_shift[k] = r_shift;
        }

        Word16 k2 = 0;
        levinson_durbin(&lpc[LPC_ORDER * k], &r[1], r[0], k2);

        st.sine_det = static_cast<Word16>(static_cast<std::uint16_t>(st.sine_det) << 1);
        if (k2 > SINE_THRESHOLD) st.sine_det = static_cast<Word16>(st.sine_det + 1);
    }

    st.sine_det = static_cast<Word16>(st.sine_det & 0x7fff);
    if (std::popcount(static_cast<std::uint16_t>(st.sine_det)) >= 14)
        st.sine_det = static_cast<Word16>(st.sine_det | 0x8000);
}

QRXC_AVX2_TWIN(void, lpc_analysis, lpc_analysis_body,
               (Enc_state & st, Word16 lpc[SUBFRAMES * LPC_ORDER], const Word16 frame[FRAME_LEN], Word16 *acf,
                Word16 *acf_shift),
               (st, lpc, frame, acf, acf_shift))

}  // namespace

void lpc_analysis(Enc_state &st, Word16 lpc[SUBFRAMES * LPC_ORDER], const Word16 frame[FRAME_LEN], Word16 *acf,
                  Word16 *acf_shift) {
    QRXC_DISPATCH(lpc_analysis, lpc_analysis_body, st, lpc, frame, acf, acf_shift)
}

}  // namespace qrxc::g723
