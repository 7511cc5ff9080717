// What qrx info says about one file: the text block, or with json one JSON
// object of the array; a file that cannot be read fails with its reason.
#pragma once

#include "cli/batch.h"

struct Qrxc_context;

namespace qrxc::cli {

Task_result info_file(const Task &task, Qrxc_context *ctx, bool json);

}  // namespace qrxc::cli
