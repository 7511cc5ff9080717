// The predictive split vector quantiser of the LSP vector.
#pragma once

#include "g723/common/kernel_set.h"
#include "g723/common/types.h"

namespace qrxc::g723 {

// Largest magnitude in the three LSP band codebooks.
inline constexpr Word16 LSP_CODE_MAX_ABS = 6012;

// lsp is scratch afterwards.
Word32 lsp_quantize(Word16 lsp[LPC_ORDER], const Word16 prev[LPC_ORDER]);
Word32 lsp_split_vq(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER]);
// With kernel set `set` (where the CPU has it), and every row in its
// saturating form, for checking the fast ones.
Word32 lsp_split_vq(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER], Kernel_set set);
Word32 lsp_split_vq_plain(const Word16 r[LPC_ORDER], const Word16 w[LPC_ORDER]);

}  // namespace qrxc::g723
