// LPC-to-LSP conversion: the roots of the sum and difference polynomials,
// searched on a 256-point cosine grid.
#include "g723/encoder/lpc_to_lsp.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"

namespace qrxc::g723 {

namespace {

constexpr Word32 POLY_ONE = 0x02000000;  // 1.0 with 25 fraction bits
constexpr int GRID_POINTS = 256;

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

// cos(m pi j / 256) as eval_poly reads it, for every grid point j, so that
// one polynomial's values over the whole grid are six passes the compiler
// vectorises.
struct Cos_grid {
    Word16 cos[6][GRID_POINTS];
};

Cos_grid make_cos_grid() {
    Cos_grid g{};
    // The index steps by m around the table's one period: clang 14
    // vectorised the form with (m * j) & 511 into loads past the table's end.
    for (int m = 0; m <= 5; m++)
        for (int j = 0, at = 0; j < GRID_POINTS; j++, at = (at + m) & 511) g.cos[m][j] = CosineTable[at];
    return g;
}

const Cos_grid COS_GRID = make_cos_grid();

// eval_poly at every grid point. The chain of L_mac steps is its plain sum
// wherever every partial sum s, undoubled, lies in [-2^30, 2^30): then no
// step saturates (nor a product, with no coefficient at -32768), and each
// new partial sum is formed without overflow from one that did. A point
// where one falls outside has the sign bit of s + 2^30 set at that step;
// it takes the chain itself, as does point 0, whose chain runs in the
// other order.
void eval_grid(Word32 out[GRID_POINTS], const Word16 c[6]) {
    bool plain = !PLAIN_OPS;
    for (int k = 0; k < 6; k++) plain = plain && c[k] != MIN_16;
    if (!plain) {
        for (int j = 0; j < GRID_POINTS; j++) out[j] = eval_poly(c, j);
        return;
    }
    std::uint32_t sum[GRID_POINTS] = {}, outside[GRID_POINTS] = {};
    for (int m = 0; m <= 5; m++) {
        const Word32 cc = c[5 - m];
        for (int j = 0; j < GRID_POINTS; j++) {
            sum[j] += static_cast<std::uint32_t>(cc * COS_GRID.cos[m][j]);
            outside[j] |= sum[j] + 0x40000000u;
        }
    }
    out[0] = eval_poly(c, 0);
    for (int j = 1; j < GRID_POINTS; j++)
        out[j] = (outside[j] & 0x80000000u) != 0 ? eval_poly(c, j) : static_cast<Word32>(2 * sum[j]);
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

    Word32 grid[2][GRID_POINTS];
    eval_grid(grid[0], polys[0]);
    eval_grid(grid[1], polys[1]);
    int cur = 0;
    int found = 0;
    Word32 prev_val = grid[0][0];
    for (int j = 1; j < GRID_POINTS; j++) {
        const Word32 v = grid[cur][j];
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
        prev_val = grid[cur][j];
    }
    for (int k = 0; k < LPC_ORDER; k++) lsp[k] = prev[k];
}

}  // namespace qrxc::g723
