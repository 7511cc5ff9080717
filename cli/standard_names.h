// How the qrx tool recognises standard G.723.1 streams by name and names
// the files it makes from them.
#pragma once

#include <string>

namespace qrxc::cli {

// .g723, .tco, .rco or .bit in any case: names telephony tools and the ITU
// test vectors give standard streams.
bool is_standard_name(const std::string &path);

// True when decode should read path as a standard stream: format "g723",
// or "auto" with a standard name.
bool standard_input_wanted(const std::string &path, const std::string &format);

// path with its extension replaced by ext ("-" stays "-").
std::string with_extension(const std::string &path, const std::string &ext);

}  // namespace qrxc::cli
