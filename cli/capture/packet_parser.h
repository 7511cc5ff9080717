// The bytes of one captured packet down to its UDP payload, and an RTP
// header out of that payload. Pure functions over byte spans: no capture
// library, so the fuzz target and the tests drive them directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qrxc::capture {

// Link types as capture files number them (LINKTYPE_*); libpcap reports the
// same numbers for these, except raw IP, which some systems number 12 or 14.
enum Link_type : int {
    LINK_NULL = 0,  // BSD loopback: a 4-byte address family in host order
    LINK_ETHERNET = 1,
    LINK_RAW_12 = 12,
    LINK_RAW_14 = 14,
    LINK_RAW = 101,
    LINK_LOOP = 108,  // BSD loopback, address family in network order
    LINK_LINUX_SLL = 113,
    LINK_IPV4 = 228,
    LINK_IPV6 = 229,
    LINK_LINUX_SLL2 = 276,
};

// An IPv4 or IPv6 address: IPv4 in the first 4 bytes.
struct Address {
    std::array<std::uint8_t, 16> bytes{};
    bool v6 = false;
    bool operator==(const Address &) const = default;
    auto operator<=>(const Address &) const = default;
};
std::string address_text(const Address &a);

// Why a packet yields no UDP payload (or yields one).
enum class Packet_status {
    udp,          // payload set
    not_ip,       // another link protocol (ARP, LLDP, ...)
    not_udp,      // TCP, ICMP, ...
    fragment,     // one piece of a fragmented IP datagram
    truncated,    // cut by the snap length, or shorter than its headers say
    unknown_link  // a link type this reader does not know
};

struct Udp_datagram {
    Address src, dst;
    std::uint16_t src_port = 0, dst_port = 0;
    const std::uint8_t *payload = nullptr;
    std::size_t length = 0;
};

// Parses one captured packet (caplen bytes at data) of the given link type.
Packet_status parse_packet(int link_type, const std::uint8_t *data, std::size_t caplen, Udp_datagram &out);

struct Rtp_header {
    bool marker = false;
    std::uint8_t payload_type = 0;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t ssrc = 0;
    const std::uint8_t *payload = nullptr;  // after CSRCs and the extension, before padding
    std::size_t length = 0;
};

// An RTP packet of version 2 with consistent CSRC count, extension length
// and padding; false for anything else (RTCP included: its types 200-204
// sit where RTP has the marker and payload type).
bool parse_rtp(const std::uint8_t *data, std::size_t length, Rtp_header &out);

// Payload types that an SDP in this payload maps to G723 ("a=rtpmap:N
// G723/8000"), as bits of a 128-bit set; 0 when it holds none.
struct Payload_types {
    std::uint64_t bits[2] = {0, 0};
    void add(unsigned pt) { bits[(pt >> 6) & 1] |= std::uint64_t{1} << (pt & 63); }
    bool has(unsigned pt) const { return pt < 128 && ((bits[pt >> 6] >> (pt & 63)) & 1) != 0; }
};
void scan_sdp(const std::uint8_t *data, std::size_t length, Payload_types &g723);

}  // namespace qrxc::capture
