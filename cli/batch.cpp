#include "cli/batch.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "conversion/output_file.h"

namespace fs = std::filesystem;

namespace qrxc::cli {
namespace {

struct Planned {
    Task task;
    std::string walk_error;  // why a file a directory walk found cannot be read
};

// Why a file found under a directory is no file to convert, or "".
std::string unreadable_kind(const fs::directory_entry &e) {
    std::error_code ec;
    const fs::file_status st = e.status(ec);
    if (fs::is_regular_file(st)) return {};
    if (ec || !fs::exists(st)) return "cannot open: " + (ec ? ec.message() : std::string("a dangling link"));
    if (fs::is_fifo(st)) return "is a FIFO; a directory walk reads regular files only (name it alone to read it)";
    if (fs::is_directory(st)) return {};  // a link to a directory is not followed
    return "is a device or socket, not a regular file";
}

// Walks dir depth-first, links to directories not followed. The files the
// kind picks are collected; those that cannot be read, and directories that
// cannot be listed, are kept with the reason so that the batch counts them
// as failed.
bool walk(const fs::path &dir, const Batch_kind &kind, std::vector<std::pair<std::string, std::string>> &found,
          std::string &error) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    if (ec) {
        error = "cannot list: " + ec.message();
        return false;
    }
    for (; it != end; it.increment(ec)) {
        std::error_code fe;
        if (it->is_directory(fe) && !it->is_symlink(fe)) {
            std::string sub_error;
            if (!walk(it->path(), kind, found, sub_error)) found.emplace_back(it->path().string(), sub_error);
            continue;
        }
        const std::string path = it->path().string();
        if (!kind.picks(path)) continue;
        std::string why = unreadable_kind(*it);
        if (why.empty() && fs::is_directory(it->status(fe))) continue;
        found.emplace_back(path, std::move(why));
    }
    if (ec) found.emplace_back(dir.string(), "cannot list to its end: " + ec.message());
    return true;
}

// The inputs as files, each with the directory its mirrored path starts
// below; false with a message when one cannot be used at all.
bool expand_inputs(const Batch_options &opt, const Batch_kind &kind, std::vector<Planned> &out,
                   std::vector<std::string> &bases, std::string &error) {
    for (const std::string &in : opt.inputs) {
        std::error_code ec;
        if (in != "-" && fs::is_directory(in, ec)) {
            if (!opt.recursive && kind.directory_is_entry) {
                out.emplace_back();
                out.back().task.input = in;
                bases.push_back(fs::path(in).parent_path().string());
                continue;
            }
            if (!opt.recursive) {
                error = msg::input_is_directory(in);
                return false;
            }
            std::vector<std::pair<std::string, std::string>> found;
            std::string walk_error;
            if (!walk(in, kind, found, walk_error)) {
                error = shown_input(in) + ": " + walk_error;
                return false;
            }
            std::sort(found.begin(), found.end());
            for (auto &[path, why] : found) {
                out.emplace_back();
                out.back().task.input = std::move(path);
                out.back().walk_error = std::move(why);
                bases.push_back(in);
            }
            continue;
        }
        out.emplace_back();
        out.back().task.input = in;
        bases.push_back(in == "-" ? std::string() : fs::path(in).parent_path().string());
    }
    return true;
}

// Where an input's output goes: -o, mirrored below -O, or beside it.
std::string output_for(const Batch_options &opt, const Batch_kind &kind, const std::string &input,
                       const std::string &base) {
    if (!opt.output.empty()) return opt.output;
    const std::string beside = kind.default_output(input);
    if (opt.out_dir.empty() || input == "-") return beside;
    const fs::path rel = base.empty() ? fs::path(beside).filename() : fs::path(beside).lexically_relative(base);
    return (fs::path(opt.out_dir) / rel).lexically_normal().string();
}

// The file an output name ends up writing, links followed even where they
// dangle, so that two names for one file clash.
std::string clash_key(const std::string &path) {
    const std::string replaced = replaced_path(path);
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(replaced, ec), ec);
    return ec ? fs::absolute(replaced).lexically_normal().string() : p.string();
}

// exists: the output was there and kept, without -y or --skip-existing; the
// batch fails but says so in one line, not one per file.
enum class Outcome { converted, skipped, exists, failed };

// The overwrite policy and the -O directories, then the conversion.
Outcome run_one(const Batch_options &opt, const Batch_kind &kind, Planned &planned, Qrxc_context *ctx, Task_result &r) {
    Task &task = planned.task;
    if (!planned.walk_error.empty()) {
        r.code = EXIT_SOURCE;
        r.error = task.input + ": " + planned.walk_error;
        return Outcome::failed;
    }
    if (!task.output.empty() && same_file(task.input, task.output)) {
        r.code = EXIT_OUTPUT;
        r.error = msg::output_is_input(task.output);
        return Outcome::failed;
    }
    // The output helper judges how the output is written: only a file it
    // would replace meets the overwrite policy.
    const Output_kind how = task.output.empty() ? Output_kind::new_file : output_kind(task.output);
    if (how == Output_kind::replaces) {
        if (opt.skip_existing) return Outcome::skipped;
        if (!opt.force) {
            r.code = EXIT_OUTPUT;
            r.error = msg::output_exists(task.output);
            return Outcome::exists;
        }
    }
    if (!opt.out_dir.empty() && !task.output.empty() && how != Output_kind::through) {
        std::error_code ec;
        const fs::path parent = fs::path(task.output).parent_path();
        if (!parent.empty() && !fs::create_directories(parent, ec) && ec) {
            r.code = EXIT_OUTPUT;
            r.error = task.output + ": cannot create the directory " + parent.string() + ": " + ec.message();
            return Outcome::failed;
        }
    }
    task.replace = opt.force;
    r = kind.convert(task, ctx);
    return r.code == EXIT_OK ? Outcome::converted : Outcome::failed;
}

std::string clock_text(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

int online_cpus() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace

void add_quiet_flag(CLI::App &cmd, bool &quiet) {
    cmd.add_flag("-q,--quiet", quiet, "No progress, success messages or summary; errors are still shown");
}

void add_preserve_time_flag(CLI::App &cmd) {
    cmd.add_flag_callback(
        "--no-preserve-time", [] { preserve_source_times(false); },
        "Give outputs the time they are written (default: their input's modification time, as cp -p)");
}

void add_batch_options(CLI::App &cmd, Batch_options &opt, const std::string &input_help, bool with_outputs) {
    cmd.add_option("inputs", opt.inputs, input_help)->required();
    cmd.add_flag("-r,--recursive", opt.recursive, "Descend into directories given as inputs");
    cmd.add_option("-j,--jobs", opt.jobs, "Files converted at once (default: the number of online CPUs)")
        ->check(CLI::Range(1, 256));
    add_quiet_flag(cmd, opt.quiet);
    if (!with_outputs) return;
    cmd.add_option("-o,--output", opt.output, "Output file for a single input ('-' for standard output)");
    cmd.add_option("-O,--out-dir", opt.out_dir,
                   "Write outputs below DIR, mirroring each input's path below the directory it was found in");
    auto *force = cmd.add_flag("-y,--force", opt.force, "Replace existing outputs");
    cmd.add_flag("--skip-existing", opt.skip_existing, "Skip inputs whose output exists (to resume a batch)")
        ->excludes(force);
    add_preserve_time_flag(cmd);
}

int run_batch(const Batch_options &opt, const Batch_kind &kind) {
    std::vector<Planned> planned;
    std::vector<std::string> bases;
    std::string error;
    if (!expand_inputs(opt, kind, planned, bases, error)) {
        print_error(error);
        return EXIT_SOURCE;
    }
    const bool single = opt.inputs.size() == 1 && planned.size() == 1 && bases[0] != opt.inputs[0];
    if (!opt.output.empty() && !single) {
        print_error("-o takes exactly one input file; use -O DIR for several");
        return EXIT_OUTPUT;
    }
    if (kind.default_output && opt.output.empty())
        for (const Planned &p : planned)
            if (p.task.input == "-") {
                print_error("standard input needs an output name: -o FILE, or -o - for standard output");
                return EXIT_OUTPUT;
            }
    if (planned.empty()) {
        std::fputs(kind.text_empty.c_str(), stdout);
        if (!opt.quiet) std::fprintf(stderr, "qrx: no input files found\n");
        return EXIT_OK;
    }

    // Every output name first: two inputs aiming at one file stop the
    // command before anything is written.
    std::map<std::string, std::size_t> owners;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        Task &t = planned[i].task;
        t.single = single;
        t.quiet = opt.quiet;
        if (!kind.default_output || !planned[i].walk_error.empty()) continue;
        t.output = output_for(opt, kind, t.input, bases[i]);
        if (t.output == "-") continue;
        const auto [it, fresh] = owners.emplace(clash_key(t.output), i);
        if (!fresh) {
            print_error(shown_input(planned[it->second].task.input) + " and " + shown_input(t.input) +
                        " would both write " + shown_output(t.output) + "; nothing converted");
            return EXIT_OUTPUT;
        }
    }

    if (single) {
        Context ctx;
        Task_result r;
        const Outcome o = run_one(opt, kind, planned[0], ctx.get(), r);
        if (!r.text.empty()) std::fputs((kind.text_open + r.text + kind.text_close).c_str(), stdout);
        const bool bad = o == Outcome::failed || o == Outcome::exists;
        if (bad) print_error(r.error);
        return bad ? r.code : EXIT_OK;
    }

    const std::size_t n = planned.size();
    const int jobs =
        static_cast<int>(std::min<std::size_t>(n, static_cast<std::size_t>(opt.jobs > 0 ? opt.jobs : online_cpus())));
    std::vector<Task_result> results(n);
    std::vector<Outcome> outcomes(n, Outcome::failed);
    std::vector<char> finished(n, 0);
    std::atomic<std::size_t> next{0};
    std::mutex m;
    std::condition_variable changed;
    std::size_t done = 0;
    double seconds_done = 0;

    auto worker = [&] {
        Context ctx;  // one per worker: no stream state is ever shared
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= n) return;
            Task_result r;
            const Outcome o = ctx.get() == nullptr ? (r.code = EXIT_OUTPUT, r.error = "out of memory", Outcome::failed)
                                                   : run_one(opt, kind, planned[i], ctx.get(), r);
            const std::lock_guard<std::mutex> lock(m);
            results[i] = std::move(r);
            outcomes[i] = o;
            finished[i] = 1;
            ++done;
            seconds_done += results[i].seconds;
            changed.notify_one();
        }
    };
    defer_directory_sync(true);
    std::vector<std::thread> threads;
    for (int k = 0; k < jobs; ++k) threads.emplace_back(worker);

    const bool draw = !opt.quiet && progress_wanted();
    const auto started = std::chrono::steady_clock::now();
    std::size_t printed = 0;
    bool any_text = false;
    std::fputs(kind.text_open.c_str(), stdout);
    {
        std::unique_lock<std::mutex> lock(m);
        while (printed < n) {
            changed.wait_for(lock, std::chrono::milliseconds(250));
            // Texts in input order, as soon as the ones before are done.
            while (printed < n && finished[printed]) {
                const std::string &text = results[printed].text;
                if (!text.empty()) {
                    std::fputs(((any_text ? kind.text_separator : std::string()) + text).c_str(), stdout);
                    any_text = true;
                }
                ++printed;
            }
            if (draw) {
                const double elapsed =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                const double eta = done > 0 ? elapsed / static_cast<double>(done) * static_cast<double>(n - done) : 0;
                std::fprintf(stderr, "\r%zu/%zu files, %.2f h of audio, ETA %s ", done, n, seconds_done / 3600,
                             clock_text(eta).c_str());
                std::fflush(stderr);
            }
        }
    }
    for (std::thread &t : threads) t.join();
    sync_deferred_directories();
    std::fputs(kind.text_close.c_str(), stdout);
    std::fflush(stdout);
    if (draw) std::fprintf(stderr, "\r%*s\r", 60, "");

    std::size_t converted = 0, skipped = 0, existed = 0, failed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (outcomes[i] == Outcome::converted) ++converted;
        if (outcomes[i] == Outcome::skipped) ++skipped;
        if (outcomes[i] == Outcome::exists) ++existed;
        if (outcomes[i] == Outcome::failed) {
            ++failed;
            print_error(results[i].error);
        }
    }
    // A re-run of a finished batch is not a failure of its files, but scripts
    // still learn from the status that nothing new was written.
    if (!opt.quiet || failed > 0 || existed > 0) {
        const std::string kept =
            existed > 0 ? std::to_string(existed) + " skipped (exists)" : std::to_string(skipped) + " skipped";
        std::fprintf(stderr, "qrx: %zu %s, %s, %zu failed\n", converted, kind.done_word.c_str(), kept.c_str(), failed);
    }
    if (existed > 0) print_error(msg::outputs_exist_hint(existed));
    return failed > 0 || existed > 0 ? EXIT_BATCH_FAILED : EXIT_OK;
}

}  // namespace qrxc::cli
