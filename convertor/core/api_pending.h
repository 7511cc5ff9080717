// Stand-ins for library calls that are about to land; removed once they have.
#pragma once
#include "qrxc.h"
#ifndef QRXC_VERSION_MAJOR
#include <cstring>
inline int Qrxc_header_length(const unsigned char *b) {
    if (b == nullptr) return QRXC_ERR_ARG;
    if (std::memcmp(b, "QRX", 3) != 0) return QRXC_ERR_HEADER;
    return (b[3] & 0xC0) != 0 ? 16 : 4;
}
struct Qrxc_type_desc {
    int pcm_frame;
    int frame_bytes;
    int bit_rate;
    const char *coder;
};
inline int Qrxc_type_info(int type, Qrxc_type_desc *out) {
    static const Qrxc_type_desc t[] = {{320, 20, 5333, "G.723.1 5.3 kbit/s, 4:3 rate converter"},
                                       {240, 20, 5333, "G.723.1 5.3 kbit/s"},
                                       {240, 24, 6400, "G.723.1 6.3 kbit/s"},
                                       {0, 0, 0, nullptr},
                                       {240, 90, 24000, "ADPCM 3 bits"},
                                       {240, 120, 32000, "ADPCM 4 bits"},
                                       {240, 150, 40000, "ADPCM 5 bits"}};
    if (out == nullptr) return QRXC_ERR_ARG;
    if (type < 0 || type > 6 || type == 3) return QRXC_ERR_TYPE;
    *out = t[type];
    return 0;
}
inline const char *Qrxc_version_string(void) { return "1.0.0"; }
inline int Qrxc_frame_concealed(int, const unsigned char *) { return 0; }
typedef void (*Qrxc_diagnostic_fn)(void *user, const char *text);
inline void Qrxc_set_diagnostics(Qrxc_context *, Qrxc_diagnostic_fn, void *) {}
#endif
