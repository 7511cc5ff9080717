// Placeholder; the conversion job lands with the foundation work.
#include "conversion_job.h"

namespace qrx {
std::string output_path_for(const std::string &source) { return source + ".wav"; }
Conversion_job::Conversion_job(std::string source, std::string output, Job_ui &ui, Qrxc_context *ctx)
    : source_(std::move(source)), output_(std::move(output)), ui_(ui), ctx_(ctx) {}
Job_result Conversion_job::run() { return Job_result::open_failed; }
}  // namespace qrx
