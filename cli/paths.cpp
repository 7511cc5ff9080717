#include "cli/paths.h"

#include <cctype>
#include <cstring>
#include <filesystem>

#include "conversion/conversion_job.h"

namespace qrxc::cli {

std::string extension_of(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool has_extension(const std::string &path, std::initializer_list<const char *> exts) {
    const std::string ext = extension_of(path);
    for (const char *e : exts)
        if (ext == e) return true;
    return false;
}

bool has_qrx_extension(const std::string &path) { return has_extension(path, {".qrx"}); }

std::string with_extension(const std::string &path, const std::string &ext) {
    if (path == "-") return path;
    std::filesystem::path p(path);
    p.replace_extension(ext);
    return p.string();
}

std::string beside_qrx(const std::string &input, const std::string &tag, const std::string &ext) {
    // The conversion job owns the rule; its name always ends in ".wav".
    const std::string wav = output_path_for(input);
    return wav.substr(0, wav.size() - std::strlen(".wav")) + tag + ext;
}

}  // namespace qrxc::cli
