// RTP streams of a capture, put in time: the packets of one SSRC and
// 5-tuple go through a bounded jitter window (reordered ones put back,
// duplicates dropped, sequence and timestamp wraps followed) and come out
// as a run of frame slots, one per 30 ms of the stream's timestamp span.
// Pure: packets in, slots out, no capture library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cli/capture/packet_parser.h"

namespace qrxc::capture {

inline constexpr int SAMPLES_PER_FRAME = 240;  // 30 ms at the 8000 Hz RTP clock
inline constexpr int STATIC_G723_PT = 4;
// Packets held to wait for late ones: about two seconds of single-frame packets.
inline constexpr std::size_t JITTER_WINDOW = 64;
// A timestamp jump beyond this is no silence but a broken or restarted
// sender: it is reported and not filled, so the output stays bounded.
inline constexpr std::int64_t MAX_GAP_SAMPLES = 10 * 60 * 8000;

struct Stream_key {
    std::uint32_t ssrc = 0;
    Address src, dst;
    std::uint16_t src_port = 0, dst_port = 0;
    auto operator<=>(const Stream_key &) const = default;
};

enum class Slot_kind : std::uint8_t {
    coded,          // frame bytes as received
    untransmitted,  // a timestamp gap with nothing lost: the sender sent nothing
    erased          // lost packets' frames: the decoder conceals them
};

// One coded frame, or a run of filled ones.
struct Frame_slot {
    Slot_kind kind = Slot_kind::coded;
    std::uint8_t length = 0;  // coded: the frame's bytes
    std::uint8_t rate = 0;    // erased: QRXC_G723_KIND_63 or _53, the rate last received
    std::uint32_t value = 0;  // coded: offset into frame_bytes(); filled: the frame count
};

struct Stream_stats {
    std::uint64_t packets = 0;     // G.723.1 packets placed
    std::uint64_t lost = 0;        // sequence numbers never seen in time
    std::uint64_t reordered = 0;   // arrived after a later one and put back
    std::uint64_t duplicates = 0;  // dropped
    std::uint64_t late = 0;        // arrived after the window had moved past them: dropped
    std::uint64_t bad_payloads = 0;
    std::uint64_t other_payloads = 0;  // same stream, another payload type (DTMF events, ...)
    std::uint64_t frames[4] = {};      // by QRXC_G723_KIND_*
    std::uint64_t filled_untransmitted = 0, filled_erased = 0;
    std::uint64_t overlapping_frames = 0;  // dropped: their timestamps were already played
    std::uint64_t unfilled_jumps = 0;
    double first_time = 0, last_time = 0;  // capture times of the first and last packet, seconds
};

class Rtp_stream {
public:
    explicit Rtp_stream(const Stream_key &key) : key_(key) {}

    void add(const Rtp_header &rtp, double time);
    // Puts the packets in time; g723 says which payload types carry G.723.1.
    // Run once, after the whole capture has been read.
    void place(const Payload_types &g723);

    const Stream_key &key() const { return key_; }
    bool has_payload_type(const Payload_types &g723) const;
    const std::vector<Frame_slot> &slots() const { return slots_; }
    const std::vector<std::uint8_t> &frame_bytes() const { return bytes_; }
    const Stream_stats &stats() const { return stats_; }
    // Frames the slots stand for: the timestamp span in 30 ms frames.
    std::uint64_t frame_count() const { return frame_count_; }
    // Why parts of the stream were not placed as received (jumps), in words.
    const std::vector<std::string> &notes() const { return notes_; }
    std::uint32_t first_timestamp() const { return first_timestamp_; }

private:
    struct Packet {
        std::int64_t seq = 0;  // extended across wraps
        std::uint32_t timestamp = 0;
        double time = 0;
        std::uint32_t offset = 0, length = 0;  // payload in payloads_
        std::uint8_t payload_type = 0;
    };
    void emit(const Packet &p, const Payload_types &g723);
    void fill(std::int64_t frames, Slot_kind kind);

    Stream_key key_;
    std::vector<Packet> packets_;  // capture order
    std::vector<std::uint8_t> payloads_;
    Payload_types seen_types_;

    std::vector<Frame_slot> slots_;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::string> notes_;
    Stream_stats stats_;
    std::uint64_t frame_count_ = 0;
    std::uint32_t first_timestamp_ = 0;

    std::int64_t highest_seq_ = 0;  // while adding

    // Placement state.
    bool started_ = false;  // a G.723.1 packet placed
    bool have_seq_ = false;
    std::int64_t last_seq_ = 0;      // last sequence number emitted
    std::int64_t last_ts_ = 0;       // extended timestamp of the last G.723.1 packet
    std::int64_t next_ts_ = 0;       // where the next frame belongs
    std::int64_t pending_lost_ = 0;  // lost since the last G.723.1 packet
    std::uint64_t lost_frames_each_ = 1;
    std::uint8_t last_rate_ = 0;
};

// Every RTP stream of a capture, packet by packet.
struct Capture_counts {
    std::uint64_t packets = 0, udp = 0, rtp = 0;
    std::uint64_t not_ip = 0, not_udp = 0, fragments = 0, truncated = 0, unknown_link = 0;
};

class Stream_collector {
public:
    // rtp_pt >= 0: that payload type carries G.723.1 too.
    explicit Stream_collector(int rtp_pt = -1);
    void add_packet(int link_type, const std::uint8_t *data, std::size_t caplen, double time);
    // Places every stream; returns the G.723.1 ones, in order of first packet.
    std::vector<const Rtp_stream *> finish();
    const Capture_counts &counts() const { return counts_; }
    const Payload_types &g723_types() const { return g723_; }

private:
    Payload_types g723_;
    Capture_counts counts_;
    std::map<Stream_key, Rtp_stream> streams_;
};

}  // namespace qrxc::capture
