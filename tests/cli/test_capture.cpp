// Captures: packets parsed down to RTP, streams put back in time (loss,
// reordering, duplicates, wraps, silence), and qrx decode and info on
// capture files written with libpcap.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/capture/packet_builder.h"
#include "cli/capture/packet_parser.h"
#include "cli/capture/rtp_stream.h"
#include "cli/capture/stream_decode.h"
#include "cli/cli_support.h"
#include "common_support.h"

namespace {

using namespace qrxc::capture;
using qrxc::test::Bytes;

Bytes standard(const std::string &name) {
    return qrxc::test::read_bytes(std::string(QRXC_TEST_DATA) + "/conformance/standard/" + name);
}

std::vector<Bytes> frames_of(const Bytes &stream) {
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at < stream.size();) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(stream.data() + at, stream.size() - at, 1, nullptr, &kind);
        if (used <= 0) break;
        frames.emplace_back(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at) + used);
        at += static_cast<std::size_t>(used);
    }
    return frames;
}

// Standard frames decoded back to back on a fresh decoder.
std::vector<short> decode_frames(const std::vector<Bytes> &frames) {
    qrxc::cli::Context ctx;
    unsigned char hdr[16];
    G_header h{};
    const int type = !frames.empty() && (frames[0][0] & 3) == QRXC_G723_KIND_63 ? 2 : 1;
    Qrxc_version_ctx(ctx.get(), 1);
    EXPECT_GT(Qrxc_initial_ctx(ctx.get(), QRXC_ENCODE, 8000, type, &h, hdr), 0);
    EXPECT_GT(Qrxc_initial_ctx(ctx.get(), QRXC_DECODE, 0, 0, &h, hdr), 0);
    std::vector<short> pcm(frames.size() * 240);
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_GT(
            Qrxc_decode_standard_ctx(ctx.get(), frames[i].data(), frames[i].size(), pcm.data() + i * 240, nullptr), 0);
    return pcm;
}

struct Vector_sink : Pcm_sink {
    std::vector<short> pcm;
    bool write(const short *p, std::size_t n) override {
        pcm.insert(pcm.end(), p, p + n);
        return true;
    }
};

std::vector<short> decode_placed(const Rtp_stream &s) {
    qrxc::cli::Context ctx;
    Vector_sink sink;
    EXPECT_EQ(decode_stream(s, ctx.get(), sink), Decode_status::ok);
    return sink.pcm;
}

Packet_spec leg(std::uint16_t src_port, std::uint16_t dst_port, int link = LINK_ETHERNET, bool v6 = false) {
    Packet_spec spec;
    spec.link_type = link;
    spec.src = v6 ? ipv6_loopback() : ipv4_address(10, 0, 0, 1);
    spec.dst = v6 ? ipv6_loopback() : ipv4_address(10, 0, 0, 2);
    spec.src_port = src_port;
    spec.dst_port = dst_port;
    return spec;
}

// --- packets down to UDP and RTP ---

TEST(CapturePackets, EveryLinkAndIpVersionReachesTheUdpPayload) {
    const Bytes payload = qrxc::test::noise_bytes(33, 7);
    for (int link : {int(LINK_ETHERNET), int(LINK_LINUX_SLL), int(LINK_LINUX_SLL2), int(LINK_NULL), int(LINK_RAW)})
        for (bool v6 : {false, true})
            for (int vlan : {-1, 5}) {
                if (vlan >= 0 && link != LINK_ETHERNET) continue;
                Packet_spec spec = leg(4000, 5000, link, v6);
                spec.vlan = vlan;
                const auto bytes = build_udp_packet(spec, payload.data(), payload.size());
                SCOPED_TRACE("link " + std::to_string(link) + (v6 ? " IPv6" : " IPv4") + " vlan " +
                             std::to_string(vlan));
                Udp_datagram d;
                ASSERT_EQ(parse_packet(link, bytes.data(), bytes.size(), d), Packet_status::udp);
                EXPECT_EQ(d.src_port, 4000);
                EXPECT_EQ(d.dst_port, 5000);
                EXPECT_TRUE(d.src == spec.src && d.dst == spec.dst);
                EXPECT_TRUE(Bytes(d.payload, d.payload + d.length) == payload);
                // Every shorter capture of it is cut, never read past its end.
                for (std::size_t n = 0; n < bytes.size(); ++n) {
                    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
                    EXPECT_EQ(parse_packet(link, cut.data(), cut.size(), d), Packet_status::truncated) << n;
                }
            }
}

TEST(CapturePackets, FragmentsOtherProtocolsAndLinksAreToldApart) {
    const Bytes payload(20, 0);
    auto bytes = build_udp_packet(leg(1, 2), payload.data(), payload.size());
    Udp_datagram d;
    bytes[14 + 6] |= 0x20;  // more fragments
    EXPECT_EQ(parse_packet(LINK_ETHERNET, bytes.data(), bytes.size(), d), Packet_status::fragment);
    bytes[14 + 6] &= 0xDF;
    bytes[14 + 9] = 6;  // TCP
    EXPECT_EQ(parse_packet(LINK_ETHERNET, bytes.data(), bytes.size(), d), Packet_status::not_udp);
    bytes[12] = 0x08, bytes[13] = 0x06;  // ARP
    EXPECT_EQ(parse_packet(LINK_ETHERNET, bytes.data(), bytes.size(), d), Packet_status::not_ip);
    EXPECT_EQ(parse_packet(147, bytes.data(), bytes.size(), d), Packet_status::unknown_link);
    EXPECT_EQ(address_text(ipv4_address(192, 0, 2, 1)), "192.0.2.1");
    EXPECT_EQ(address_text(ipv6_loopback()), "::1");
}

TEST(CapturePackets, RtpHeaders) {
    struct Row {
        const char *name;
        Bytes bytes;
        bool ok;
        std::size_t offset, length;
    };
    const Bytes body = {1, 2, 3, 4, 5, 6, 7, 8};
    auto rtp = [&](std::uint8_t b0, std::uint8_t b1, const Bytes &extra, const Bytes &tail = {}) {
        Bytes b = {b0, b1, 0x12, 0x34, 0, 0, 0, 240, 0xDE, 0xAD, 0xBE, 0xEF};
        for (const Bytes *part : {&extra, &body, &tail})
            for (std::uint8_t x : *part) b.push_back(x);
        return b;
    };
    const Row rows[] = {
        {"plain", rtp(0x80, 0x84, {}), true, 12, 8},
        {"version 1", rtp(0x40, 0x04, {}), false, 0, 0},
        {"version 3", rtp(0xC0, 0x04, {}), false, 0, 0},
        {"two CSRCs", rtp(0x82, 0x04, Bytes(8, 9)), true, 20, 8},
        {"CSRCs beyond the packet", rtp(0x8F, 0x04, {}), false, 0, 0},
        {"extension", rtp(0x90, 0x04, {0xBE, 0xDE, 0, 1, 1, 2, 3, 4}), true, 20, 8},
        {"extension beyond the packet", rtp(0x90, 0x04, {0xBE, 0xDE, 0, 9}), false, 0, 0},
        {"padding", rtp(0xA0, 0x04, {}, {0, 0, 3}), true, 12, 8},
        {"padding of zero", rtp(0xA0, 0x04, {}, {0}), false, 0, 0},
        {"padding beyond the payload", rtp(0xA0, 0x04, {}, {0, 40}), false, 0, 0},
        {"RTCP sender report", rtp(0x80, 200, {}), false, 0, 0},
        {"header only", Bytes{0x80, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, true, 12, 0},
        {"short", Bytes{0x80, 4, 0, 1}, false, 0, 0},
    };
    for (const Row &r : rows) {
        Rtp_header h;
        ASSERT_EQ(parse_rtp(r.bytes.data(), r.bytes.size(), h), r.ok) << r.name;
        if (!r.ok) continue;
        EXPECT_EQ(h.payload - r.bytes.data(), static_cast<long>(r.offset)) << r.name;
        EXPECT_EQ(h.length, r.length) << r.name;
        EXPECT_EQ(h.payload_type, 4) << r.name;
    }
    Rtp_header h;
    const Bytes marked = rtp(0x80, 0x84, {});
    ASSERT_TRUE(parse_rtp(marked.data(), marked.size(), h));
    EXPECT_TRUE(h.marker);
    EXPECT_EQ(h.sequence, 0x1234);
    EXPECT_EQ(h.timestamp, 240u);
    EXPECT_EQ(h.ssrc, 0xDEADBEEFu);
}

TEST(CapturePackets, SdpNamesTheDynamicG723Types) {
    const struct {
        const char *text;
        std::set<unsigned> types;
    } rows[] = {
        {"v=0\r\nm=audio 4000 RTP/AVP 98 101\r\na=rtpmap:98 G723/8000\r\na=rtpmap:101 telephone-event/8000\r\n", {98}},
        {"a=rtpmap:97 g723/8000/1\na=rtpmap:96 G7231/8000\n", {97}},
        {"a=rtpmap:200 G723/8000", {}},
        {"a=rtpmap: G723/8000", {}},
    };
    for (const auto &r : rows) {
        Payload_types found;
        scan_sdp(reinterpret_cast<const std::uint8_t *>(r.text), std::strlen(r.text), found);
        for (unsigned pt = 0; pt < 128; ++pt) EXPECT_EQ(found.has(pt), r.types.count(pt) == 1) << r.text << pt;
    }
}

TEST(CaptureStreams, ErasedFramesAreConcealedAtEitherRate) {
    for (int rate : {QRXC_G723_KIND_63, QRXC_G723_KIND_53}) {
        std::uint8_t bytes[QRXC_G723_STANDARD_MAX_BYTES];
        const int n = erased_frame(rate, bytes);
        unsigned char frame[QRXC_MAX_FRAME_BYTES];
        const int type = rate == QRXC_G723_KIND_63 ? 2 : 1;
        int kind = -1;
        ASSERT_EQ(Qrxc_g723_from_standard(bytes, static_cast<std::size_t>(n), type, frame, &kind), n);
        EXPECT_EQ(kind, rate);
        EXPECT_EQ(Qrxc_frame_concealed(type, frame), 1);
    }
}

// --- streams put in time ---

// A call leg sent with faults: packets lost (their sequence numbers used),
// left silent (not sent, numbers not used: DTX), sent twice, or sent later.
struct Scenario {
    const char *name;
    std::uint16_t seq0;
    std::uint32_t ts0;
    int per_packet;
    std::set<int> lost, silent;
    std::vector<int> twice;
    std::vector<std::pair<int, int>> later;  // packet, how many places later
    int jump_at = -1;                        // from this packet on, timestamps jump by an hour
    std::uint64_t lost_count = 0, reordered = 0, duplicates = 0, late = 0;
};

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

constexpr std::uint32_t SSRC = 0x1234ABCD;
constexpr int SID_AT = 40;

struct Staged {
    std::vector<Bytes> packets;          // link-layer packets in sending order
    std::vector<Bytes> expected_frames;  // what the receiver should decode, 30 ms each
};

Staged stage(const Scenario &sc, const std::vector<Bytes> &source, const Packet_spec &spec, std::uint32_t ssrc = SSRC,
             std::uint8_t pt = 4) {
    std::vector<Bytes> frames = source;
    frames[SID_AT] = {0x02 | 0x54, 0x31, 0x7A, 0x05};  // a silence descriptor
    Staged st;
    std::vector<Bytes> rtp;
    int silent_before = 0;
    std::uint8_t rate = frames[0][0] & 3;
    std::set<int> late;
    for (const auto &[p, d] : sc.later)
        if (d > static_cast<int>(JITTER_WINDOW)) late.insert(p);
    const int count = static_cast<int>(frames.size()) / sc.per_packet;
    std::vector<int> order;
    for (int i = 0; i < count; ++i) {
        Bytes payload;
        for (int k = 0; k < sc.per_packet; ++k)
            payload.insert(payload.end(), frames[i * sc.per_packet + k].begin(), frames[i * sc.per_packet + k].end());
        const bool silent = sc.silent.count(i) == 1;
        for (int k = 0; k < sc.per_packet; ++k) {
            const Bytes &f = frames[static_cast<std::size_t>(i * sc.per_packet + k)];
            if (silent)
                st.expected_frames.push_back({QRXC_G723_KIND_UNTRANSMITTED});
            else if (sc.lost.count(i) == 1 || late.count(i) == 1) {
                Bytes e(24);
                e.resize(static_cast<std::size_t>(erased_frame(rate, e.data())));
                st.expected_frames.push_back(e);
            } else
                st.expected_frames.push_back(f);
            if (!silent && sc.lost.count(i) == 0 && late.count(i) == 0 && (f[0] & 3) <= 1) rate = f[0] & 3;
        }
        if (silent) {
            ++silent_before;
            rtp.emplace_back();
            continue;
        }
        std::uint32_t ts = sc.ts0 + static_cast<std::uint32_t>(240 * sc.per_packet * i);
        if (sc.jump_at >= 0 && i >= sc.jump_at) ts += 3600 * 8000;
        // From the jump on the sender numbers afresh too, from further back.
        const int renumbered = sc.jump_at >= 0 && i >= sc.jump_at ? -20000 : 0;
        rtp.push_back(build_rtp(pt, i == 0, static_cast<std::uint16_t>(sc.seq0 + i - silent_before + renumbered), ts,
                                ssrc, payload.data(), payload.size()));
        if (sc.lost.count(i) == 0) order.push_back(i);
    }
    for (int d : sc.twice) order.insert(std::find(order.begin(), order.end(), d) + 3, d);
    for (const auto &[p, d] : sc.later) {
        auto it = std::find(order.begin(), order.end(), p);
        const long at = std::min<long>(it - order.begin() + d, static_cast<long>(order.size()) - 1);
        order.erase(it);
        order.insert(order.begin() + at, p);
    }
    for (int i : order) st.packets.push_back(build_udp_packet(spec, rtp[i].data(), rtp[i].size()));
    return st;
}

const std::vector<Bytes> &speech() {
    static const std::vector<Bytes> frames = frames_of(standard("CODEC63_RCO.bit"));
    return frames;
}

class CaptureScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(CaptureScenario, DecodesAsTheFramesPlacedAtTheirTimestamps) {
    const Scenario &sc = GetParam();
    ASSERT_GT(speech().size(), 200u);
    const std::vector<Bytes> source(speech().begin(), speech().begin() + 200);
    const Staged st = stage(sc, source, leg(4000, 5000));
    Stream_collector collector;
    double t = 100;
    for (const Bytes &p : st.packets) collector.add_packet(LINK_ETHERNET, p.data(), p.size(), t += 0.03);
    const auto streams = collector.finish();
    ASSERT_EQ(streams.size(), 1u);
    const Rtp_stream &s = *streams[0];
    const Stream_stats &stats = s.stats();
    EXPECT_EQ(stats.lost, sc.lost_count);
    EXPECT_EQ(stats.reordered, sc.reordered);
    EXPECT_EQ(stats.duplicates, sc.duplicates);
    EXPECT_EQ(stats.late, sc.late);
    EXPECT_EQ(stats.frames[QRXC_G723_KIND_SID], sc.silent.count(SID_AT / sc.per_packet) == 1 ? 0u : 1u);
    EXPECT_EQ(stats.unfilled_jumps, sc.jump_at >= 0 ? 1u : 0u);
    ASSERT_EQ(s.frame_count(), st.expected_frames.size());
    EXPECT_TRUE(decode_placed(s) == decode_frames(st.expected_frames));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CaptureScenario,
    ::testing::Values(
        Scenario{"clean", 1000, 5000, 1, {}, {}, {}, {}}, Scenario{"wraps", 65500, 0xFFFFF000u, 1, {}, {}, {}, {}},
        Scenario{"loss_reorder_duplicates", 7, 0, 1, {10, 11, 50}, {}, {60, 61}, {{20, 1}, {30, 5}}, -1, 3, 2, 2, 0},
        Scenario{"silence_after_sid", 300, 90000, 1, {}, {41, 42, 43, 44, 45, 46, 47, 48, 60}, {}, {}},
        Scenario{"two_frames_a_packet", 65530, 0xFFFFFF00u, 2, {7}, {30, 31, 32}, {}, {}, -1, 1},
        Scenario{"too_late", 1, 1, 1, {}, {}, {}, {{20, 100}}, -1, 1, 0, 0, 1},
        Scenario{"timestamp_jump", 1, 1, 1, {}, {}, {}, {}, 120}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(CaptureStreams, StreamsAreToldApartAndGarbageIsLeftOut) {
    const std::vector<Bytes> source(speech().begin(), speech().begin() + 60);
    const Scenario clean{"clean", 1, 1, 1, {}, {}, {}, {}};
    const Staged a = stage(clean, source, leg(4000, 5000), 0xA);
    const Staged b = stage(clean, source, leg(5000, 4000), 0xB, 98);  // named G723 by the SDP below
    const Staged c = stage(clean, source, leg(6000, 7000), 0xC, 99);  // not named: left out
    Stream_collector collector;
    const std::string sdp = "INVITE sip:x SIP/2.0\r\n\r\nv=0\r\nm=audio 4000 RTP/AVP 98\r\na=rtpmap:98 G723/8000\r\n";
    const Bytes garbage = qrxc::test::noise_bytes(30, 3);
    const auto sip = build_udp_packet(leg(5060, 5060), reinterpret_cast<const std::uint8_t *>(sdp.data()), sdp.size());
    for (std::size_t i = 0; i < a.packets.size(); ++i) {
        const double t = 1.0 + 0.03 * static_cast<double>(i);
        collector.add_packet(LINK_ETHERNET, a.packets[i].data(), a.packets[i].size(), t);
        collector.add_packet(LINK_ETHERNET, b.packets[i].data(), b.packets[i].size(), t + 0.01);
        collector.add_packet(LINK_ETHERNET, c.packets[i].data(), c.packets[i].size(), t + 0.02);
        const auto junk = build_udp_packet(leg(4000, 5000), garbage.data(), garbage.size() - i % 7);
        collector.add_packet(LINK_ETHERNET, junk.data(), junk.size(), t);
    }
    collector.add_packet(LINK_ETHERNET, sip.data(), sip.size(), 3.0);
    const auto streams = collector.finish();
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]->key().ssrc, 0xAu);
    EXPECT_EQ(streams[1]->key().ssrc, 0xBu);
    for (const Rtp_stream *s : streams) {
        EXPECT_EQ(s->stats().packets, 60u);
        EXPECT_TRUE(decode_placed(*s) == decode_frames(a.expected_frames));
    }
}

// --- qrx on capture files ---

#ifdef QRX_CLI

qrxc::test::Command_result qrx(const std::string &args) {
    return qrxc::test::run_command(std::string(QRX_CLI) + " " + args + " 2>&1");
}

// Packets into a pcap file through libpcap's own writer; snap > 0 cuts them.
void write_pcap(const std::string &path, const std::vector<Bytes> &packets, int link = LINK_ETHERNET, int snap = 0) {
    pcap_t *dead = pcap_open_dead(link, 65535);
    pcap_dumper_t *d = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(d, nullptr);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 1700000000 + static_cast<long>(i / 33);
        h.ts.tv_usec = static_cast<long>(i % 33) * 30000;
        h.len = static_cast<bpf_u_int32>(packets[i].size());
        h.caplen = snap > 0 ? std::min<bpf_u_int32>(h.len, static_cast<bpf_u_int32>(snap)) : h.len;
        pcap_dump(reinterpret_cast<u_char *>(d), &h, packets[i].data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
}

// The same as pcapng (section header, one interface, enhanced packet blocks).
void write_pcapng(const std::string &path, const std::vector<Bytes> &packets, int link) {
    Bytes f;
    auto block = [&f](std::uint32_t type, const Bytes &body) {
        const auto len = static_cast<std::uint32_t>(12 + (body.size() + 3) / 4 * 4);
        qrxc::test::put32(f, type);
        qrxc::test::put32(f, len);
        f.insert(f.end(), body.begin(), body.end());
        f.resize(f.size() + (4 - body.size() % 4) % 4, 0);
        qrxc::test::put32(f, len);
    };
    Bytes shb;
    qrxc::test::put32(shb, 0x1A2B3C4D);
    qrxc::test::put16(shb, 1);
    qrxc::test::put16(shb, 0);
    qrxc::test::put32(shb, 0xFFFFFFFF);
    qrxc::test::put32(shb, 0xFFFFFFFF);
    block(0x0A0D0D0A, shb);
    Bytes idb;
    qrxc::test::put16(idb, static_cast<unsigned>(link));
    qrxc::test::put16(idb, 0);
    qrxc::test::put32(idb, 65535);
    block(1, idb);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        Bytes epb;
        const std::uint64_t us = 1700000000ull * 1000000 + i * 30000;
        qrxc::test::put32(epb, 0);
        qrxc::test::put32(epb, static_cast<std::uint32_t>(us >> 32));
        qrxc::test::put32(epb, static_cast<std::uint32_t>(us));
        qrxc::test::put32(epb, static_cast<std::uint32_t>(packets[i].size()));
        qrxc::test::put32(epb, static_cast<std::uint32_t>(packets[i].size()));
        epb.insert(epb.end(), packets[i].begin(), packets[i].end());
        block(6, epb);
    }
    qrxc::test::write_bytes(path, f);
}

Bytes wav_of(const std::vector<short> &pcm) {
    Bytes data;
    for (short v : pcm) qrxc::test::put16(data, static_cast<unsigned short>(v));
    return qrxc::test::wav_file(8000, data);
}

TEST(CaptureCli, DecodeWritesOneRecordingPerStreamAndInfoListsThem) {
    const qrxc::test::Scratch_dir dir;
    const std::vector<Bytes> source(speech().begin(), speech().begin() + 100);
    const Staged a = stage({"a", 1, 1, 1, {5}, {50, 51}, {}, {{9, 2}}}, source, leg(4000, 5000), 0xA1B2C3D4);
    const Staged b = stage({"b", 9, 9, 1, {}, {}, {20}, {}}, source, leg(5000, 4000), 0x00000B0B);
    std::vector<Bytes> packets;
    for (std::size_t i = 0; i < std::max(a.packets.size(), b.packets.size()); ++i) {
        if (i < a.packets.size()) packets.push_back(a.packets[i]);
        if (i < b.packets.size()) packets.push_back(b.packets[i]);
    }
    write_pcap(dir.file("call.pcap"), packets);
    const auto r = qrx("decode -q " + dir.file("call.pcap") + " -O " + dir.file("out"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(qrxc::test::read_bytes(dir.file("out/call.4000_5000.a1b2c3d4.wav")) ==
                wav_of(decode_frames(a.expected_frames)));
    EXPECT_TRUE(qrxc::test::read_bytes(dir.file("out/call.5000_4000.00000b0b.wav")) ==
                wav_of(decode_frames(b.expected_frames)));
    EXPECT_EQ(qrxc::test::tree(dir.file("out")).size(), 2u);

    const auto info = qrx("info --json " + dir.file("call.pcap"));
    ASSERT_EQ(info.status, 0) << info.out;
    for (const char *want : {"\"ssrc\": \"a1b2c3d4\"", "\"ssrc\": \"00000b0b\"", "\"lost\": 1", "\"duplicates\": 1",
                             "\"reordered\": 1", "\"sid_frames\": 1", "\"rates\": [\"6.3\"]", "\"duration\": 3.000"})
        EXPECT_NE(info.out.find(want), std::string::npos) << want << "\n" << info.out;

    // One stream picked; -o then names its output.
    const auto one = qrx("decode -q --stream 0xb0b " + dir.file("call.pcap") + " -o " + dir.file("b.wav"));
    ASSERT_EQ(one.status, 0) << one.out;
    EXPECT_TRUE(qrxc::test::read_bytes(dir.file("b.wav")) == wav_of(decode_frames(b.expected_frames)));
    EXPECT_NE(qrx("decode -q " + dir.file("call.pcap") + " -o " + dir.file("x.wav")).status, 0);
}

TEST(CaptureCli, DamagedAndEmptyCaptures) {
    const qrxc::test::Scratch_dir dir;
    const std::vector<Bytes> source(speech().begin(), speech().begin() + 50);
    const Staged a = stage({"a", 1, 1, 1, {}, {}, {}, {}}, source, leg(4000, 5000));

    // pcapng over Linux cooked capture reads like pcap over Ethernet.
    const Staged cooked = stage({"a", 1, 1, 1, {}, {}, {}, {}}, source, leg(4000, 5000, LINK_LINUX_SLL2, true));
    write_pcapng(dir.file("ng.pcapng"), cooked.packets, LINK_LINUX_SLL2);
    ASSERT_EQ(qrx("decode -q " + dir.file("ng.pcapng")).status, 0);
    EXPECT_TRUE(qrxc::test::read_bytes(dir.file("ng.4000_5000.1234abcd.wav")) ==
                wav_of(decode_frames(a.expected_frames)));

    // Cut inside the last packet: a warning, and the packets before it.
    write_pcap(dir.file("cut.pcap"), a.packets);
    Bytes cut = qrxc::test::read_bytes(dir.file("cut.pcap"));
    cut.resize(cut.size() - 10);
    qrxc::test::write_bytes(dir.file("cut.pcap"), cut);
    auto r = qrx("decode -q " + dir.file("cut.pcap"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ends inside a packet"), std::string::npos) << r.out;

    // A snap length shorter than the packets: nothing usable, said so, exit 1.
    write_pcap(dir.file("snap.pcap"), a.packets, LINK_ETHERNET, 50);
    r = qrx("decode -q " + dir.file("snap.pcap"));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("cut short"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("no G.723.1 RTP streams"), std::string::npos) << r.out;

    // Not a capture at all, and a capture of other traffic.
    qrxc::test::write_bytes(dir.file("junk.pcap"), qrxc::test::noise_bytes(100, 1));
    EXPECT_EQ(qrx("decode -q " + dir.file("junk.pcap")).status, 3);
    const Bytes noise = qrxc::test::noise_bytes(40, 2);
    write_pcap(dir.file("other.pcap"), {build_udp_packet(leg(53, 53), noise.data(), noise.size())});
    EXPECT_EQ(qrx("info " + dir.file("other.pcap")).status, 1);
    EXPECT_EQ(qrx("decode " + dir.file("missing.pcap")).status, 2);
    EXPECT_EQ(qrxc::test::tree(dir.path()).size(), 7u);  // nothing written for the failures
}

TEST(CaptureCli, ExportedCaptureDecodesAsTheStandardStream) {
    const qrxc::test::Scratch_dir dir;
    const std::string qrx_in = std::string(QRXC_TEST_DATA) + "/conformance/decode/OVERD53.QRX";
    ASSERT_EQ(qrx("export -q " + qrx_in + " --pcap " + dir.file("x.pcap")).status, 0);
    ASSERT_EQ(qrx("decode -q " + dir.file("x.pcap") + " --stream 51525801 -o " + dir.file("x.wav")).status, 0);
    ASSERT_EQ(
        qrx("decode -q " + std::string(QRXC_TEST_DATA) + "/conformance/standard/OVERD53.bit -o " + dir.file("ref.wav"))
            .status,
        0);
    EXPECT_TRUE(qrxc::test::read_bytes(dir.file("x.wav")) == qrxc::test::read_bytes(dir.file("ref.wav")));
}

// A call leg sent for real over loopback and captured by tcpdump (bounded:
// a packet count and a timeout); skipped where capturing is not allowed.
TEST(CaptureCli, LoopbackCaptureByTcpdump) {
    if (std::system("command -v tcpdump >/dev/null 2>&1") != 0) GTEST_SKIP() << "tcpdump is not installed";
    const qrxc::test::Scratch_dir dir;
    auto udp_socket = [] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return std::make_pair(-1, 0);
        return std::make_pair(fd, int(ntohs(a.sin_port)));
    };
    const auto [rx, rx_port] = udp_socket();
    const auto [tx, tx_port] = udp_socket();
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    constexpr int PACKETS = 40;
    const std::string cmd = "timeout 20 tcpdump -i lo -U -c " + std::to_string(PACKETS) + " -w " + dir.file("lo.pcap") +
                            " udp and dst port " + std::to_string(rx_port) + " 2>&1";
    std::FILE *dump = ::popen(cmd.c_str(), "r");
    ASSERT_NE(dump, nullptr);
    char line[512] = {};
    const bool listening = std::fgets(line, sizeof line, dump) != nullptr && std::strstr(line, "listening") != nullptr;
    const std::vector<Bytes> source(speech().begin(), speech().begin() + PACKETS);
    std::vector<Bytes> rtp;
    for (int i = 0; i < PACKETS; ++i)
        rtp.push_back(build_rtp(4, i == 0, static_cast<std::uint16_t>(i), static_cast<std::uint32_t>(240 * i), SSRC,
                                source[static_cast<std::size_t>(i)].data(),
                                source[static_cast<std::size_t>(i)].size()));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(rx_port));
    for (int round = 0; listening && round < PACKETS; ++round)
        ::sendto(tx, rtp[static_cast<std::size_t>(round)].data(), rtp[static_cast<std::size_t>(round)].size(), 0,
                 reinterpret_cast<sockaddr *>(&to), sizeof to);
    ::pclose(dump);
    ::close(tx);
    ::close(rx);
    if (!listening) GTEST_SKIP() << "tcpdump cannot capture on lo here: " << line;
    const auto r = qrx("decode -q " + dir.file("lo.pcap") + " -o " + dir.file("lo.wav"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(qrxc::test::read_bytes(dir.file("lo.wav")) == wav_of(decode_frames(source)));
    EXPECT_NE(qrx("info " + dir.file("lo.pcap")).out.find(std::to_string(tx_port) + " -> 127.0.0.1 port"),
              std::string::npos);
}

#endif

}  // namespace
