// LSP dequantisation, interpolation and LSP-to-LPC conversion, shared by
// the decoder and the encoder so that both keep identical histories.
#pragma once

#include "g723/common/types.h"

namespace qrxc::g723 {

// prev_lsp is used as scratch and restored before return.
void lsp_dequantize(Word16 lsp_out[LPC_ORDER], Word16 prev_lsp[LPC_ORDER], Word32 lsp_index, Word16 bad);
// Four Q13 LPC sets, subframe k at lpc_out[10k .. 10k+9].
void lsp_interpolate(Word16 lpc_out[4 * LPC_ORDER], const Word16 cur_lsp[LPC_ORDER], const Word16 prev_lsp[LPC_ORDER]);
// In place: LSP vector in, Q13 LPC coefficients out.
void lsp_to_lpc(Word16 v[LPC_ORDER]);

}  // namespace qrxc::g723
