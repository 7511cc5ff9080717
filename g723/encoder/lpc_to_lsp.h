// LPC-to-LSP conversion on a 256-point cosine grid.
#pragma once

#include "g723/common/types.h"

namespace qrxc::g723 {

// Falls back to prev when fewer than ten roots are found.
void lpc_to_lsp(Word16 lsp[LPC_ORDER], const Word16 a[LPC_ORDER], const Word16 prev[LPC_ORDER]);

}  // namespace qrxc::g723
