// What qrx info says about one file: the text block, or with json one JSON
// object of the array; a file that cannot be read fails with its reason.
#pragma once

#include "cli/batch.h"

struct Qrxc_context;

namespace qrxc::cli {

// text, one object of a JSON array (indented), or one JSON object a line.
enum class Info_form { text, json, json_lines };

Task_result info_file(const Task &task, Qrxc_context *ctx, Info_form form);

}  // namespace qrxc::cli
