// The predictive split vector quantiser of the LSP vector.
#include "g723/encoder/lsp_quantize.h"

#include <cstdint>

#include "g723/common/basic_ops.h"
#include "g723/common/fast_ops.h"
#include "g723/common/tables.h"
#include "g723/common/x86/dispatch.h"

#if QRXC_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace qrxc::g723 {

namespace {

constexpr Word32 WEIGHT_NUM = 0x100000;  // weight = 32 / gap in Q15
constexpr Word16 WEIGHT_MIN_GAP = 32;
constexpr Word16 LSP_PRED = Q15(0.375);

// Score of one codevector: 2 sum(w r c) - sum(w c c) in the saturating
// operator sequence. The weights are positive, so mult_r cannot saturate
// and is a plain rounded product; when the magnitudes stay small enough no
// later step can saturate either and plain 64-bit sums give the same bits.
template <int LEN>
[[gnu::noinline]] Word32 vq_score_saturating(const Word16 *r, const Word16 *c, const Word16 *t) {
    Word32 acc = 0;
    for (int j = 0; j < LEN; j++) acc = L_mac(acc, r[j], t[j]);
    acc = L_shl(acc, 1);
    for (int j = 0; j < LEN; j++) acc = L_msu(acc, c[j], t[j]);
    return acc;
}

template <int LEN>
inline Word32 vq_score(const Word16 *r, const Word16 *w, const Word16 *c) {
    Word16 t[LEN];
    for (int j = 0; j < LEN; j++)
        t[j] = PLAIN_OPS ? mult_r(w[j], c[j]) : static_cast<Word16>((2 * std::int32_t{w[j]} * c[j] + 0x8000) >> 16);
    std::int64_t s1 = 0, m1 = 0, s2 = 0, m2 = 0;
    for (int j = 0; j < LEN; j++) {
        const std::int64_t p = 2 * std::int64_t{r[j]} * t[j];
        const std::int64_t q = 2 * std::int64_t{c[j]} * t[j];
        s1 += p;
        m1 += p < 0 ? -p : p;
        s2 += q;
        m2 += q < 0 ? -q : q;
    }
    if (!PLAIN_OPS && m1 <= 0x3fffffff && 2 * m1 + m2 <= 0x7fffffff) return static_cast<Word32>(2 * s1 - s2);
    return vq_score_saturating<LEN>(r, c, t);
}

constexpr int BOOK_ROWS = 256;

#if QRXC_AVX2_KERNELS
// A band's codebook by columns, for scoring eight rows per lane vector.
template <int LEN>
struct Book_columns {
    alignas(32) Word16 c[LEN][BOOK_ROWS];
};

template <int LEN>
Book_columns<LEN> book_columns(const Word16 (*book)[LEN]) {
    Book_columns<LEN> b{};
    for (int i = 0; i < BOOK_ROWS; i++)
        for (int j = 0; j < LEN; j++) b.c[j][i] = book[i][j];
    return b;
}

// Made as the library loads; nothing encodes during static initialisation.
const Book_columns<3> BAND0_COLUMNS = book_columns<3>(Band0Tb8);
const Book_columns<3> BAND1_COLUMNS = book_columns<3>(Band1Tb8);
const Book_columns<4> BAND2_COLUMNS = book_columns<4>(Band2Tb8);

// The plain 32-bit scoring below, eight rows per lane: each lane keeps its
// first best, then the lanes' best goes to the lowest row among equals.
template <int LEN>
QRXC_TARGET_AVX2 int vq_band_avx2(const Word16 *r, const Word16 *w, const Book_columns<LEN> &book) {
    __m256i w2[LEN];
    __m256i rj[LEN];
    for (int j = 0; j < LEN; j++) {
        w2[j] = _mm256_set1_epi32(2 * std::int32_t{w[j]});
        rj[j] = _mm256_set1_epi32(r[j]);
    }
    const __m256i half = _mm256_set1_epi32(0x8000);
    __m256i best = _mm256_set1_epi32(-1);
    __m256i row = _mm256_setzero_si256();
    __m256i idx = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int i = 0; i < BOOK_ROWS; i += 8) {
        __m256i s1 = _mm256_setzero_si256();
        __m256i s2 = _mm256_setzero_si256();
        for (int j = 0; j < LEN; j++) {
            const __m256i c = _mm256_cvtepi16_epi32(_mm_load_si128(reinterpret_cast<const __m128i *>(book.c[j] + i)));
            const __m256i t = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(w2[j], c), half), 16);
            s1 = _mm256_add_epi32(s1, _mm256_mullo_epi32(rj[j], t));
            s2 = _mm256_add_epi32(s2, _mm256_mullo_epi32(c, t));
        }
        const __m256i score = _mm256_sub_epi32(_mm256_slli_epi32(s1, 2), _mm256_slli_epi32(s2, 1));
        const __m256i gt = _mm256_cmpgt_epi32(score, best);
        best = _mm256_blendv_epi8(best, score, gt);
        row = _mm256_blendv_epi8(row, idx, gt);
        idx = _mm256_add_epi32(idx, _mm256_set1_epi32(8));
    }
    alignas(32) std::int32_t b[8];
    alignas(32) std::int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(b), best);
    _mm256_store_si256(reinterpret_cast<__m256i *>(at), row);
    int pick = at[0];
    std::int32_t top = b[0];
    for (int l = 1; l < 8; l++)
        if (b[l] > top || (b[l] == top && at[l] < pick)) {
            top = b[l];
            pick = at[l];
        }
    return pick;
}
#endif

template <int LEN>
struct Band {
    const Word16 (*book)[LEN];
#if QRXC_AVX2_KERNELS
    const Book_columns<LEN> *columns;
#endif
};

// Whether the whole band may be scored in plain 32-bit sums: |t| <= |c| <=
// LSP_CODE_MAX_ABS, so a small residual bounds every row's sums at once.
template <int LEN>
bool band_fits(const Word16 *r) {
    std::int64_t r_abs = 0;
    for (int j = 0; j < LEN; j++) r_abs += r[j] < 0 ? -std::int64_t{r[j]} : std::int64_t{r[j]};
    const std::int64_t m1 = 2 * r_abs * LSP_CODE_MAX_ABS;
    const std::int64_t m2 = 2 * LEN * std::int64_t{LSP_CODE_MAX_ABS} * LSP_CODE_MAX_ABS;
    return !PLAIN_OPS && m1 <= 0x3fffffff && 2 * m1 + m2 <= 0x7fffffff;
}

template <int LEN>
int vq_band_plain(const Word16 *r, const Word16 *w, const Word16 (*book)[LEN]) {
    int best = 0;
    Word32 best_score = -1;
    for (int i = 0; i < BOOK_ROWS; i++) {
        Word16 t[LEN];
        for (int j = 0; j < LEN; j++) t[j] = mult_r(w[j], book[i][j]);
        const Word32 score = vq_score_saturating<LEN>(r, book[i], t);
        if (score > best_score) {
            best_score = score;
            best = i;
        }
    }
    return best;
}

template <int LEN>
int vq_band(const Word16 *r, const Word16 *w, const Band<LEN> &band, Kernel_set set) {
    const Word16(*book)[LEN] = band.book;
    int best = 0;
    Word32 best_score = -1;
#if QRXC_AVX2_KERNELS
    if (set == Kernel_set::avx2 && band_fits<LEN>(r)) return vq_band_avx2<LEN>(r, w, *band.columns);
#endif
    (void)set;
    if (band_fits<LEN>(r)) {
        Word32 scores[256];
        for (int i = 0; i < 256; i++) {
            std::int32_t s1 = 0, s2 = 0;
            for (int j = 0; j < LEN; j++) {
                const std::int32_t c = book[i][j];
                const std::int32_t t = (2 * std::int32_t{w[j]} * c + 0x8000) >> 16;
                s1 += r[j] * t;
                s2 += c * t;
            }
            scores[i] = 4 * s1 - 2 * s2;
        }
        for (int i = 0; i < 256; i++) {
            if (scores[i] > best_score) {
                best_score = scores[i];
                best = i;
            }
        }
        return best;
    }
    for (int i = 0; i < 256; i++) {
        const Word32 score = vq_score<LEN>(r, w, book[i]);
        // Strictly greater: equal scores keep the lower row.
        if (score > best_score) {
            best_score = score;
            best = i;
        }
    }
    return best;
}

}  // namespace

namespace {

#if QRXC_AVX2_KERNELS
const Band<3> BAND0{Band0Tb8, &BAND0_COLUMNS};
const Band<3> BAND1{Band1Tb8, &BAND1_COLUMNS};
const Band<4> BAND2{Band2Tb8, &BAND2_COLUMNS};
#else
const Band<3> BAND0{Band0Tb8};
const Band<3> BAND1{Band1Tb8};
const Band<4> BAND2{Band2Tb8};
#endif

}  // namespace

Word32 lsp_split_vq(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER], Kernel_set set) {
    if (set == Kernel_set::avx2 && !kernel_set_available(set)) set = Kernel_set::sse2;
    const int b0 = vq_band<3>(&r[BandInfoTable[0][0]], &w[BandInfoTable[0][0]], BAND0, set);
    const int b1 = vq_band<3>(&r[BandInfoTable[1][0]], &w[BandInfoTable[1][0]], BAND1, set);
    const int b2 = vq_band<4>(&r[BandInfoTable[2][0]], &w[BandInfoTable[2][0]], BAND2, set);
    return (Word32{b0} << 16) | (b1 << 8) | b2;
}

Word32 lsp_split_vq(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER]) { return lsp_split_vq(r, w, kernel_set()); }

Word32 lsp_split_vq_plain(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER]) {
    const int b0 = vq_band_plain<3>(&r[BandInfoTable[0][0]], &w[BandInfoTable[0][0]], Band0Tb8);
    const int b1 = vq_band_plain<3>(&r[BandInfoTable[1][0]], &w[BandInfoTable[1][0]], Band1Tb8);
    const int b2 = vq_band_plain<4>(&r[BandInfoTable[2][0]], &w[BandInfoTable[2][0]], Band2Tb8);
    return (Word32{b0} << 16) | (b1 << 8) | b2;
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

}  // namespace qrxc::g723
