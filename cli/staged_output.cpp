#include "cli/staged_output.h"

#include <cerrno>

#include "cli/cli_support.h"
#include "cli/messages.h"

namespace qrxc::cli {

int Staged_output::prepare(const std::string &target, const std::string &input, bool replace) {
    shown_ = shown_output(target);
    target_ = target;
    replace_ = replace;
    if (input != "-" && target != "-" && same_file(input, target)) {
        print_error(msg::output_is_input(target));
        return EXIT_OUTPUT;
    }
    if (!file_.open(target) || file_.stream() == nullptr) {
        print_error(msg::cannot_create_output(target, file_.error()));
        return EXIT_OUTPUT;
    }
    file_.keep_times_of(input);
    return EXIT_OK;
}

int Staged_output::commit() {
    if (file_.commit(replace_)) return EXIT_OK;
    print_error(file_.error_number() == EEXIST ? msg::output_exists(target_)
                                               : msg::cannot_write_output(target_, file_.error()));
    return EXIT_OUTPUT;
}

}  // namespace qrxc::cli
