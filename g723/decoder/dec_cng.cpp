#include "g723/decoder/dec_cng.h"

#include <cstring>

#include "g723/common/basic_ops.h"
#include "g723/common/comfort_noise.h"
#include "g723/common/frame.h"
#include "g723/common/lsp.h"
#include "g723/common/tables.h"
#include "g723/decoder/decoder.h"
#include "g723/decoder/lpc_synth.h"
#include "g723/decoder/postfilter.h"

namespace qrxc::g723 {

namespace {
// Each comfort-noise frame moves the gain an eighth of the way to the target.
constexpr Word16 GAIN_KEEP = Q15(0.875);
constexpr Word16 GAIN_STEP = Q15(0.125);
}  // namespace

void cng_reset(Dec_cng_state &c) {
    c = Dec_cng_state{};
    c.past_active = 1;
    c.rand_seed = CNG_SEED;
    std::memcpy(c.sid_lsp, LspDcTable, sizeof c.sid_lsp);
}

void cng_after_speech(Dec_cng_state &c) {
    c.past_active = 1;
    c.rand_seed = CNG_SEED;
}

void g723_decode_silence(Dec_state &st, Word16 pcm_out[FRAME_LEN], const unsigned char *sid) {
    Dec_cng_state &c = st.cng;
    if (sid != nullptr) {
        const Sid_params p = sid_unpack(sid);
        c.sid_gain_q5 = sid_gain_decode(p.gain_index);
        lsp_dequantize(c.sid_lsp, st.prev_lsp, p.lsp_index, 0);
    } else if (c.past_active != 0) {
        // The silence's SID never came: quantise the last good frame's
        // excitation estimate as the encoder would have sent it.
        c.sid_gain_q5 = sid_gain_decode(sid_gain_quantize(&c.sid_gain_q5, &c.cur_gain_q5, 0));
    }
    if (c.past_active != 0)
        c.cur_gain_q5 = c.sid_gain_q5;
    else
        c.cur_gain_q5 = extract_h(L_add(L_mult(c.cur_gain_q5, GAIN_KEEP), L_mult(c.sid_gain_q5, GAIN_STEP)));
    cng_excitation(c.cur_gain_q5, st.prev_exc, pcm_out, c.rand_seed);

    Word16 lpc[SUBFRAMES * LPC_ORDER];
    lsp_interpolate(lpc, c.sid_lsp, st.prev_lsp);
    std::memcpy(st.prev_lsp, c.sid_lsp, sizeof st.prev_lsp);
    c.past_active = 0;

    // Noise has no pitch: only the formant postfilter and gain control.
    for (int s = 0; s < SUBFRAMES; ++s) {
        Word16 *x = pcm_out + SUBFRAME_LEN * s;
        const Word16 *l = lpc + LPC_ORDER * s;
        lpc_synth(st, x, l);
        const Word32 e = formant_pf(st, x, l);
        gain_scale(st, x, e);
    }
}

Decoded_as g723_decode_standard(Dec_state &st, Standard_kind kind, const unsigned char *in, Word16 pcm_out[FRAME_LEN]) {
    if (kind == Standard_kind::sid) {
        g723_decode_silence(st, pcm_out, in);
        return Decoded_as::comfort_noise;
    }
    if (kind == Standard_kind::untransmitted) {
        g723_decode_silence(st, pcm_out, nullptr);
        return Decoded_as::comfort_noise;
    }
    // The kind values of the two speech rates equal their rate selectors.
    const int rate = static_cast<int>(kind);
    unsigned char frame[FRAME_BYTES_63];
    frame_from_standard(in, frame);
    const bool bad = frame_unpack(frame, rate, 0).bad_frame != 0;
    if (bad && st.cng.past_active == 0) {
        g723_decode_silence(st, pcm_out, nullptr);
        return Decoded_as::comfort_noise;
    }
    g723_decode_frame(st, rate, pcm_out, frame, 0);
    return bad ? Decoded_as::lost : Decoded_as::speech;
}

}  // namespace qrxc::g723
