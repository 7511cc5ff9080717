#include "cli/declared_length.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace qrxc::cli {
namespace {

std::uint32_t le32(const unsigned char *p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t be32(const unsigned char *p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

bool read_at(int fd, std::uint64_t at, unsigned char *buf, std::size_t n) {
    return ::pread(fd, buf, n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
}

// Walks the chunks after the 12-byte RIFF or FORM head; a header that does
// not parse tells nothing.
std::int64_t from_chunks(int fd, std::uint64_t start, std::uint64_t size, bool riff) {
    std::uint64_t at = start + 12;
    std::uint32_t block_align = 0;
    for (int chunks = 0; chunks < 256 && at + 8 <= start + size; ++chunks) {
        unsigned char head[8 + 14];
        if (!read_at(fd, at, head, 8)) return -1;
        const std::uint32_t len = riff ? le32(head + 4) : be32(head + 4);
        const std::uint64_t body = at + 8;
        if (riff && std::memcmp(head, "fmt ", 4) == 0 && len >= 14 && read_at(fd, body, head + 8, 14))
            block_align = static_cast<std::uint32_t>(head[8 + 12] | head[8 + 13] << 8);
        if (riff && std::memcmp(head, "data", 4) == 0) {
            if (block_align == 0 || len == 0 || len == 0xFFFFFFFFu) return -1;
            return len / block_align;
        }
        // numSampleFrames follows the two-byte channel count.
        if (!riff && std::memcmp(head, "COMM", 4) == 0 && len >= 6 && read_at(fd, body, head + 8, 6))
            return be32(head + 10);
        at = body + len + (len & 1);
    }
    return -1;
}

}  // namespace

std::int64_t declared_frames(int fd, std::uint64_t start, const SF_INFO &info) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) < start + 12) return -1;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size) - start;
    unsigned char head[12];
    if (!read_at(fd, start, head, sizeof head)) return -1;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if ((major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) && std::memcmp(head, "RIFF", 4) == 0 &&
        std::memcmp(head + 8, "WAVE", 4) == 0)
        return from_chunks(fd, start, size, true);
    if (major == SF_FORMAT_AIFF && std::memcmp(head, "FORM", 4) == 0 &&
        (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0))
        return from_chunks(fd, start, size, false);
    return -1;
}

}  // namespace qrxc::cli
