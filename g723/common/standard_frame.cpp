#include "g723/common/standard_frame.h"

#include <cstring>

#include "g723/common/frame.h"

namespace qrxc::g723 {

namespace {

// Every field of either layout; both pack them least significant bit first,
// byte after byte.
// clang-format off
enum Field : unsigned char {
    KIND, LSP, LAG0, LAG1, ACL1, ACL3, G0, G1, G2, G3, GRID0, GRID1, GRID2, GRID3,
    RSV, MSBPOS, POS0, POS1, POS2, POS3, PSIG0, PSIG1, PSIG2, PSIG3, FIELD_COUNT
};

struct Slot {
    Field field;
    unsigned char width;
};

// Our layout (frame.cpp writes the same bits byte by byte).
constexpr Slot OURS_63[] = {
    {LSP, 24}, {LAG0, 8}, {LAG1, 8}, {ACL1, 2}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1}, {RSV, 1}, {MSBPOS, 13},
    {POS0, 16}, {POS1, 14}, {POS2, 16}, {POS3, 14}, {PSIG0, 6}, {PSIG1, 5}, {PSIG2, 6}, {PSIG3, 5},
};
constexpr Slot OURS_53[] = {
    {LSP, 24}, {LAG0, 8}, {LAG1, 8}, {ACL1, 2}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1},
    {PSIG0, 4}, {PSIG1, 4}, {PSIG2, 4}, {PSIG3, 4}, {POS0, 12}, {POS1, 12}, {POS2, 12}, {POS3, 12},
};
// The standard layout: kind bits first, each lag followed by its pair's offset.
constexpr Slot STANDARD_63[] = {
    {KIND, 2}, {LSP, 24}, {LAG0, 7}, {ACL1, 2}, {LAG1, 7}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1}, {RSV, 1}, {MSBPOS, 13},
    {POS0, 16}, {POS1, 14}, {POS2, 16}, {POS3, 14}, {PSIG0, 6}, {PSIG1, 5}, {PSIG2, 6}, {PSIG3, 5},
};
constexpr Slot STANDARD_53[] = {
    {KIND, 2}, {LSP, 24}, {LAG0, 7}, {ACL1, 2}, {LAG1, 7}, {ACL3, 2}, {G0, 12}, {G1, 12}, {G2, 12}, {G3, 12},
    {GRID0, 1}, {GRID1, 1}, {GRID2, 1}, {GRID3, 1},
    {POS0, 12}, {POS1, 12}, {POS2, 12}, {POS3, 12}, {PSIG0, 4}, {PSIG1, 4}, {PSIG2, 4}, {PSIG3, 4},
};
// clang-format on

template <std::size_t N>
constexpr int layout_bits(const Slot (&slots)[N]) {
    int bits = 0;
    for (const Slot &s : slots) bits += s.width;
    return bits;
}
static_assert(layout_bits(OURS_63) == 8 * FRAME_BYTES_63 && layout_bits(STANDARD_63) == 8 * FRAME_BYTES_63);
static_assert(layout_bits(OURS_53) == 8 * FRAME_BYTES_53 && layout_bits(STANDARD_53) == 8 * FRAME_BYTES_53);

using Values = unsigned[FIELD_COUNT];

template <std::size_t N>
void read_fields(const unsigned char *in, const Slot (&slots)[N], Values &v) {
    unsigned pos = 0;
    for (const Slot &s : slots) {
        unsigned x = 0;
        for (unsigned b = 0; b < s.width; ++b, ++pos) x |= ((in[pos >> 3] >> (pos & 7)) & 1u) << b;
        v[s.field] = x;
    }
}

// A value too wide for its slot (only a lag code above 127 can be) is
// written as the slot's largest value.
template <std::size_t N>
void write_fields(const Values &v, const Slot (&slots)[N], unsigned char *out) {
    std::memset(out, 0, static_cast<std::size_t>(layout_bits(slots) / 8));
    unsigned pos = 0;
    for (const Slot &s : slots) {
        const unsigned max = (1u << s.width) - 1;
        const unsigned x = v[s.field] > max ? max : v[s.field];
        for (unsigned b = 0; b < s.width; ++b, ++pos)
            out[pos >> 3] = static_cast<unsigned char>(out[pos >> 3] | (((x >> b) & 1u) << (pos & 7)));
    }
}

}  // namespace

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
        read_fields(frame, OURS_63, v);
        v[KIND] = static_cast<unsigned>(Standard_kind::rate_63);
        write_fields(v, STANDARD_63, out);
        return FRAME_BYTES_63;
    }
    read_fields(frame, OURS_53, v);
    v[KIND] = static_cast<unsigned>(Standard_kind::rate_53);
    write_fields(v, STANDARD_53, out);
    return FRAME_BYTES_53;
}

void frame_from_standard(const unsigned char *in, unsigned char *frame) {
    Values v{};
    if (standard_kind(in[0]) == Standard_kind::rate_63) {
        read_fields(in, STANDARD_63, v);
        write_fields(v, OURS_63, frame);
    } else {
        read_fields(in, STANDARD_53, v);
        write_fields(v, OURS_53, frame);
    }
}

void erased_frame(unsigned char out[24]) {
    std::memset(out, 0, 24);
    out[3] = 124;  // first forbidden open-loop lag code
}

}  // namespace qrxc::g723
