// The codec context: every piece of state the library keeps, in one object.
// The classic exports work on one process-wide instance; callers of the
// *_ctx API own as many as they like.
#pragma once

#include <type_traits>

#include "codec/adpcm.h"
#include "codec/rate_converter.h"
#include "codec/stream.h"
#include "g723/decoder/dec_state.h"
#include "g723/encoder/dtx_state.h"
#include "g723/encoder/enc_state.h"
#include "speed/speed_state.h"

struct Qrxc_context {
    qrxc::Codec_stream stream;
    qrxc::Adpcm_state adpcm;
    qrxc::Rate_converter rc;
    qrxc::g723::Dec_state dec;
    qrxc::g723::Enc_state enc;
    qrxc::g723::Enc_dtx_state dtx;  // silence compression of the standard-stream encoder
    int standard_decoded_as;        // QRXC_G723_DECODED_* of the last standard frame decoded
    Word16 acelp_budget;            // 5.3 kbit/s search budget, carried from frame to frame in type 0
    qrxc::Speed_state speed;
    qrxc::Effects_state effects;
};
static_assert(std::is_trivially_copyable_v<Qrxc_context>);

namespace qrxc {

// Puts a context into the state of a freshly loaded library.
void context_load(Qrxc_context &ctx);

// The process-wide context behind the classic exports.
Qrxc_context &default_context();

}  // namespace qrxc
