// How qrx reads and forms file names: extensions in any case, and the names
// of outputs made beside their inputs.
#pragma once

#include <initializer_list>
#include <string>

namespace qrxc::cli {

// The extension of path's last component in lower case, with its dot
// (".qrx", ".g723"), or "" when it has none.
std::string extension_of(const std::string &path);

// True when path ends in one of exts (each with its dot, lower case), in any case.
bool has_extension(const std::string &path, std::initializer_list<const char *> exts);

// .QRX in any case: what the converter opens and qrx walks collect.
bool has_qrx_extension(const std::string &path);

// path with its extension replaced by ext ("-" stays "-").
std::string with_extension(const std::string &path, const std::string &ext);

// The name of an output made beside a QRX input: the converter's rule (one
// trailing ".QRX" in any case dropped), then tag and ext: "msg.QRX" with
// ".level8" and ".wav" gives "msg.level8.wav".
std::string beside_qrx(const std::string &input, const std::string &tag, const std::string &ext);

}  // namespace qrxc::cli
