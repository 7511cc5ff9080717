// The length a WAV or AIFF file's own header gives its audio. libsndfile
// quietly shortens it to what the file holds, so a cut recording would
// otherwise look whole.
#pragma once

#include <sndfile.h>

#include <cstdint>

namespace qrxc::cli {

// Sample frames the header of the file open at fd (from byte start on)
// says it holds, or -1 when that is not known: another format, a pipe, or a
// length left open as streaming writers leave it (0 or 0xFFFFFFFF bytes).
std::int64_t declared_frames(int fd, std::uint64_t start, const SF_INFO &info);

}  // namespace qrxc::cli
