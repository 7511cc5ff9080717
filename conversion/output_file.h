// Where every output of the job and of qrx goes: the one home of the
// temporary-file, write-through and clean-up rules.
//
// A regular file (or a new name) is written to a fresh hidden temporary,
// ".NAME.XXXXXX.part", created exclusively (never through a link) in the
// directory of the target's final, link-resolved path; commit() flushes it
// to disk (file, then directory) and renames it over that path, so the
// target is either the old file or the complete new one, and a symbolic
// link stays a link. Standard output ("-"), devices, pipes and sockets
// cannot be replaced: they are written through, from an unnamed scratch
// file that is copied in at commit(), so that writers may still seek.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace qrxc {

class Output_file {
public:
    Output_file() = default;
    ~Output_file() { discard(); }
    Output_file(const Output_file &) = delete;
    Output_file &operator=(const Output_file &) = delete;

    // Prepares target for writing; false with error() set when the
    // temporary or scratch file cannot be made.
    bool open(const std::string &target);

    // Where the data goes: both name the same seekable file.
    int fd() const { return fd_; }
    std::FILE *stream();  // opened on first use, owned here

    // Puts the written data in place. With replace false an existing file
    // at the final path is kept and commit fails with EEXIST. Afterwards the
    // object is closed either way; false with error() set on failure.
    bool commit(bool replace = true);

    // commit() gives the new file source's access and modification times,
    // as cp -p does, so that recordings sorted by date stay in order. Only
    // a replaced file takes them (standard output and devices keep their
    // own); a source without times ("-", gone) leaves the file's own, as
    // does preserve_source_times(false).
    void keep_times_of(const std::string &source);

    // Drops what was written: the temporary is removed, the target untouched.
    void discard();

    bool through() const { return through_; }
    // The file that commit() replaces (the end of the link chain).
    const std::string &final_path() const { return final_; }
    const std::string &error() const { return error_; }
    int error_number() const { return errno_; }

private:
    bool fail(const char *what, int err);
    bool copy_through();

    std::string target_, final_, temp_;
    std::string error_;
    int errno_ = 0;
    int fd_ = -1;
    int slot_ = -1;
    std::FILE *stream_ = nullptr;
    bool through_ = false;
    bool keep_times_ = false;
    struct timespec times_[2]{};
};

// Whether keep_times_of() takes effect in this process (on unless turned off).
void preserve_source_times(bool on);

// A batch may put off the directory flush that follows each rename and do it
// once per directory at the end (before it reports success): each file's data
// is still on disk before its rename, so a power cut leaves the old file or the
// complete new one, never an empty one.
void defer_directory_sync(bool on);
void sync_deferred_directories();

// The hidden temporary name used for target (in the same directory), with
// the base name shortened so that the result fits a 255-byte name; the six
// X are replaced when it is created.
std::string temporary_name_for(const std::string &target);

// True when target ("-" included) is written through rather than replaced.
bool written_through(const std::string &target);

// The file an Output_file on target would replace: the end of its chain of
// symbolic links, which need not exist yet (a dangling link names it). The
// target itself when the chain cannot be followed.
std::string replaced_path(const std::string &target);

// How Output_file would write target, for an overwrite policy judged before
// anything is written: a new file, one replacing what is there (a link
// counts, even a dangling one), or through (standard output, devices, pipes,
// sockets, /dev/stdout and its kin however the shell redirected them).
enum class Output_kind { new_file, replaces, through };
Output_kind output_kind(const std::string &target);

// From now on every catchable terminating signal removes the live
// temporaries of all Output_file objects first. SIGINT and SIGTERM then end
// the process with interrupt_exit after writing interrupt_text (may be
// null) to standard error; the others end it as the signal would. SIGPIPE
// and SIGXFSZ are ignored, so a closed pipe or a file size limit turns into
// a failed write that is reported and cleaned up like any other.
void remove_temporaries_on_signals(int interrupt_exit, const char *interrupt_text);

}  // namespace qrxc
