// qrx decode of a standard G.723.1 stream (one file of a batch) to the
// converter's WAV at 8000 Hz.
#pragma once

#include "cli/batch.h"

struct Qrxc_context;

namespace qrxc::cli {

Task_result decode_standard(const Task &task, Qrxc_context *ctx);

}  // namespace qrxc::cli
