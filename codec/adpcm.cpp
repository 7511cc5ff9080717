// Placeholder: the ADPCM coders land with the foundation work.
#include "codec/adpcm.h"

namespace qrxc {
void adpcm_load(Adpcm_state &s) {
    s = Adpcm_state{};
    s.enc3.y = s.enc4.y = s.enc5.y = 544;
    s.dec3.y = s.dec4.y = s.dec5.y = 544;
}
}  // namespace qrxc
