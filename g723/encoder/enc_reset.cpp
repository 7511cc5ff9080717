// Encoder reset: a stream always starts from this state.
#include "g723/common/tables.h"
#include "g723/encoder/analysis.h"

namespace g723 {

namespace {
constexpr Word32 TAMING_START = 4;
}

void enc_reset(Enc_state &st) {
    st = Enc_state{};
    for (int k = 0; k < LPC_ORDER; k++) st.prev_lsp[k] = LspDcTable[k];
    for (Word32 &e : st.taming_err) e = TAMING_START;
}

}  // namespace g723
