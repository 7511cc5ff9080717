#include "g723/common/lsp.h"

#include "g723/common/basic_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

namespace qrxc::g723 {

namespace {

constexpr int STABILITY_PASSES = 10;
constexpr Word16 LSP_LOW = 0x180;    // lowest first LSP
constexpr Word16 LSP_HIGH = 0x7e00;  // highest last LSP

// Adjacent LSPs closer than the separation less a small tolerance.
bool unstable(const Word16 lsp[LPC_ORDER], Word16 sep) {
    for (int j = 1; j < LPC_ORDER; ++j)
        if (sub(sub(add(lsp[j - 1], sep), 4), lsp[j]) > 0) return true;
    return false;
}

}  // namespace

void lsp_dequantize(Word16 lsp_out[LPC_ORDER], Word16 prev_lsp[LPC_ORDER], Word32 lsp_index, Word16 bad) {
    Word16 sep = 0x100;
    Word16 pred = 0x3000;  // 0.375
    if (bad != 0) {
        // A lost frame leans harder on the previous vector and spaces wider.
        lsp_index = 0;
        sep = 0x200;
        pred = 0x5c00;  // 0.71875
    }

    const Word16 *books[3] = {&Band0Tb8[0][0], &Band1Tb8[0][0], &Band2Tb8[0][0]};
    for (int b = 2; b >= 0; --b) {
        const int row = lsp_index & 0xff;
        lsp_index >>= 8;
        const int first = BandInfoTable[b][0];
        const int count = BandInfoTable[b][1];
        for (int k = 0; k < count; ++k) lsp_out[first + k] = books[b][row * count + k];
    }

    for (int j = 0; j < LPC_ORDER; ++j) prev_lsp[j] = sub(prev_lsp[j], LspDcTable[j]);
    for (int j = 0; j < LPC_ORDER; ++j) lsp_out[j] = add(lsp_out[j], mult_r(prev_lsp[j], pred));
    for (int j = 0; j < LPC_ORDER; ++j) {
        prev_lsp[j] = add(prev_lsp[j], LspDcTable[j]);
        lsp_out[j] = add(lsp_out[j], LspDcTable[j]);
    }

    bool stable = false;
    for (int pass = 0; pass < STABILITY_PASSES && !stable; ++pass) {
        if (lsp_out[0] < LSP_LOW) lsp_out[0] = LSP_LOW;
        if (lsp_out[LPC_ORDER - 1] > LSP_HIGH) lsp_out[LPC_ORDER - 1] = LSP_HIGH;
        for (int j = 1; j < LPC_ORDER; ++j) {
            Word16 d = sub(add(sep, lsp_out[j - 1]), lsp_out[j]);
            if (d > 0) {
                d = static_cast<Word16>(d >> 1);
                lsp_out[j - 1] = sub(lsp_out[j - 1], d);
                lsp_out[j] = add(lsp_out[j], d);
            }
        }
        stable = !unstable(lsp_out, sep);
    }
    if (!stable)
        for (int j = 0; j < LPC_ORDER; ++j) lsp_out[j] = prev_lsp[j];
}

void lsp_interpolate(Word16 lpc_out[4 * LPC_ORDER], const Word16 cur_lsp[LPC_ORDER], const Word16 prev_lsp[LPC_ORDER]) {
    Word16 w = -8192;  // -0.25: prev * (1 + w) - cur * w
    for (int s = 0; s < SUBFRAMES; ++s) {
        Word16 *out = lpc_out + LPC_ORDER * s;
        for (int j = 0; j < LPC_ORDER; ++j) {
            Word32 a = L_deposit_h(prev_lsp[j]);
            a = L_mac(a, w, prev_lsp[j]);
            a = L_msu(a, w, cur_lsp[j]);
            out[j] = round(a);
        }
        lsp_to_lpc(out);
        w = add(w, -8192);
    }
}

namespace {

template <Kernel_set K>
QRXC_KERNEL_BODY void lsp_to_lpc_body(Word16 v[LPC_ORDER]) {
    for (int i = 0; i < LPC_ORDER; ++i) {
        // The table holds one full period, so masking the index also gives
        // the right cosine for an out-of-range (negative) frequency instead
        // of reading outside the table. Valid LSPs never need it.
        const int k = (v[i] >> 7) & 0x1ff;
        const int k1 = (k + 1) & 0x1ff;
        Word32 a = L_deposit_h(CosineTable[k]);
        const Word16 d = sub(CosineTable[k1], CosineTable[k]);
        a = L_mac(a, d, static_cast<Word16>(((v[i] & 0x7f) << 8) + 0x80));
        a = L_shl(a, 1);
        v[i] = negate(round(a));
    }

    // Sum and difference polynomials from the even and odd roots, built two
    // roots at a time and scaled down as they grow.
    Word32 P[6], Q[6];
    P[0] = 0x10000000;
    P[1] = (Word32{v[0]} + v[2]) * 16384;
    P[2] = Word32{v[0]} * v[2] + 0x20000000;
    Q[0] = 0x10000000;
    Q[1] = (Word32{v[1]} + v[3]) * 16384;
    Q[2] = Word32{v[1]} * v[3] + 0x20000000;
    for (int n = 2; n <= 4; ++n) {
        const int e = 16 - n;
        const Word16 vp = v[2 * n];
        const Word16 vq = v[2 * n + 1];
        P[n + 1] = L_add(mult_32_16(P[n], vp), P[n - 1]);
        Q[n + 1] = L_add(mult_32_16(Q[n], vq), Q[n - 1]);
        for (int j = n; j >= 2; --j) {
            P[j] = L_add(L_add(mult_32_16(P[j - 1], vp), L_shr(P[j], 1)), L_shr(P[j - 2], 1));
            Q[j] = L_add(L_add(mult_32_16(Q[j - 1], vq), L_shr(Q[j], 1)), L_shr(Q[j - 2], 1));
        }
        P[0] = L_shr(P[0], 1);
        Q[0] = L_shr(Q[0], 1);
        P[1] = L_shr(L_add(Word32{vp} * (Word32{1} << e), P[1]), 1);
        Q[1] = L_shr(L_add(Word32{vq} * (Word32{1} << e), Q[1]), 1);
    }

    for (int i = 0; i < 5; ++i) {
        Word32 a = L_add(P[i], P[i + 1]);
        a = L_sub(a, Q[i]);
        a = L_add(a, Q[i + 1]);
        a = L_shl(a, 3);
        v[i] = negate(round(a));
        Word32 b = L_add(P[i], P[i + 1]);
        b = L_add(b, Q[i]);
        b = L_sub(b, Q[i + 1]);
        b = L_shl(b, 3);
        v[LPC_ORDER - 1 - i] = negate(round(b));
    }
}

QRXC_AVX2_TWIN(void, lsp_to_lpc, lsp_to_lpc_body, (Word16 v[LPC_ORDER]), (v))

}  // namespace

void lsp_to_lpc(Word16 v[LPC_ORDER]) { QRXC_DISPATCH(lsp_to_lpc, lsp_to_lpc_body, v) }

}  // namespace qrxc::g723
