// The standard G.723.1 bitstream layout (as telephony tools and RTP carry
// it) beside our own frame layout of frame.h. Both hold the same fields;
// the standard one starts with two kind bits, keeps the open-loop lags in 7
// bits instead of 8 and orders the fields differently.
#pragma once

#include <cstddef>

namespace qrxc::g723 {

// Kind of a standard frame: its first two bits.
enum class Standard_kind : int { rate_63 = 0, rate_53 = 1, sid = 2, untransmitted = 3 };

// Bytes of a standard frame of each kind: 24, 20, 4, 1.
int standard_frame_bytes(Standard_kind kind);

// The kind in a frame's first byte.
inline Standard_kind standard_kind(unsigned char first) { return static_cast<Standard_kind>(first & 3); }

// Our frame (24 bytes at RATE_63, 20 at RATE_53) in the standard layout;
// returns the bytes written. Lag codes above 127 do not fit the 7-bit field
// and become 127, which is forbidden there as 124..255 are here, so the
// frame stays one the decoder conceals.
int frame_to_standard(const unsigned char *frame, int rate_select, unsigned char *out);

// A speech frame of the standard layout (its kind gives the rate) in our
// layout; writes 24 or 20 bytes. in holds standard_frame_bytes(kind) bytes.
void frame_from_standard(const unsigned char *in, unsigned char *frame);

// A frame of our layout that every decoder conceals: a forbidden lag code.
void erased_frame(unsigned char out[24]);

}  // namespace qrxc::g723
