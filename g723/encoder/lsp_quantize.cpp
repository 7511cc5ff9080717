// LPC-to-LSP conversion on a 256-point cosine grid and the predictive split
// vector quantiser of the LSP vector.
#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/tables.h"
#include "g723/encoder/analysis.h"

namespace g723 {

namespace {

constexpr Word32 POLY_ONE = 0x02000000;   // 1.0 with 25 fraction bits
constexpr int GRID_POINTS = 256;
constexpr Word32 WEIGHT_NUM = 0x100000;   // weight = 32 / gap in Q15
constexpr Word16 WEIGHT_MIN_GAP = 32;
constexpr Word16 LSP_PRED = 0x3000;       // 0.375 in Q15

// c[5] + c[4] cos(w) + ... + c[0] cos(5w) at w = pi j / 256.
Word32 eval_poly(const Word16 c[6], int j) {
    Word32 acc = 0;
    if (j == 0) {
        for (int k = 0; k <= 5; k++) acc = L_mac(acc, c[k], CosineTable[0]);
        return acc;
    }
    for (int m = 0; m <= 5; m++) acc = L_mac(acc, c[5 - m], CosineTable[(m * j) & 511]);
    return acc;
}

}  // namespace

void lpc_to_lsp(Word16 lsp[LPC_ORDER], const Word16 a[LPC_ORDER], const Word16 prev[LPC_ORDER]) {
    Word16 b[LPC_ORDER];
    for (int k = 0; k < LPC_ORDER; k++) b[k] = mult_r(a[k], BandExpTable[k]);

    Word32 P[6], Q[6];
    P[0] = Q[0] = POLY_ONE;
    for (int k = 0; k < 5; k++) {
        P[k + 1] = L_sub(L_sub(L_negate(P[k]), Word32{b[k]} * 4096), Word32{b[9 - k]} * 4096);
        Q[k + 1] = L_add(L_sub(Q[k], Word32{b[k]} * 4096), Word32{b[9 - k]} * 4096);
    }
    P[5] >>= 1;
    Q[5] >>= 1;

    Word32 mx = 0;
    for (int k = 0; k < 6; k++) {
        if (L_abs(P[k]) > mx) mx = L_abs(P[k]);
        if (L_abs(Q[k]) > mx) mx = L_abs(Q[k]);
    }
    const Word16 e = mx == 0 ? Word16{0} : norm_l(mx);
    Word16 polys[2][6];
    for (int k = 0; k < 6; k++) {
        polys[0][k] = round(P[k] << e);
        polys[1][k] = round(Q[k] << e);
    }

    int cur = 0;
    int found = 0;
    Word32 prev_val = eval_poly(polys[0], 0);
    for (int j = 1; j < GRID_POINTS; j++) {
        const Word32 v = eval_poly(polys[cur], j);
        if ((v < 0) == (prev_val < 0)) {
            prev_val = v;
            continue;
        }
        // Linear interpolation between j - 1 and j. Both magnitudes are below
        // 2^31, so their sum is exact in 32 unsigned bits.
        const std::uint32_t aa = static_cast<std::uint32_t>(L_abs(v));
        const std::uint32_t bb = static_cast<std::uint32_t>(L_abs(prev_val));
        const std::uint32_t s = aa + bb;
        int sh = 0;
        if (s != 0)
            while ((s << sh) < 0x40000000u) sh++;
        std::uint32_t f = ((bb << sh) >> 8) / ((s << sh) >> 16);
        f >>= 1;
        lsp[found] = add(static_cast<Word16>(f), shl(static_cast<Word16>(j - 1), 7));
        if (++found == LPC_ORDER) return;
        cur ^= 1;
        prev_val = eval_poly(polys[cur], j);
    }
    for (int k = 0; k < LPC_ORDER; k++) lsp[k] = prev[k];
}

Word32 lsp_split_vq(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER]) {
    const Word16 *books[3] = {&Band0Tb8[0][0], &Band1Tb8[0][0], &Band2Tb8[0][0]};
    Word32 result = 0;
    for (int band = 0; band < 3; band++) {
        const int start = BandInfoTable[band][0];
        const int len = BandInfoTable[band][1];
        const Word16 *book = books[band];
        int best = 0;
        Word32 best_score = -1;
        for (int i = 0; i < 256; i++) {
            const Word16 *c = book + i * len;
            Word16 t[4];
            for (int j = 0; j < len; j++) t[j] = mult_r(w[start + j], c[j]);
            Word32 acc = 0;
            for (int j = 0; j < len; j++) acc = L_mac(acc, r[start + j], t[j]);
            acc = L_shl(acc, 1);
            for (int j = 0; j < len; j++) acc = L_msu(acc, c[j], t[j]);
            if (acc > best_score) {
                best_score = acc;
                best = i;
            }
        }
        result = L_add(L_shl(result, 8), best);
    }
    return result;
}

Word32 lsp_quantize(Word16 lsp[LPC_ORDER], const Word16 prev[LPC_ORDER]) {
    Word16 gap[LPC_ORDER];
    gap[0] = sub(lsp[1], lsp[0]);
    gap[LPC_ORDER - 1] = sub(lsp[LPC_ORDER - 1], lsp[LPC_ORDER - 2]);
    for (int k = 1; k < LPC_ORDER - 1; k++) {
        const Word16 up = sub(lsp[k + 1], lsp[k]);
        const Word16 down = sub(lsp[k], lsp[k - 1]);
        gap[k] = up < down ? up : down;
    }

    Word16 w[LPC_ORDER];
    Word16 mx = 0;
    for (int k = 0; k < LPC_ORDER; k++) {
        w[k] = gap[k] > WEIGHT_MIN_GAP ? static_cast<Word16>(WEIGHT_NUM / gap[k]) : MAX_16;
        if (w[k] > mx) mx = w[k];
    }
    const Word16 e = norm_s(mx);
    for (int k = 0; k < LPC_ORDER; k++) w[k] = static_cast<Word16>(w[k] << e);

    for (int k = 0; k < LPC_ORDER; k++)
        lsp[k] = sub(sub(lsp[k], LspDcTable[k]), round(L_mult(sub(prev[k], LspDcTable[k]), LSP_PRED)));
    return lsp_split_vq(lsp, w);
}

}  // namespace g723
