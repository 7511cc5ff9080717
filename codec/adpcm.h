// ADPCM coders of 3, 4 and 5 bits per sample: G.726's quantiser, inverse
// quantiser and scale adaptation, simplified, with one shared predictor.
#pragma once

#include <cstdint>
#include <type_traits>

namespace qrxc {

struct Adpcm_coder {
    std::int16_t y;   // scale factor, log2 in 1/512 units; 544 at load
    std::int16_t se;  // signal estimate for the next sample
};

// Two poles and six zeros, coefficients in Q14. Products and sums are 32-bit
// and wrap, as they did on the 32-bit target the streams were made with.
struct Adpcm_predictor {
    std::int32_t se, sep, sez;
    std::int32_t sr, sr1, sr2;
    std::int32_t a1, a2;
    std::int32_t p, p1, p2;
    std::int32_t dq0, dq1, dq2, dq3, dq4, dq5, dq6;
    std::int32_t b1, b2, b3, b4, b5, b6;
};

// The six coder records (encoder and decoder of each width) and the
// predictor they share.
struct Adpcm_state {
    Adpcm_coder enc3, enc4, enc5;
    Adpcm_coder dec3, dec4, dec5;
    Adpcm_predictor pred;
};
static_assert(std::is_trivially_copyable_v<Adpcm_state>);

// Input coding of the encoders' sample argument.
inline constexpr int LAW_ULAW = 1;    // a G.711 mu-law byte
inline constexpr int LAW_ALAW = 2;    // a G.711 A-law byte
inline constexpr int LAW_LINEAR = 3;  // a 16-bit linear sample

// Load values: y = 544, everything else 0.
void adpcm_load(Adpcm_state &s);

// The tables and constants of one code width.
struct Adpcm_width {
    int bits;
    const std::int16_t *decision;
    int decision_count;
    const std::int16_t *recon;
    const std::int16_t *scale_w;
    int scale_w_factor;
    int sign_bit;
    int mask;
};
extern const Adpcm_width ADPCM_WIDTH_3;
extern const Adpcm_width ADPCM_WIDTH_4;
extern const Adpcm_width ADPCM_WIDTH_5;
// The width for 3, 4 or 5 bits; nullptr for anything else.
const Adpcm_width *adpcm_width(int bits);

// Encoders return the code (never 0), or -1 with no state change when law is
// not one of LAW_*. Decoders use the code's low bits and return a sample.
int adpcm_encode(const Adpcm_width &w, Adpcm_coder &c, Adpcm_predictor &p, int sample, int law);
int adpcm_decode(const Adpcm_width &w, Adpcm_coder &c, Adpcm_predictor &p, int code);

int adpcm_encode_3(Adpcm_state &s, int sample, int law);
int adpcm_encode_4(Adpcm_state &s, int sample, int law);
int adpcm_encode_5(Adpcm_state &s, int sample, int law);
std::int16_t adpcm_decode_3(Adpcm_state &s, int code);
std::int16_t adpcm_decode_4(Adpcm_state &s, int code);
std::int16_t adpcm_decode_5(Adpcm_state &s, int code);

// Building blocks shared by the six coders.
int expand_ulaw(int byte);
int expand_alaw(int byte);
int code_from_diff(int d, int y, const std::int16_t *table, int n);
int level_index(int value, const std::int16_t *table, int n);
int log2_exponent(int x);
int diff_from_code(int sign, int recon, int y);
int predictor_step(Adpcm_predictor &p, std::int16_t dq);

}  // namespace qrxc
