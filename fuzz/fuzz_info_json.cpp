// A file of any name and any bytes through qrx info --json's renderer:
// whatever the name (not UTF-8, quotes, control bytes) and the contents,
// what it prints is one well-formed JSON value in valid UTF-8. Byte 0 is
// the name's length; the name's '/' and NUL bytes become '_'.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/info_report.h"
#include "codec/context.h"
#include "fuzz/fuzz_files.h"
#include "fuzz/fuzz_support.h"

namespace {

const std::string &work_dir() {
    static const std::string dir = qrxc::fuzz::make_scratch_dir("qrx-fuzz-json");
    static const qrxc::fuzz::Dir_remover remover{dir};
    return dir;
}

// A strict JSON reader that only says whether the text is one value.
class Json_check {
public:
    explicit Json_check(const std::string &text) : s_(text) {}
    bool whole() {
        skip_space();
        if (!value(0)) return false;
        skip_space();
        return at_ == s_.size();
    }

private:
    bool value(int depth) {
        if (depth > 16 || at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '{') return members(depth, '}', true);
        if (c == '[') return members(depth, ']', false);
        if (c == '"') return string();
        if (c == '-' || (c >= '0' && c <= '9')) return number();
        for (const char *word : {"true", "false", "null"})
            if (s_.compare(at_, std::string(word).size(), word) == 0) {
                at_ += std::string(word).size();
                return true;
            }
        return false;
    }
    bool members(int depth, char close, bool object) {
        ++at_;
        skip_space();
        if (at_ < s_.size() && s_[at_] == close) return ++at_, true;
        for (;;) {
            skip_space();
            if (object) {
                if (at_ >= s_.size() || s_[at_] != '"' || !string()) return false;
                skip_space();
                if (at_ >= s_.size() || s_[at_++] != ':') return false;
                skip_space();
            }
            if (!value(depth + 1)) return false;
            skip_space();
            if (at_ >= s_.size()) return false;
            const char c = s_[at_++];
            if (c == close) return true;
            if (c != ',') return false;
        }
    }
    bool string() {
        ++at_;
        while (at_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[at_]);
            if (c == '"') return ++at_, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++at_ >= s_.size()) return false;
                const char e = s_[at_++];
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i, ++at_)
                        if (at_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[at_]))) return false;
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
                continue;
            }
            if (!utf8()) return false;
        }
        return false;
    }
    // One UTF-8 sequence: no overlong forms, surrogates or values past U+10FFFF.
    bool utf8() {
        const auto b0 = static_cast<unsigned char>(s_[at_]);
        int n = 0;
        std::uint32_t cp = 0;
        if (b0 < 0x80) return ++at_, true;
        if (b0 >= 0xC2 && b0 <= 0xDF)
            n = 1, cp = b0 & 0x1F;
        else if (b0 >= 0xE0 && b0 <= 0xEF)
            n = 2, cp = b0 & 0x0F;
        else if (b0 >= 0xF0 && b0 <= 0xF4)
            n = 3, cp = b0 & 0x07;
        else
            return false;
        if (at_ + static_cast<std::size_t>(n) >= s_.size()) return false;
        for (int i = 1; i <= n; ++i) {
            const auto b = static_cast<unsigned char>(s_[at_ + static_cast<std::size_t>(i)]);
            if ((b & 0xC0) != 0x80) return false;
            cp = cp << 6 | (b & 0x3F);
        }
        at_ += static_cast<std::size_t>(n) + 1;
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        return cp >= least[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    bool number() {
        const std::size_t start = at_;
        if (s_[at_] == '-') ++at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
            return at_ > from;
        };
        if (!digits()) return false;
        if (s_[start + (s_[start] == '-')] == '0' && at_ - start > 1u + (s_[start] == '-')) return false;
        if (at_ < s_.size() && s_[at_] == '.' && (++at_, !digits())) return false;
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            ++at_;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
            if (!digits()) return false;
        }
        return true;
    }
    void skip_space() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\t' || s_[at_] == '\r')) ++at_;
    }

    const std::string &s_;
    std::size_t at_ = 0;
};

}  // namespace

QRX_FUZZ_MAX_LEN(qrxc::fuzz::INPUT_CAP)

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using qrxc::fuzz::check;
    if (size < 1 || size > qrxc::fuzz::INPUT_CAP) return 0;
    const std::size_t name_len = data[0] % 40 + 1;
    if (size < 1 + name_len) return 0;
    std::string name(reinterpret_cast<const char *>(data + 1), name_len);
    for (char &c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name == "." || name == "..") return 0;
    const std::string path = work_dir() + "/" + name;
    if (!qrxc::fuzz::write_file(path, data + 1 + name_len, size - 1 - name_len)) return 0;

    static Qrxc_context context;
    qrxc::context_load(context);
    qrxc::cli::Task task;
    task.input = path;
    const qrxc::cli::Task_result r = qrxc::cli::info_file(task, &context, qrxc::cli::Info_form::json);
    ::unlink(path.c_str());
    check(r.code == qrxc::cli::EXIT_OK || !r.error.empty());
    if (!r.text.empty()) check(Json_check(r.text).whole());
    return 0;
}
