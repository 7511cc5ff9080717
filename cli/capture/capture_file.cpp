#include "cli/capture/capture_file.h"

#include <pcap/pcap.h>
#include <unistd.h>

#include <cmath>

namespace qrxc::capture {

Capture_read read_capture(const std::string &path, Stream_collector &collector) {
    Capture_read r;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t *p =
        pcap_open_offline_with_tstamp_precision(path == "-" ? "-" : path.c_str(), PCAP_TSTAMP_PRECISION_MICRO, errbuf);
    if (p == nullptr) {
        r.error = errbuf;
        return r;
    }
    r.opened = true;
    r.link_type = pcap_datalink(p);
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    int got = 0;
    while ((got = pcap_next_ex(p, &header, &data)) == 1) {
        if (header->caplen < header->len) ++r.snapped;
        const double time = static_cast<double>(header->ts.tv_sec) + static_cast<double>(header->ts.tv_usec) * 1e-6;
        collector.add_packet(r.link_type, data, header->caplen, time);
    }
    if (got == PCAP_ERROR) r.error = pcap_geterr(p);
    pcap_close(p);
    return r;
}

Capture_writer::~Capture_writer() { close(); }

bool Capture_writer::open(int fd, int link_type) {
    close();
    const int copy = ::dup(fd);
    std::FILE *f = copy < 0 ? nullptr : ::fdopen(copy, "wb");
    if (f == nullptr) {
        if (copy >= 0) ::close(copy);
        return false;
    }
    pcap_ = pcap_open_dead_with_tstamp_precision(link_type, 65535, PCAP_TSTAMP_PRECISION_MICRO);
    dumper_ = pcap_ == nullptr ? nullptr : pcap_dump_fopen(pcap_, f);
    if (dumper_ == nullptr) {
        std::fclose(f);
        return false;
    }
    return true;
}

bool Capture_writer::write(const std::uint8_t *packet, std::size_t length, double time) {
    if (dumper_ == nullptr) return false;
    pcap_pkthdr h{};
    const double whole = std::floor(time);
    h.ts.tv_sec = static_cast<time_t>(whole);
    h.ts.tv_usec = static_cast<suseconds_t>((time - whole) * 1e6);
    h.caplen = h.len = static_cast<bpf_u_int32>(length);
    pcap_dump(reinterpret_cast<u_char *>(dumper_), &h, packet);
    return std::ferror(pcap_dump_file(dumper_)) == 0;
}

bool Capture_writer::close() {
    bool ok = true;
    if (dumper_ != nullptr) {
        ok = pcap_dump_flush(dumper_) == 0 && std::ferror(pcap_dump_file(dumper_)) == 0;
        pcap_dump_close(dumper_);
        dumper_ = nullptr;
    }
    if (pcap_ != nullptr) {
        pcap_close(pcap_);
        pcap_ = nullptr;
    }
    return ok;
}

}  // namespace qrxc::capture
