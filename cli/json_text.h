// JSON text that is always valid UTF-8: strings are escaped, and a byte
// string that is not UTF-8 is shown with U+FFFD for each stray byte while
// its exact bytes travel beside it in base64.
#pragma once

#include <string>
#include <string_view>

namespace qrxc::cli {

// True when text is well-formed UTF-8 (no overlong forms or surrogates).
bool valid_utf8(std::string_view text);

// A JSON string literal for text, quotes included; bytes that are not part
// of a valid UTF-8 sequence become U+FFFD.
std::string json_string(std::string_view text);

// Standard base64 with padding.
std::string base64(std::string_view bytes);

// The members naming a file: "key": "<name>", and when the name is not
// UTF-8 also "key_bytes": "<base64 of the exact bytes>".
std::string json_name(const std::string &key, std::string_view name);

}  // namespace qrxc::cli
