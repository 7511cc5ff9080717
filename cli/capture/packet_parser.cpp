#include "cli/capture/packet_parser.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace qrxc::capture {
namespace {

constexpr std::uint16_t ETHERTYPE_IPV4 = 0x0800;
constexpr std::uint16_t ETHERTYPE_IPV6 = 0x86DD;
constexpr std::uint16_t ETHERTYPE_VLAN = 0x8100;
constexpr std::uint16_t ETHERTYPE_QINQ = 0x88A8;
constexpr std::uint16_t ETHERTYPE_QINQ_OLD = 0x9100;
constexpr std::uint8_t PROTO_UDP = 17;

std::uint16_t be16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t be32(const std::uint8_t *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

Packet_status parse_udp(const std::uint8_t *p, std::size_t n, Udp_datagram &out) {
    if (n < 8) return Packet_status::truncated;
    const std::size_t len = be16(p + 4);
    // A length beyond what was captured: the snap length cut the payload.
    if (len < 8 || len > n) return Packet_status::truncated;
    out.src_port = be16(p);
    out.dst_port = be16(p + 2);
    out.payload = p + 8;
    out.length = len - 8;
    return Packet_status::udp;
}

Packet_status parse_ipv4(const std::uint8_t *p, std::size_t n, Udp_datagram &out) {
    if (n < 20) return Packet_status::truncated;
    const std::size_t ihl = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    const std::size_t total = be16(p + 2);
    if (ihl < 20 || total < ihl || n < ihl) return Packet_status::truncated;
    // Trailing link padding is not payload; a total beyond the capture is a cut packet.
    if (total > n) return Packet_status::truncated;
    if (p[9] != PROTO_UDP) return Packet_status::not_udp;
    const std::uint16_t frag = be16(p + 6);
    if ((frag & 0x3FFF) != 0) return Packet_status::fragment;  // more fragments, or an offset
    out.src = Address{};
    out.dst = Address{};
    std::memcpy(out.src.bytes.data(), p + 12, 4);
    std::memcpy(out.dst.bytes.data(), p + 16, 4);
    return parse_udp(p + ihl, total - ihl, out);
}

Packet_status parse_ipv6(const std::uint8_t *p, std::size_t n, Udp_datagram &out) {
    if (n < 40) return Packet_status::truncated;
    const std::size_t payload = be16(p + 4);
    if (40 + payload > n) return Packet_status::truncated;
    out.src = Address{};
    out.dst = Address{};
    out.src.v6 = out.dst.v6 = true;
    std::memcpy(out.src.bytes.data(), p + 8, 16);
    std::memcpy(out.dst.bytes.data(), p + 24, 16);
    std::uint8_t next = p[6];
    const std::uint8_t *at = p + 40;
    std::size_t left = payload;
    // Hop-by-hop, routing and destination options are stepped over.
    for (int hops = 0; hops < 8; ++hops) {
        if (next == PROTO_UDP) return parse_udp(at, left, out);
        if (next == 44) return Packet_status::fragment;
        if (next != 0 && next != 43 && next != 60) return Packet_status::not_udp;
        if (left < 8) return Packet_status::truncated;
        const std::size_t ext = (static_cast<std::size_t>(at[1]) + 1) * 8;
        if (ext > left) return Packet_status::truncated;
        next = at[0];
        at += ext;
        left -= ext;
    }
    return Packet_status::not_udp;
}

Packet_status parse_ip(const std::uint8_t *p, std::size_t n, Udp_datagram &out) {
    if (n < 1) return Packet_status::truncated;
    if ((p[0] >> 4) == 4) return parse_ipv4(p, n, out);
    if ((p[0] >> 4) == 6) return parse_ipv6(p, n, out);
    return Packet_status::not_ip;
}

Packet_status parse_ethertype(std::uint16_t type, const std::uint8_t *p, std::size_t n, Udp_datagram &out) {
    // VLAN tags, stacked or single: 4 bytes each, the inner type last.
    for (int tags = 0; type == ETHERTYPE_VLAN || type == ETHERTYPE_QINQ || type == ETHERTYPE_QINQ_OLD; ++tags) {
        if (tags == 8) return Packet_status::not_ip;
        if (n < 4) return Packet_status::truncated;
        type = be16(p + 2);
        p += 4;
        n -= 4;
    }
    if (type == ETHERTYPE_IPV4 || type == ETHERTYPE_IPV6) return parse_ip(p, n, out);
    return Packet_status::not_ip;
}

}  // namespace

std::string address_text(const Address &a) {
    char buf[48];
    if (!a.v6) {
        std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a.bytes[0], a.bytes[1], a.bytes[2], a.bytes[3]);
        return buf;
    }
    // Full form, groups without leading zeros; the longest zero run shortened to "::".
    int best = -1, best_len = 0;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && a.bytes[2 * j] == 0 && a.bytes[2 * j + 1] == 0) ++j;
        if (j - i > best_len && j - i > 1) best = i, best_len = j - i;
        i = j == i ? i + 1 : j;
    }
    std::string s;
    for (int i = 0; i < 8; ++i) {
        if (i == best) {
            s += "::";
            i += best_len - 1;
            continue;
        }
        if (!s.empty() && s.back() != ':') s += ':';
        std::snprintf(buf, sizeof buf, "%x", be16(a.bytes.data() + 2 * i));
        s += buf;
    }
    return s;
}

Packet_status parse_packet(int link_type, const std::uint8_t *data, std::size_t caplen, Udp_datagram &out) {
    if (data == nullptr) return Packet_status::truncated;
    switch (link_type) {
    case LINK_ETHERNET:
        if (caplen < 14) return Packet_status::truncated;
        return parse_ethertype(be16(data + 12), data + 14, caplen - 14, out);
    case LINK_LINUX_SLL:
        if (caplen < 16) return Packet_status::truncated;
        return parse_ethertype(be16(data + 14), data + 16, caplen - 16, out);
    case LINK_LINUX_SLL2:
        if (caplen < 20) return Packet_status::truncated;
        return parse_ethertype(be16(data), data + 20, caplen - 20, out);
    case LINK_NULL:
    case LINK_LOOP:
        // The family's value differs between systems; the IP version nibble decides.
        if (caplen < 4) return Packet_status::truncated;
        return parse_ip(data + 4, caplen - 4, out);
    case LINK_RAW:
    case LINK_RAW_12:
    case LINK_RAW_14:
    case LINK_IPV4:
    case LINK_IPV6: return parse_ip(data, caplen, out);
    default: return Packet_status::unknown_link;
    }
}

bool parse_rtp(const std::uint8_t *data, std::size_t length, Rtp_header &out) {
    if (data == nullptr || length < 12 || (data[0] >> 6) != 2) return false;
    const std::uint8_t pt = data[1] & 0x7F;
    if (pt >= 72 && pt <= 76) return false;  // RTCP's SR, RR, SDES, BYE, APP with the marker bit
    std::size_t at = 12 + static_cast<std::size_t>(data[0] & 0x0F) * 4;
    if (at > length) return false;
    if ((data[0] & 0x10) != 0) {
        if (length - at < 4) return false;
        const std::size_t ext = 4 + static_cast<std::size_t>(be16(data + at + 2)) * 4;
        if (length - at < ext) return false;
        at += ext;
    }
    std::size_t end = length;
    if ((data[0] & 0x20) != 0) {
        const std::size_t pad = data[length - 1];
        if (pad == 0 || pad > end - at) return false;
        end -= pad;
    }
    out.marker = (data[1] & 0x80) != 0;
    out.payload_type = pt;
    out.sequence = be16(data + 2);
    out.timestamp = be32(data + 4);
    out.ssrc = be32(data + 8);
    out.payload = data + at;
    out.length = end - at;
    return true;
}

void scan_sdp(const std::uint8_t *data, std::size_t length, Payload_types &g723) {
    if (data == nullptr) return;
    static constexpr char key[] = "a=rtpmap:";
    constexpr std::size_t key_len = sizeof key - 1;
    for (std::size_t i = 0; i + key_len < length; ++i) {
        if (std::memcmp(data + i, key, key_len) != 0) continue;
        std::size_t at = i + key_len;
        unsigned pt = 0;
        int digits = 0;
        while (at < length && digits < 4 && std::isdigit(data[at]) != 0) pt = pt * 10 + (data[at++] - '0'), ++digits;
        if (digits == 0 || pt > 127) continue;
        while (at < length && (data[at] == ' ' || data[at] == '\t')) ++at;
        static constexpr char name[] = "g723";
        std::size_t k = 0;
        while (k < 4 && at + k < length && std::tolower(data[at + k]) == name[k]) ++k;
        // "G723" then the clock rate, not "G7231" or a longer name.
        if (k == 4 && (at + 4 == length || data[at + 4] == '/' || std::isspace(data[at + 4]) != 0)) g723.add(pt);
    }
}

}  // namespace qrxc::capture
