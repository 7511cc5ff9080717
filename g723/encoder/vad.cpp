#include "g723/encoder/vad.h"

#include "g723/common/basic_ops.h"

namespace qrxc::g723 {

namespace {

constexpr Word16 HANGOVER = 6;
constexpr Word16 START_HANGOVER = 3;
constexpr Word32 START_LEVEL = 0x400;
constexpr Word32 LEVEL_MIN = 0x80;
constexpr Word32 LEVEL_MAX = 0x1ffff;
constexpr Word16 ADAPT_HOLD_MAX = 6;
constexpr Word16 RESIDUAL_SCALE_Q15 = 2913;
// Threshold over noise level, by the level's normalisation shift.
constexpr Word16 THRESHOLD_SCALE[11] = {9170, 9170, 9170, 9170, 10289, 11544, 12953, 14533, 16306, 18296, 20529};

// All four lags are within 3 of multiples of the shortest: voiced speech or a tone.
bool periodic(const Word16 lags[4]) {
    Word16 shortest = ACB_LAG_MAX;
    for (int i = 0; i < 4; ++i)
        if (lags[i] < shortest) shortest = lags[i];
    int hits = 0;
    for (int i = 0; i < 4; ++i) {
        Word16 m = shortest;
        for (int j = 0; j < 8; ++j) {
            if (abs_s(sub(m, lags[i])) <= 3) ++hits;
            m = add(m, shortest);
        }
    }
    return hits == 4;
}

}  // namespace

void vad_reset(Vad_state &v) {
    v = Vad_state{};
    v.hangover = START_HANGOVER;
    v.prev_energy = START_LEVEL;
    v.noise_level = START_LEVEL;
    v.ol_lags[0] = v.ol_lags[1] = 1;
    v.ol_lags[2] = v.ol_lags[3] = SUBFRAME_LEN;
}

bool vad_frame(Vad_state &v, const Enc_state &st, const Word16 frame[FRAME_LEN]) {
    if (periodic(v.ol_lags) || st.sine_det < 0)
        v.adapt_hold = static_cast<Word16>(v.adapt_hold + 2);
    else
        --v.adapt_hold;
    if (v.adapt_hold > ADAPT_HOLD_MAX) v.adapt_hold = ADAPT_HOLD_MAX;
    if (v.adapt_hold < 0) v.adapt_hold = 0;

    // Energy of the last three subframes through the noise's inverse filter.
    Word32 energy = 0;
    for (int i = SUBFRAME_LEN; i < FRAME_LEN; ++i) {
        Word32 acc = L_mult(frame[i], Q(13, 1.0));
        for (int j = 0; j < LPC_ORDER; ++j) acc = L_msu(acc, frame[i - j - 1], v.noise_lpc_q13[j]);
        const Word16 r = round(acc);
        energy = L_mac(energy, r, r);
    }
    energy = mult_32_16(energy, RESIDUAL_SCALE_Q15);

    // The level never stays above the last frame's energy; it creeps up
    // while adaptation is allowed and decays slowly otherwise.
    if (v.noise_level > v.prev_energy)
        v.noise_level = L_add(L_sub(v.prev_energy, L_shr(v.prev_energy, 2)), L_shr(v.noise_level, 2));
    if (v.adapt_hold == 0)
        v.noise_level = L_add(v.noise_level, L_shr(v.noise_level, 5));
    else
        v.noise_level = L_sub(v.noise_level, L_shr(v.noise_level, 11));
    v.prev_energy = energy;
    if (v.noise_level < LEVEL_MIN) v.noise_level = LEVEL_MIN;
    if (v.noise_level > LEVEL_MAX) v.noise_level = LEVEL_MAX;

    // Threshold: the level times a factor interpolated by its magnitude.
    Word32 acc = L_shl(v.noise_level, 13);
    const Word16 e = norm_l(acc);
    acc = L_shl(acc, e);
    acc = (acc & 0x3f000000) << 1;
    const Word16 frac = extract_h(acc);
    acc = L_deposit_h(THRESHOLD_SCALE[e]);
    acc = L_mac(acc, frac, THRESHOLD_SCALE[e - 1]);
    acc = L_msu(acc, frac, THRESHOLD_SCALE[e]);
    const Word16 factor = extract_h(acc);
    const Word32 threshold = L_mult(extract_l(L_shr(v.noise_level, 2)), factor) >> 11;

    bool active = threshold <= energy;
    if (active) {
        ++v.voiced_run;
        ++v.hangover;
    } else if (--v.voiced_run < 0) {
        v.voiced_run = 0;
    }
    if (v.voiced_run >= 2) {
        v.hangover = HANGOVER;
        if (v.voiced_run >= 3) v.voiced_run = 3;
    }
    if (v.hangover != 0) {
        active = true;
        if (v.voiced_run == 0) --v.hangover;
    }

    v.ol_lags[0] = v.ol_lags[2];
    v.ol_lags[1] = v.ol_lags[3];
    return active;
}

}  // namespace qrxc::g723
