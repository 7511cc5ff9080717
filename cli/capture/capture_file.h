// Capture files through libpcap: reading pcap and pcapng files packet by
// packet into a Stream_collector, and writing pcap files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/capture/rtp_stream.h"

typedef struct pcap pcap_t;
typedef struct pcap_dumper pcap_dumper_t;

namespace qrxc::capture {

struct Capture_read {
    bool opened = false;        // false: error says why nothing was read
    std::string error;          // set as well when the file ends inside a packet
    std::uint64_t snapped = 0;  // packets cut by the capture's snap length
    int link_type = -1;
};

// Reads path ("-": standard input) to its end or to its first damage.
Capture_read read_capture(const std::string &path, Stream_collector &collector);

// A pcap file of the given link type written to an open stdio stream (not
// closed here).
class Capture_writer {
public:
    Capture_writer() = default;
    ~Capture_writer();
    Capture_writer(const Capture_writer &) = delete;
    Capture_writer &operator=(const Capture_writer &) = delete;
    // fd is duplicated, so the caller keeps its own descriptor.
    bool open(int fd, int link_type);
    bool write(const std::uint8_t *packet, std::size_t length, double time);
    // Flushes and closes the duplicate; false when a write failed.
    bool close();

private:
    pcap_t *pcap_ = nullptr;
    pcap_dumper_t *dumper_ = nullptr;
};

}  // namespace qrxc::capture
