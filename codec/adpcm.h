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

// Load values: y = 544, everything else 0.
void adpcm_load(Adpcm_state &s);

}  // namespace qrxc
