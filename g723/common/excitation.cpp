#include "g723/common/excitation.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

void acb_history(Word16 out[64], const Word16 hist[ACB_LAG_MAX], Word16 lag) {
    out[0] = hist[ACB_LAG_MAX - 2 - lag];
    out[1] = hist[ACB_LAG_MAX - 1 - lag];
    // Lags shorter than the subframe repeat the last lag samples.
    for (int k = 0, m = 0; k < 62; ++k) {
        out[2 + k] = hist[ACB_LAG_MAX - lag + m];
        if (++m == lag) m = 0;
    }
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void acb_excitation_body(Word16 out[SUBFRAME_LEN], const Word16 hist[ACB_LAG_MAX], Word16 ol_lag,
                                          Word16 lag_offset, Word16 acb_gain, int rate_select) {
    Word16 r[64];
    acb_history(r, hist, static_cast<Word16>(ol_lag + lag_offset - 1));
    const Word16 *g =
        (rate_select == RATE_63 && ol_lag < SHORT_LAG) ? AcbkGainTable085[acb_gain] : AcbkGainTable170[acb_gain];
    five_taps(out, r, g);
}

QRXC_AVX2_TWIN(void, acb_excitation, acb_excitation_body,
               (Word16 out[SUBFRAME_LEN], const Word16 hist[ACB_LAG_MAX], Word16 ol_lag, Word16 lag_offset,
                Word16 acb_gain, int rate_select),
               (out, hist, ol_lag, lag_offset, acb_gain, rate_select))

}  // namespace

void acb_excitation(Word16 out[SUBFRAME_LEN], const Word16 hist[ACB_LAG_MAX], Word16 ol_lag, Word16 lag_offset,
                    Word16 acb_gain, int rate_select) {
    QRXC_DISPATCH(acb_excitation, acb_excitation_body, out, hist, ol_lag, lag_offset, acb_gain, rate_select)
}

void fcb_decode(Word16 out[SUBFRAME_LEN], const Subframe_params &sub, Word16 ol_lag, Word16 subframe, int rate_select) {
    if (rate_select == RATE_53) {
        Word16 t[64] = {};
        const Word16 gain = FcbkGainTable[sub.fcb_gain];
        auto p = static_cast<unsigned>(sub.pulse_pos);
        auto s = static_cast<unsigned>(sub.pulse_signs);
        for (int k = 0; k < 4; ++k) {
            const unsigned pos = static_cast<unsigned>(sub.grid & 1) + 2u * k + 8u * (p & 7u);
            t[pos] = (s & 1u) ? gain : static_cast<Word16>(-gain);
            p >>= 3;
            s >>= 1;
        }
        for (int n = 0; n < SUBFRAME_LEN; ++n) out[n] = t[n];

        Word16 beta = 0;
        const Word16 lag = acelp_lag_gain(static_cast<Word16>(ol_lag + sub.lag_offset - 1), sub.acb_gain, beta);
        if (lag > 0 && lag < SHORT_LAG)
            for (int n = lag; n < SUBFRAME_LEN; ++n) out[n] = add(out[n], mult(out[n - lag], beta));
        return;
    }
    if (rate_select != RATE_63) return;

    for (int n = 0; n < SUBFRAME_LEN; ++n) out[n] = 0;
    const Word16 gain = FcbkGainTable[sub.fcb_gain];
    const int npulses = Nb_puls[subframe];
    if (sub.pulse_pos >= MaxPosTable[subframe]) return;

    // Combinatorial position code over the 30 positions of the grid; the
    // first (lowest) pulse takes sign bit N-1, a set bit means negative.
    Word32 a = sub.pulse_pos;
    int row = 6 - npulses;
    int bit = npulses;
    // Without branches on the pulses, which no predictor guesses. The
    // entries are non-negative: a pulse is where a - entry goes negative,
    // which a negative a (none from a frame) keeps doing to the end, as
    // with the saturating steps.
    for (int i = 0; i < 30; ++i) {
        const std::int64_t d = std::int64_t{a} - CombinatorialTable[row][i];
        const int hit = d < 0 ? 1 : 0;
        a = hit ? a : static_cast<Word32>(d);
        row += hit;
        bit -= hit;
        const Word16 v = ((sub.pulse_signs >> bit) & 1) ? static_cast<Word16>(-gain) : gain;
        out[(sub.grid & 1) + 2 * i] = hit ? v : Word16{0};
        if (row == 6) break;
    }
    if (sub.train == 1) pulse_train(out, out, ol_lag);
}

void pulse_train(Word16 dst[SUBFRAME_LEN], const Word16 src[SUBFRAME_LEN], Word16 lag) {
    Word16 c[SUBFRAME_LEN];
    for (int n = 0; n < SUBFRAME_LEN; ++n) c[n] = src[n];
    for (int n = 0; n < SUBFRAME_LEN; ++n) dst[n] = c[n];
    if (lag <= 0) return;  // no period to repeat at (callers pass 18 or more)
    // Each copy adds the original pulses, not the accumulated result.
    for (Word16 d = lag; d < SUBFRAME_LEN; d = add(d, lag))
        for (int n = d; n < SUBFRAME_LEN; ++n) dst[n] = add(dst[n], c[n - d]);
}

Word16 acelp_lag_gain(Word16 base_lag, Word16 acb_gain, Word16 &beta) {
    beta = Gain170[acb_gain];
    return static_cast<Word16>(base_lag + Epsi170[acb_gain]);
}

}  // namespace qrxc::g723
