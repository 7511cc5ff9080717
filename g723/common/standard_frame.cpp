#include "g723/common/standard_frame.h"

#include <cstring>

#include "g723/common/frame.h"
#include "g723/common/frame_layout.h"

namespace qrxc::g723 {

using namespace layout;

static_assert(layout_bits(STANDARD_63) == 8 * FRAME_BYTES_63 && layout_bits(STANDARD_53) == 8 * FRAME_BYTES_53);

int standard_frame_bytes(Standard_kind kind) {
    switch (kind) {
    case Standard_kind::rate_63: return FRAME_BYTES_63;
    case Standard_kind::rate_53: return FRAME_BYTES_53;
    case Standard_kind::sid: return 4;
    case Standard_kind::untransmitted: return 1;
    }
    return 1;
}

int frame_to_standard(const unsigned char *frame, int rate_select, unsigned char *out) {
    Values v{};
    if (rate_select == RATE_63) {
        read_fields<OURS_63>(frame, v);
        v[KIND] = static_cast<unsigned>(Standard_kind::rate_63);
        write_fields<STANDARD_63>(v, out);
        return FRAME_BYTES_63;
    }
    read_fields<OURS_53>(frame, v);
    v[KIND] = static_cast<unsigned>(Standard_kind::rate_53);
    write_fields<STANDARD_53>(v, out);
    return FRAME_BYTES_53;
}

void frame_from_standard(const unsigned char *in, unsigned char *frame) {
    Values v{};
    if (standard_kind(in[0]) == Standard_kind::rate_63) {
        read_fields<STANDARD_63>(in, v);
        write_fields<OURS_63>(v, frame);
    } else {
        read_fields<STANDARD_53>(in, v);
        write_fields<OURS_53>(v, frame);
    }
}

void erased_frame(unsigned char out[24]) {
    std::memset(out, 0, 24);
    out[3] = 124;  // first forbidden open-loop lag code
}

}  // namespace qrxc::g723
