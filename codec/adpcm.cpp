#include "codec/adpcm.h"

namespace qrxc {
namespace {

// G.726's decision and reconstruction levels (log2 domain, 1/128 units) and
// scale-factor multipliers W(I). W for 4 bits is stored unscaled (x32 at use).
constexpr std::int16_t DECISION_3[3] = {8, 218, 331};
constexpr std::int16_t DECISION_4[7] = {-124, 80, 178, 246, 300, 349, 400};
constexpr std::int16_t DECISION_5[15] = {-122, -16, 68, 139, 198, 250, 298, 339, 378, 413, 445, 475, 502, 528, 553};
// -2048 stands for a zero difference.
constexpr std::int16_t RECON_3[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr std::int16_t RECON_4[16] = {-2048, 4, 135, 213, 273, 323, 373, 425, 425, 373, 323, 273, 213, 135, 4, -2048};
constexpr std::int16_t RECON_5[32] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395,  429,
                                      459,   488, 514, 539, 566, 566, 539, 514, 488, 459,  429,
                                      395,   358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr std::int16_t SCALE_W_3[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr std::int16_t SCALE_W_4[16] = {-12, 18, 41, 64, 112, 198, 355, 1122, 1122, 355, 198, 112, 64, 41, 18, -12};
constexpr std::int16_t SCALE_W_5[32] = {448,  448,   768,   1248,  1280,  1312,  1856,  3200,  4512,  5728, 7008,
                                        8960, 11456, 14080, 16928, 22272, 22272, 16928, 14080, 11456, 8960, 7008,
                                        5728, 4512,  3200,  1856,  1312,  1280,  1248,  768,   448,   448};

constexpr int Y_MIN = 544;
constexpr int Y_MAX = 5120;

constexpr std::int16_t wrap16(int x) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(x)); }

// The predictor's arithmetic is modular 32-bit: done in uint32_t so that
// overflow is defined and gives the same bits.
constexpr std::int32_t mul32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
constexpr std::int32_t add32(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t sgn15(std::int32_t x) { return x >> 15; }

// Q14 leak: a coefficient times 32640/32768 (1 - 2^-8).
constexpr std::int32_t leak(std::int32_t c) { return mul32(c, 32640) >> 15; }

int adapt_scale(const Adpcm_width &w, int y, int code) {
    const int target = w.scale_w[code] * w.scale_w_factor;
    y += (target - y) >> 5;
    if (y < Y_MIN) return Y_MIN;
    if (y > Y_MAX) return Y_MAX;
    return y;
}

}  // namespace

const Adpcm_width ADPCM_WIDTH_3 = {3, DECISION_3, 3, RECON_3, SCALE_W_3, 1, 4, 7};
const Adpcm_width ADPCM_WIDTH_4 = {4, DECISION_4, 7, RECON_4, SCALE_W_4, 32, 8, 15};
const Adpcm_width ADPCM_WIDTH_5 = {5, DECISION_5, 15, RECON_5, SCALE_W_5, 1, 16, 31};

const Adpcm_width *adpcm_width(int bits) {
    switch (bits) {
    case 3: return &ADPCM_WIDTH_3;
    case 4: return &ADPCM_WIDTH_4;
    case 5: return &ADPCM_WIDTH_5;
    default: return nullptr;
    }
}

void adpcm_load(Adpcm_state &s) {
    s = Adpcm_state{};
    s.enc3.y = s.enc4.y = s.enc5.y = Y_MIN;
    s.dec3.y = s.dec4.y = s.dec5.y = Y_MIN;
}

int expand_ulaw(int byte) {
    const int u = ~byte & 0xFF;
    const int t = ((u & 15) * 8 + 132) << ((u >> 4) & 7);
    return (u & 0x80) != 0 ? 132 - t : t - 132;
}

int expand_alaw(int byte) {
    const int a = (byte ^ 0x55) & 0xFF;
    int t = (a & 15) * 16;
    const int seg = (a >> 4) & 7;
    if (seg == 0)
        t += 8;
    else if (seg == 1)
        t += 264;
    else
        t = (t + 264) << (seg - 1);
    return (a & 0x80) != 0 ? t : -t;
}

int log2_exponent(int x) {
    for (int e = 0; e < 14; ++e)
        if ((1 << e) > x) return e;
    return 14;
}

int level_index(int value, const std::int16_t *table, int n) {
    int i = 0;
    while (i < n && table[i] <= value) ++i;
    return i;
}

int code_from_diff(int d, int y, const std::int16_t *table, int n) {
    const std::int16_t d16 = wrap16(d);
    const int dqm = d16 < 0 ? wrap16(-d16) : d16;  // -32768 stays -32768
    const int exp = log2_exponent(dqm >> 1);
    const int mant = ((dqm * 128) >> exp) & 127;
    const int dl = exp * 128 + mant;
    const int dln = wrap16(dl - (y >> 2));
    const int i = level_index(dln, table, n);
    if (d16 < 0) return 2 * n + 1 - i;
    return i == 0 ? 2 * n + 1 : i;
}

int diff_from_code(int sign, int recon, int y) {
    const int dql = recon + (y >> 2);
    if (wrap16(dql) < 0) return 0;
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    // dex is at most 14 while y stays within its limits; a larger one would
    // shift everything out.
    const int shift = 14 - dex;
    const int dq = shift >= 0 ? wrap16((dqt << 7) >> shift) : 0;
    return sign != 0 ? -dq : dq;
}

int predictor_step(Adpcm_predictor &P, std::int16_t dq) {
    P.dq0 = dq;
    P.sr = add32(dq, P.se);
    P.p = add32(dq, P.sez);

    const bool same1 = sgn15(P.p) == sgn15(P.p1);
    const bool same2 = sgn15(P.p) == sgn15(P.p2);

    std::int32_t f = P.a1 * 4;
    if (f > 32767) f = 32767;
    if (f < -32768) f = -32768;
    if (same1) f = -f;
    if (f > 32767) f = 32767;

    P.a2 = (mul32(P.a2, 32512) >> 15) + (same2 ? 128 : -128) + (f >> 7);
    if (P.a2 > 12288) P.a2 = 12288;
    if (P.a2 < -12288) P.a2 = -12288;

    P.a1 = leak(P.a1) + (same1 ? 192 : -192);
    if (P.a1 > 15360 - P.a2)
        P.a1 = 15360 - P.a2;
    else if (P.a1 < P.a2 - 15360)
        P.a1 = P.a2 - 15360;

    // Sign-sign adaptation of the zeros against the history before this sample.
    const std::int32_t t = dq != 0 ? 128 : 0;
    const std::int32_t sdq = sgn15(dq);
    auto adapt = [&](std::int32_t b, std::int32_t hist) { return leak(b) + (sgn15(hist) == sdq ? t : -t); };
    P.b1 = adapt(P.b1, P.dq1);
    P.b2 = adapt(P.b2, P.dq2);
    P.b3 = adapt(P.b3, P.dq3);
    P.b4 = adapt(P.b4, P.dq4);
    P.b5 = adapt(P.b5, P.dq5);
    P.b6 = adapt(P.b6, P.dq6);

    P.dq6 = P.dq5;
    P.dq5 = P.dq4;
    P.dq4 = P.dq3;
    P.dq3 = P.dq2;
    P.dq2 = P.dq1;
    P.dq1 = P.dq0;
    P.sr2 = P.sr1;

    P.sep = add32(mul32(P.a1, P.sr) >> 14, mul32(P.a2, P.sr2) >> 14);

    std::int32_t sez = mul32(P.b1, P.dq1) >> 14;
    sez = add32(sez, mul32(P.b2, P.dq2) >> 14);
    sez = add32(sez, mul32(P.b3, P.dq3) >> 14);
    sez = add32(sez, mul32(P.b4, P.dq4) >> 14);
    sez = add32(sez, mul32(P.b5, P.dq5) >> 14);
    sez = add32(sez, mul32(P.b6, P.dq6) >> 14);
    P.sez = sez;

    P.p2 = P.p1;
    P.sr1 = P.sr;
    P.p1 = P.p;

    P.se = add32(P.sez, P.sep);
    return P.se;
}

int adpcm_encode(const Adpcm_width &w, Adpcm_coder &c, Adpcm_predictor &p, int sample, int law) {
    int sl = 0;
    switch (law) {
    case LAW_LINEAR: sl = sample; break;
    case LAW_ULAW: sl = expand_ulaw(sample); break;
    case LAW_ALAW: sl = expand_alaw(sample); break;
    default: return -1;
    }
    const int d = wrap16((sl >> 2) - c.se);
    const int code = code_from_diff(d, c.y, w.decision, w.decision_count);
    const int dq = diff_from_code(code & w.sign_bit, w.recon[code], c.y);
    c.y = static_cast<std::int16_t>(adapt_scale(w, c.y, code));
    c.se = wrap16(predictor_step(p, static_cast<std::int16_t>(dq)));
    return code;
}

int adpcm_decode(const Adpcm_width &w, Adpcm_coder &c, Adpcm_predictor &p, int code) {
    const int i = code & w.mask;
    const int dq = diff_from_code(i & w.sign_bit, w.recon[i], c.y);
    c.y = static_cast<std::int16_t>(adapt_scale(w, c.y, i));
    const int sr = wrap16(c.se + dq);
    c.se = wrap16(predictor_step(p, static_cast<std::int16_t>(dq)));
    // Only the final scaling saturates; sr itself has wrapped.
    const int out = sr * 4;
    if (out > 32767) return 32767;
    if (out < -32768) return -32768;
    return out;
}

int adpcm_encode_3(Adpcm_state &s, int sample, int law) {
    return adpcm_encode(ADPCM_WIDTH_3, s.enc3, s.pred, sample, law);
}
int adpcm_encode_4(Adpcm_state &s, int sample, int law) {
    return adpcm_encode(ADPCM_WIDTH_4, s.enc4, s.pred, sample, law);
}
int adpcm_encode_5(Adpcm_state &s, int sample, int law) {
    return adpcm_encode(ADPCM_WIDTH_5, s.enc5, s.pred, sample, law);
}
std::int16_t adpcm_decode_3(Adpcm_state &s, int code) {
    return static_cast<std::int16_t>(adpcm_decode(ADPCM_WIDTH_3, s.dec3, s.pred, code));
}
std::int16_t adpcm_decode_4(Adpcm_state &s, int code) {
    return static_cast<std::int16_t>(adpcm_decode(ADPCM_WIDTH_4, s.dec4, s.pred, code));
}
std::int16_t adpcm_decode_5(Adpcm_state &s, int code) {
    return static_cast<std::int16_t>(adpcm_decode(ADPCM_WIDTH_5, s.dec5, s.pred, code));
}

}  // namespace qrxc
