#include "cli/standard_names.h"

namespace qrxc::cli {

bool is_standard_name(const std::string &path) { return has_extension(path, {".g723", ".tco", ".rco", ".bit"}); }

bool standard_input_wanted(const std::string &path, const std::string &format) {
    return format == "g723" || (format == "auto" && is_standard_name(path));
}

}  // namespace qrxc::cli
