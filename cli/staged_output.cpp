#include "cli/staged_output.h"

#include <cerrno>

#include "cli/cli_support.h"

namespace qrxc::cli {

int Staged_output::prepare(const std::string &target, const std::string &input, bool replace) {
    shown_ = shown_output(target);
    replace_ = replace;
    if (input != "-" && target != "-" && same_file(input, target)) {
        print_error(target + ": is the input file; give another output name");
        return EXIT_OUTPUT;
    }
    if (!file_.open(target) || file_.stream() == nullptr) {
        print_error("cannot create " + shown_ + ": " + file_.error());
        return EXIT_OUTPUT;
    }
    return EXIT_OK;
}

int Staged_output::commit() {
    if (file_.commit(replace_)) return EXIT_OK;
    print_error(file_.error_number() == EEXIST ? shown_ + ": exists; -y replaces it"
                                               : "cannot write " + shown_ + ": " + file_.error());
    return EXIT_OUTPUT;
}

}  // namespace qrxc::cli
