// Captured-packet bytes for a UDP datagram: what qrx export --pcap writes
// and what the tests stage captures with. Pure, like the parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cli/capture/packet_parser.h"

namespace qrxc::capture {

struct Packet_spec {
    int link_type = LINK_ETHERNET;  // ETHERNET, LINUX_SLL, LINUX_SLL2, NULL, RAW
    int vlan = -1;                  // >= 0: one 802.1Q tag (Ethernet only)
    Address src, dst;               // IPv6 when src.v6
    std::uint16_t src_port = 0, dst_port = 0;
};

// The packet, from its link header to the end of the payload.
std::vector<std::uint8_t> build_udp_packet(const Packet_spec &spec, const std::uint8_t *payload, std::size_t length);

// An RTP packet (version 2, no CSRC, extension or padding).
std::vector<std::uint8_t> build_rtp(std::uint8_t payload_type, bool marker, std::uint16_t sequence,
                                    std::uint32_t timestamp, std::uint32_t ssrc, const std::uint8_t *payload,
                                    std::size_t length);

Address ipv4_address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);
Address ipv6_loopback();

}  // namespace qrxc::capture
