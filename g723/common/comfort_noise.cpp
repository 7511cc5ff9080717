#include "g723/common/comfort_noise.h"

#include <cstdint>
#include <cstring>

#include "g723/common/basic_ops.h"
#include "g723/common/excitation.h"
#include "g723/common/tables.h"

namespace qrxc::g723 {

namespace {

constexpr std::uint32_t SID_KIND_BITS = 2;
constexpr int PAIR_LEN = 2 * SUBFRAME_LEN;  // the excitation is built two subframes at a time
constexpr int PAIR_PULSES = 11;             // pulses per pair: 6 + 5 at either rate
constexpr Word16 INV_PAIR_PULSES_Q15 = 2979;
constexpr Word16 PULSE_AMP_MAX = 10000;
constexpr Word16 ACB_FILTERS = 50;  // the first entries of the 170-vector gain table
constexpr Word16 LAG_BASE = 123;    // long lags: the history is never repeated within a subframe
constexpr Word16 LAG_OFFSETS[SUBFRAMES] = {1, 0, 1, 3};
constexpr int GRID_SLOTS = SUBFRAME_LEN / 2;

// The quantiser's three segments (16 steps of 2, 16 of 4, 32 of 8): the
// first code of each, and the energy where the next begins.
constexpr Word16 SEGMENT_BASE[3] = {0, 32, 96};
constexpr Word32 SEGMENT_END[3] = {2048, 18432, 231233};
// 32768 / 120 for the decoder's estimate; for the mean of n frame energies
// the scale of the energies over n frames.
constexpr Word16 ENERGY_SCALE_Q15[4] = {273, 998, 499, 333};

// Uniform in [0, n).
Word16 random_below(Word16 n, Word16 &seed) { return mult(static_cast<Word16>(rand16(seed) & 0x7fff), n); }

Word16 segment_level(int seg, Word16 step) { return add(SEGMENT_BASE[seg], shl(step, seg + 1)); }

// Adds 11 pulses of one amplitude and the given signs to the pair so that
// its energy becomes 120 gain^2 as near as the quadratic allows.
void add_pulses(Word16 pair[PAIR_LEN], const Word16 pos[PAIR_PULSES], const Word16 sign_q14[PAIR_PULSES],
                Word16 gain_q5) {
    Word16 peak = 0;
    for (int i = 0; i < PAIR_LEN; ++i) {
        const Word16 a = abs_s(pair[i]);
        if (a > peak) peak = a;
    }
    // Four bits of headroom, but never more than four bits up.
    Word16 sh = 0;
    if (peak != 0) {
        sh = sub(4, norm_s(peak));
        if (sh < -2) sh = -2;
    }
    Word16 scaled[PAIR_LEN];
    Word32 acb_energy = 0;
    for (int i = 0; i < PAIR_LEN; ++i) {
        scaled[i] = shr(pair[i], sh);
        acb_energy = L_mac(acb_energy, scaled[i], scaled[i]);
    }
    Word32 acc = 0;
    for (int i = 0; i < PAIR_PULSES; ++i) acc = L_mac(acc, scaled[pos[i]], sign_q14[i]);
    const Word16 cross = extract_h(L_shl(acc, 1));

    // Target energy 120 gain^2 at the scale of acb_energy; the gain is
    // first multiplied by 60 and scaled down so the square cannot overflow.
    const Word16 gain60 = extract_l(L_shr(L_mult(gain_q5, SUBFRAME_LEN), 6));
    const Word32 target = L_shr(L_mult(gain60, gain_q5), add(shl(sh, 1), 4));

    // x^2 + 2 b x + c = 0 with c = (acb energy - target) / 11.
    const Word32 c = mult_32_16(L_sub(acb_energy, target), INV_PAIR_PULSES_Q15);
    const Word16 b = mult_r(cross, INV_PAIR_PULSES_Q15);
    const Word32 delta = L_negate(L_msu(c, b, b));
    Word16 x;
    if (delta <= 0) {
        x = negate(b);
    } else {
        // The root of smaller magnitude.
        const Word16 d = fixed_sqrt(delta);
        x = sub(d, b);
        const Word16 other = add(b, d);
        if (abs_s(other) < abs_s(x)) x = negate(other);
    }
    Word16 amp = shl(x, add(sh, 1));
    if (amp > PULSE_AMP_MAX) amp = PULSE_AMP_MAX;
    if (amp < -PULSE_AMP_MAX) amp = -PULSE_AMP_MAX;
    for (int i = 0; i < PAIR_PULSES; ++i) pair[pos[i]] = add(pair[pos[i]], mult(amp, sign_q14[i]));
}

}  // namespace

Word16 sid_gain_quantize(const Word16 *energy, const Word16 *shift, int count) {
    Word32 x = 0;
    if (count == 0) {
        // Twice the mean energy of the estimate's 120 samples.
        const Word32 e = L_shl(L_deposit_l(energy[0]), sub(16, shl(shift[0], 1)));
        x = mult_32_16(e, ENERGY_SCALE_Q15[0]);
    } else {
        Word16 sh = shift[0];
        for (int i = 1; i < count; ++i)
            if (shift[i] < sh) sh = shift[i];
        for (int i = 0; i < count; ++i) {
            const Word16 t = mult_r(ENERGY_SCALE_Q15[count], shr(energy[i], sub(shift[i], sh)));
            x = L_add(x, L_deposit_l(t));
        }
        x = L_shl(x, sub(15, sh));
    }
    if (x >= SEGMENT_END[2]) return 63;

    int seg = 0;
    int steps = 3;
    if (x >= SEGMENT_END[1]) {
        seg = 2;
        steps = 4;
    } else if (x >= SEGMENT_END[0]) {
        seg = 1;
    }
    // Binary search for the step, then the nearer of its two neighbours.
    Word16 j = static_cast<Word16>(1 << steps);
    Word16 k = shr(j, 1);
    for (int i = 0; i < steps; ++i) {
        const Word16 t = segment_level(seg, j);
        j = x >= L_mult(t, t) ? add(j, k) : sub(j, k);
        k = shr(k, 1);
    }
    const Word16 t = segment_level(seg, j);
    const Word32 above = L_sub(L_mult(t, t), x);
    const auto code = [seg](Word16 step) { return add(static_cast<Word16>(seg << 4), step); };
    if (above <= 0) {
        const Word16 j2 = add(j, 1);
        const Word16 t2 = segment_level(seg, j2);
        const Word32 below = L_sub(x, L_mult(t2, t2));
        return above > below ? code(j) : code(j2);
    }
    const Word16 j2 = sub(j, 1);
    const Word16 t2 = segment_level(seg, j2);
    const Word32 below = L_sub(x, L_mult(t2, t2));
    return above < below ? code(j) : code(j2);
}

Sid_params sid_unpack(const unsigned char in[4]) {
    const std::uint32_t w =
        std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
    return {static_cast<Word32>((w >> 2) & 0xffffffu), static_cast<Word16>(w >> 26)};
}

void sid_pack(const Sid_params &p, unsigned char out[4]) {
    const std::uint32_t w = SID_KIND_BITS | (static_cast<std::uint32_t>(p.lsp_index) & 0xffffffu) << 2 |
                            (static_cast<std::uint32_t>(p.gain_index) & 0x3fu) << 26;
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(w >> (8 * i));
}

Word16 sid_gain_decode(Word16 index) {
    int seg = shr(index, 4);
    if (seg == 3) seg = 2;
    const Word16 step = sub(index, static_cast<Word16>(seg << 4));
    return shl(segment_level(seg, step), 5);
}

Cng_acb cng_excitation(Word16 gain_q5, Word16 hist[ACB_LAG_MAX], Word16 out[FRAME_LEN], Word16 &seed) {
    // The draws come in a fixed order: lags, filters, signs and grids, positions.
    Cng_acb acb{};
    Word16 *ol_lag = acb.ol_lag;
    Word16 *acb_gain = acb.acb_gain;
    ol_lag[0] = add(random_below(21, seed), LAG_BASE);
    ol_lag[1] = add(random_below(19, seed), LAG_BASE);
    for (int s = 0; s < SUBFRAMES; ++s) acb_gain[s] = add(random_below(ACB_FILTERS, seed), 1);
    for (int s = 0; s < SUBFRAMES; ++s) acb.lag_offset[s] = LAG_OFFSETS[s];

    Word16 grid_offset[SUBFRAMES];
    Word16 sign_q14[2 * PAIR_PULSES];
    for (int pair = 0; pair < 2; ++pair) {
        Word16 t = random_below(1 << (PAIR_PULSES + 2), seed);
        grid_offset[2 * pair] = static_cast<Word16>(t & 1);
        t = shr(t, 1);
        grid_offset[2 * pair + 1] = add(SUBFRAME_LEN, static_cast<Word16>(t & 1));
        for (int i = 0; i < PAIR_PULSES; ++i) {
            sign_q14[PAIR_PULSES * pair + i] = shl(sub(static_cast<Word16>(t & 2), 1), 14);
            t = shr(t, 1);
        }
    }
    // Positions on the subframe's grid, drawn without repetition.
    Word16 pos[2 * PAIR_PULSES];
    for (int s = 0, n = 0; s < SUBFRAMES; ++s) {
        Word16 slots[GRID_SLOTS];
        for (int i = 0; i < GRID_SLOTS; ++i) slots[i] = static_cast<Word16>(i);
        Word16 left = GRID_SLOTS;
        for (int i = 0; i < Nb_puls[s]; ++i) {
            const Word16 j = random_below(left, seed);
            pos[n++] = add(shl(slots[j], 1), grid_offset[s]);
            left = sub(left, 1);
            slots[j] = slots[left];
        }
    }

    Word16 buf[ACB_LAG_MAX + FRAME_LEN];
    std::memcpy(buf, hist, sizeof(Word16) * ACB_LAG_MAX);
    for (int pair = 0; pair < 2; ++pair) {
        Word16 *cur = buf + ACB_LAG_MAX + PAIR_LEN * pair;
        for (int h = 0; h < 2; ++h) {
            const int s = 2 * pair + h;
            // Lags this long take the 170-vector gain table at both rates.
            acb_excitation(cur + SUBFRAME_LEN * h, cur + SUBFRAME_LEN * h - ACB_LAG_MAX, ol_lag[pair], LAG_OFFSETS[s],
                           acb_gain[s], RATE_63);
        }
        add_pulses(cur, pos + PAIR_PULSES * pair, sign_q14 + PAIR_PULSES * pair, gain_q5);
    }
    std::memcpy(out, buf + ACB_LAG_MAX, sizeof(Word16) * FRAME_LEN);
    std::memcpy(hist, buf + FRAME_LEN, sizeof(Word16) * ACB_LAG_MAX);
    return acb;
}

}  // namespace qrxc::g723
