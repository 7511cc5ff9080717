#include "cli/standard_names.h"

#include <cctype>
#include <filesystem>

namespace qrxc::cli {

bool is_standard_name(const std::string &path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".g723" || ext == ".tco" || ext == ".rco" || ext == ".bit";
}

bool standard_input_wanted(const std::string &path, const std::string &format) {
    return format == "g723" || (format == "auto" && is_standard_name(path));
}

std::string with_extension(const std::string &path, const std::string &ext) {
    if (path == "-") return path;
    std::filesystem::path p(path);
    p.replace_extension(ext);
    return p.string();
}

}  // namespace qrxc::cli
