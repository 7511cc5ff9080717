// How the qrx tool recognises standard G.723.1 streams by name (the files
// it makes from them are named by the path helper).
#pragma once

#include <string>

#include "cli/paths.h"

namespace qrxc::cli {

// .g723, .tco, .rco or .bit in any case: names telephony tools and the ITU
// test vectors give standard streams.
bool is_standard_name(const std::string &path);

// True when decode should read path as a standard stream: format "g723",
// or "auto" with a standard name.
bool standard_input_wanted(const std::string &path, const std::string &format);

}  // namespace qrxc::cli
