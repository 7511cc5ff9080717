#include "cli/json_text.h"

#include <cstdio>

#include "cli/messages.h"

namespace qrxc::cli {

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_sequence(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_sequence(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text.substr(i, n));
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    return out + "\"";
}

std::string base64(std::string_view bytes) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (left > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (left > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += left > 1 ? digits[(v >> 6) & 63] : '=';
        out += left > 2 ? digits[v & 63] : '=';
    }
    return out;
}

std::string json_name(const std::string &key, std::string_view name) {
    std::string out = json_string(key) + ": " + json_string(name);
    if (!valid_utf8(name)) out += ", " + json_string(key + "_bytes") + ": \"" + base64(name) + "\"";
    return out;
}

}  // namespace qrxc::cli
