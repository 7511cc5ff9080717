// One output of export or import, through the shared output-file rules:
// messages printed, exit codes returned.
#pragma once

#include <cstdio>
#include <string>

#include "conversion/output_file.h"

namespace qrxc::cli {

class Staged_output {
public:
    // EXIT_OK, or an exit code with the message printed (the output is the
    // input, or its temporary cannot be made). With replace false an
    // existing file is kept and commit() fails.
    int prepare(const std::string &target, const std::string &input, bool replace);
    std::FILE *stream() { return file_.stream(); }
    const std::string &shown() const { return shown_; }
    const std::string &target() const { return target_; }
    // Puts the written file in place: EXIT_OK or EXIT_OUTPUT with the message printed.
    int commit();

private:
    Output_file file_;
    std::string shown_;
    std::string target_;
    bool replace_ = false;
};

}  // namespace qrxc::cli
