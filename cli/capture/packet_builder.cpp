#include "cli/capture/packet_builder.h"

namespace qrxc::capture {
namespace {

void put16(std::vector<std::uint8_t> &b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}
void put32(std::vector<std::uint8_t> &b, std::uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// The one's-complement sum the IPv4 header checksum is made of.
std::uint16_t checksum(const std::uint8_t *p, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

Address ipv4_address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    Address x;
    x.bytes[0] = a, x.bytes[1] = b, x.bytes[2] = c, x.bytes[3] = d;
    return x;
}

Address ipv6_loopback() {
    Address x;
    x.v6 = true;
    x.bytes[15] = 1;
    return x;
}

std::vector<std::uint8_t> build_rtp(std::uint8_t payload_type, bool marker, std::uint16_t sequence,
                                    std::uint32_t timestamp, std::uint32_t ssrc, const std::uint8_t *payload,
                                    std::size_t length) {
    std::vector<std::uint8_t> b = {0x80, static_cast<std::uint8_t>((marker ? 0x80 : 0) | (payload_type & 0x7F))};
    put16(b, sequence);
    put32(b, timestamp);
    put32(b, ssrc);
    b.insert(b.end(), payload, payload + length);
    return b;
}

std::vector<std::uint8_t> build_udp_packet(const Packet_spec &spec, const std::uint8_t *payload, std::size_t length) {
    const bool v6 = spec.src.v6;
    std::vector<std::uint8_t> b;
    const unsigned ethertype = v6 ? 0x86DD : 0x0800;
    switch (spec.link_type) {
    case LINK_ETHERNET:
        b.assign(12, 0);
        b[0] = 0x02, b[6] = 0x02, b[11] = 1;  // locally administered addresses
        if (spec.vlan >= 0) {
            put16(b, 0x8100);
            put16(b, static_cast<unsigned>(spec.vlan) & 0x0FFF);
        }
        put16(b, ethertype);
        break;
    case LINK_LINUX_SLL:
        put16(b, 0);  // sent to us
        put16(b, 772);
        put16(b, 0);
        b.insert(b.end(), 8, 0);
        put16(b, ethertype);
        break;
    case LINK_LINUX_SLL2:
        put16(b, ethertype);
        put16(b, 0);
        put32(b, 1);  // interface index
        put16(b, 772);
        b.push_back(0);
        b.push_back(0);
        b.insert(b.end(), 8, 0);
        break;
    case LINK_NULL: {
        const std::uint32_t family = v6 ? 30 : 2;
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(family >> (8 * i)));
        break;
    }
    default: break;  // raw IP
    }
    const std::size_t udp_length = 8 + length;
    if (v6) {
        put32(b, 0x60000000);
        put16(b, static_cast<unsigned>(udp_length));
        b.push_back(17);
        b.push_back(64);
        b.insert(b.end(), spec.src.bytes.begin(), spec.src.bytes.end());
        b.insert(b.end(), spec.dst.bytes.begin(), spec.dst.bytes.end());
    } else {
        const std::size_t ip = b.size();
        b.push_back(0x45);
        b.push_back(0);
        put16(b, static_cast<unsigned>(20 + udp_length));
        put16(b, 0);
        put16(b, 0x4000);  // don't fragment
        b.push_back(64);
        b.push_back(17);
        put16(b, 0);
        b.insert(b.end(), spec.src.bytes.begin(), spec.src.bytes.begin() + 4);
        b.insert(b.end(), spec.dst.bytes.begin(), spec.dst.bytes.begin() + 4);
        const std::uint16_t sum = checksum(b.data() + ip, 20);
        b[ip + 10] = static_cast<std::uint8_t>(sum >> 8);
        b[ip + 11] = static_cast<std::uint8_t>(sum);
    }
    put16(b, spec.src_port);
    put16(b, spec.dst_port);
    put16(b, static_cast<unsigned>(udp_length));
    put16(b, 0);  // no checksum: allowed for IPv4, and a reader need not check it
    b.insert(b.end(), payload, payload + length);
    return b;
}

}  // namespace qrxc::capture
