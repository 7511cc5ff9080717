#include "cli/capture/rtp_stream.h"

#include <algorithm>
#include <cstdio>

#include "qrxc.h"

namespace qrxc::capture {
namespace {

// The kinds and byte count of the frames a payload holds back to back;
// false unless they fill it exactly.
bool split_frames(const std::uint8_t *p, std::size_t n, int *kinds, int &count, int max) {
    count = 0;
    for (std::size_t at = 0; at < n;) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(p + at, n - at, 1, nullptr, &kind);
        if (used <= 0 || count == max) return false;
        kinds[count++] = kind;
        at += static_cast<std::size_t>(used);
    }
    return count > 0;
}

constexpr int MAX_FRAMES_PER_PACKET = 64;
// Sequence numbers further behind than this are renumbering, not reordering;
// gaps longer than MAX_DROPOUT are not counted as loss.
constexpr int MAX_MISORDER = 512;
constexpr std::int64_t MAX_DROPOUT = 3000;

}  // namespace

void Rtp_stream::add(const Rtp_header &rtp, double time) {
    Packet p;
    // Sequence numbers extended across wraps, relative to the highest seen.
    if (packets_.empty()) {
        p.seq = rtp.sequence;
        highest_seq_ = p.seq;
    } else {
        int delta = static_cast<std::int16_t>(rtp.sequence - static_cast<std::uint16_t>(highest_seq_));
        // Far behind is no late packet but a sender that numbered afresh: ahead.
        if (delta < -MAX_MISORDER) delta += 65536;
        p.seq = highest_seq_ + delta;
        highest_seq_ = std::max(highest_seq_, p.seq);
    }
    p.timestamp = rtp.timestamp;
    p.time = time;
    p.payload_type = rtp.payload_type;
    p.offset = static_cast<std::uint32_t>(payloads_.size());
    p.length = static_cast<std::uint32_t>(rtp.length);
    payloads_.insert(payloads_.end(), rtp.payload, rtp.payload + rtp.length);
    seen_types_.add(rtp.payload_type);
    packets_.push_back(p);
}

bool Rtp_stream::has_payload_type(const Payload_types &g723) const {
    return ((seen_types_.bits[0] & g723.bits[0]) | (seen_types_.bits[1] & g723.bits[1])) != 0;
}

void Rtp_stream::fill(std::int64_t frames, Slot_kind kind) {
    if (frames <= 0) return;
    Frame_slot s;
    s.kind = kind;
    s.rate = last_rate_;
    s.value = static_cast<std::uint32_t>(frames);
    slots_.push_back(s);
    frame_count_ += static_cast<std::uint64_t>(frames);
    (kind == Slot_kind::erased ? stats_.filled_erased : stats_.filled_untransmitted) +=
        static_cast<std::uint64_t>(frames);
}

void Rtp_stream::emit(const Packet &p, const Payload_types &g723) {
    // A jump beyond any plausible loss is renumbering; the timestamps then
    // tell how much time passed.
    if (have_seq_ && p.seq > last_seq_ + 1 && p.seq - last_seq_ <= MAX_DROPOUT) {
        pending_lost_ += p.seq - last_seq_ - 1;
        stats_.lost += static_cast<std::uint64_t>(p.seq - last_seq_ - 1);
    }
    if (!have_seq_ || p.seq > last_seq_) last_seq_ = p.seq;
    have_seq_ = true;
    if (!g723.has(p.payload_type)) {
        ++stats_.other_payloads;
        return;
    }
    const std::uint8_t *payload = payloads_.data() + p.offset;
    int kinds[MAX_FRAMES_PER_PACKET];
    int count = 0;
    if (!split_frames(payload, p.length, kinds, count, MAX_FRAMES_PER_PACKET)) {
        // Not G.723.1 after all: its frames are lost, and concealed as such.
        ++stats_.bad_payloads;
        ++pending_lost_;
        return;
    }
    std::int64_t ts = p.timestamp;
    int skip = 0;
    if (!started_) {
        started_ = true;
        first_timestamp_ = p.timestamp;
        next_ts_ = ts;
        stats_.first_time = p.time;
        for (int i = 0; i < count && last_rate_ == 0; ++i)
            if (kinds[i] <= QRXC_G723_KIND_53) last_rate_ = static_cast<std::uint8_t>(kinds[i]);
    } else {
        ts = last_ts_ + static_cast<std::int32_t>(p.timestamp - static_cast<std::uint32_t>(last_ts_));
        const std::int64_t gap = ts - next_ts_;
        const std::int64_t gap_frames = (gap + (gap >= 0 ? 1 : -1) * SAMPLES_PER_FRAME / 2) / SAMPLES_PER_FRAME;
        if (gap > MAX_GAP_SAMPLES || gap < -MAX_GAP_SAMPLES) {
            char text[160];
            std::snprintf(text, sizeof text, "timestamp jumps by %.1f s at sequence number %u; the jump is not filled",
                          static_cast<double>(gap) / 8000, static_cast<unsigned>(p.seq & 0xFFFF));
            notes_.emplace_back(text);
            ++stats_.unfilled_jumps;
            next_ts_ = ts;
        } else if (gap_frames > 0) {
            // Lost packets' frames first, as erasures; the rest of the gap the sender left silent.
            const std::int64_t erased =
                std::min<std::int64_t>(gap_frames, pending_lost_ * static_cast<std::int64_t>(lost_frames_each_));
            fill(erased, Slot_kind::erased);
            fill(gap_frames - erased, Slot_kind::untransmitted);
        } else if (gap_frames < 0) {
            // Frames for times already played (a sender repeating itself): keep what came first.
            skip = static_cast<int>(std::min<std::int64_t>(-gap_frames, count));
            stats_.overlapping_frames += static_cast<std::uint64_t>(skip);
        }
    }
    pending_lost_ = 0;
    lost_frames_each_ = static_cast<std::uint64_t>(count);
    last_ts_ = ts;
    ++stats_.packets;
    stats_.first_time = std::min(stats_.first_time, p.time);
    stats_.last_time = std::max(stats_.last_time, p.time);
    std::size_t at = 0;
    for (int i = 0; i < count; ++i) {
        int kind = -1;
        const int used = Qrxc_g723_from_standard(payload + at, p.length - at, 1, nullptr, &kind);
        ++stats_.frames[kind];
        if (kind <= QRXC_G723_KIND_53) last_rate_ = static_cast<std::uint8_t>(kind);
        if (i >= skip) {
            Frame_slot s;
            s.kind = Slot_kind::coded;
            s.length = static_cast<std::uint8_t>(used);
            s.value = static_cast<std::uint32_t>(bytes_.size());
            bytes_.insert(bytes_.end(), payload + at, payload + at + used);
            slots_.push_back(s);
            ++frame_count_;
        }
        at += static_cast<std::size_t>(used);
    }
    next_ts_ = std::max(next_ts_, ts + static_cast<std::int64_t>(count) * SAMPLES_PER_FRAME);
}

void Rtp_stream::place(const Payload_types &g723) {
    // The window: packets wait, ordered by sequence number, until the window
    // is full; the earliest then leaves. One that arrives after its place has
    // been passed is late (it was concealed) or a duplicate.
    std::map<std::int64_t, const Packet *> window;
    std::int64_t emitted = INT64_MIN, highest = INT64_MIN;
    std::vector<std::int64_t> recent(1024, INT64_MIN);  // sequence numbers emitted lately, for duplicates
    auto pop = [&] {
        const auto it = window.begin();
        emit(*it->second, g723);
        emitted = it->first;
        recent[static_cast<std::size_t>(it->first) & (recent.size() - 1)] = it->first;
        window.erase(it);
    };
    for (const Packet &p : packets_) {
        if (emitted != INT64_MIN && p.seq <= emitted) {
            if (recent[static_cast<std::size_t>(p.seq) & (recent.size() - 1)] == p.seq)
                ++stats_.duplicates;
            else
                ++stats_.late;
            continue;
        }
        if (!window.emplace(p.seq, &p).second) {
            ++stats_.duplicates;
            continue;
        }
        if (highest != INT64_MIN && p.seq < highest) ++stats_.reordered;
        highest = std::max(highest, p.seq);
        while (window.size() > JITTER_WINDOW) pop();
    }
    while (!window.empty()) pop();
}

Stream_collector::Stream_collector(int rtp_pt) {
    g723_.add(STATIC_G723_PT);
    if (rtp_pt >= 0 && rtp_pt < 128) g723_.add(static_cast<unsigned>(rtp_pt));
}

void Stream_collector::add_packet(int link_type, const std::uint8_t *data, std::size_t caplen, double time) {
    ++counts_.packets;
    Udp_datagram udp;
    switch (parse_packet(link_type, data, caplen, udp)) {
    case Packet_status::udp: break;
    case Packet_status::not_ip: ++counts_.not_ip; return;
    case Packet_status::not_udp: ++counts_.not_udp; return;
    case Packet_status::fragment: ++counts_.fragments; return;
    case Packet_status::truncated: ++counts_.truncated; return;
    case Packet_status::unknown_link: ++counts_.unknown_link; return;
    }
    ++counts_.udp;
    Rtp_header rtp;
    if (!parse_rtp(udp.payload, udp.length, rtp)) {
        scan_sdp(udp.payload, udp.length, g723_);
        return;
    }
    ++counts_.rtp;
    Stream_key key;
    key.ssrc = rtp.ssrc;
    key.src = udp.src;
    key.dst = udp.dst;
    key.src_port = udp.src_port;
    key.dst_port = udp.dst_port;
    streams_.try_emplace(key, key).first->second.add(rtp, time);
}

std::vector<const Rtp_stream *> Stream_collector::finish() {
    std::vector<const Rtp_stream *> found;
    for (auto &[key, stream] : streams_) {
        if (!stream.has_payload_type(g723_)) continue;
        stream.place(g723_);
        if (stream.stats().packets > 0) found.push_back(&stream);
    }
    std::stable_sort(found.begin(), found.end(), [](const Rtp_stream *a, const Rtp_stream *b) {
        return a->stats().first_time < b->stats().first_time;
    });
    return found;
}

}  // namespace qrxc::capture
