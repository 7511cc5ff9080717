// qrx under faults: planted links, full disks, shrinking and endless
// inputs, signals, long names, hostile float samples.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/audio_input.h"
#include "cli/cli_support.h"
#include "cli/qrx_reader.h"
#include "common_support.h"
#include "conversion/output_file.h"

#ifdef QRX_CLI

namespace {

namespace fs = std::filesystem;
using qrxc::test::Bytes;
using qrxc::test::run_tool;

std::string q(const std::string &s) { return qrxc::test::quoted(s); }

// The three writing commands, each given its input and output.
struct Writer_case {
    const char *name;
    const char *input;  // file name in the scratch directory
    std::string args;   // with IN and OUT replaced
};

std::string expand(std::string args, const std::string &in, const std::string &out) {
    args.replace(args.find("IN"), 2, q(in));
    args.replace(args.find("OUT"), 3, q(out));
    return args;
}

const Writer_case WRITERS[] = {
    {"decode", "m.QRX", "decode -q IN -o OUT"},
    {"speed", "m.QRX", "speed -q --level 12 IN -o OUT"},
    {"encode", "m.wav", "encode -q -t 5 IN -o OUT"},
};

void make_inputs(const qrxc::test::Scratch_dir &dir, std::size_t frames = 40) {
    qrxc::test::write_bytes(dir.file("m.QRX"), qrxc::test::noise_stream(5, frames));
    qrxc::test::write_bytes(dir.file("m.wav"), qrxc::test::pcm_wav(8000, 1, qrxc::test::tone(frames * 240, 8000)));
}

// Starts qrx with argv, standard input from stdin_path (if given) and
// standard error to err_fd (if given, else /dev/null); returns its pid.
pid_t spawn(const std::vector<std::string> &args, const std::string &stdin_path = "", int err_fd = -1) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (!stdin_path.empty()) {
        const int fd = ::open(stdin_path.c_str(), O_RDONLY);
        if (fd < 0 || ::dup2(fd, STDIN_FILENO) < 0) ::_exit(99);
    }
    ::dup2(err_fd >= 0 ? err_fd : ::open("/dev/null", O_WRONLY), STDERR_FILENO);
    std::vector<char *> argv{const_cast<char *>(QRX_CLI)};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(QRX_CLI, argv.data());
    ::_exit(98);
}

bool has_hidden_temporary(const std::string &dir) {
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n.starts_with(".") && n.ends_with(".part")) return true;
    }
    return false;
}

}  // namespace

TEST(CliFaults, TemporariesAreNeverFollowedOrShared) {
    // A link planted where the old fixed temporary names were is left alone.
    for (const Writer_case &w : WRITERS) {
        qrxc::test::Scratch_dir dir;
        make_inputs(dir, 4);
        qrxc::test::write_bytes(dir.file("p.txt"), {'k', 'e', 'e', 'p'});
        for (const char *planted : {"out.wav.part", "out.wav.part-1"})
            fs::create_symlink(dir.file("p.txt"), dir.file(planted));
        const auto r = run_tool(expand(w.args, dir.file(w.input), dir.file("out.wav")));
        EXPECT_EQ(r.status, 0) << w.name << r.err;
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("p.txt")), (Bytes{'k', 'e', 'e', 'p'})) << w.name;
        EXPECT_FALSE(fs::is_symlink(dir.file("out.wav"))) << w.name;
        EXPECT_FALSE(has_hidden_temporary(dir.path().string())) << w.name;
    }
    // Concurrent encodes to one output: the file is one of the two streams, whole.
    qrxc::test::Scratch_dir dir;
    make_inputs(dir, 200);
    ASSERT_EQ(run_tool("encode -q -t 1 " + q(dir.file("m.wav")) + " -o " + q(dir.file("t1.QRX"))).status, 0);
    ASSERT_EQ(run_tool("encode -q -t 5 " + q(dir.file("m.wav")) + " -o " + q(dir.file("t5.QRX"))).status, 0);
    const std::string o = q(dir.file("o.QRX"));
    const auto both = qrxc::test::run_command("'" + std::string(QRX_CLI) + "' encode -y -q -t 1 " +
                                              q(dir.file("m.wav")) + " -o " + o + " & '" + QRX_CLI +
                                              "' encode -y -q -t 5 " + q(dir.file("m.wav")) + " -o " + o + "; wait");
    EXPECT_EQ(both.status, 0);
    const Bytes got = qrxc::test::read_bytes(dir.file("o.QRX"));
    EXPECT_TRUE(got == qrxc::test::read_bytes(dir.file("t1.QRX")) || got == qrxc::test::read_bytes(dir.file("t5.QRX")));
}

TEST(CliFaults, FullDiskKeepsALinkedOutputsOldFile) {
    // A file size limit makes writes fail part way, as a full disk does.
    for (const Writer_case &w : WRITERS) {
        qrxc::test::Scratch_dir dir;
        make_inputs(dir, 400);
        fs::create_directories(dir.file("real"));
        const Bytes old(5000, 0x42);
        qrxc::test::write_bytes(dir.file("real/target"), old);
        fs::create_symlink(dir.file("real/target"), dir.file("link"));
        const auto r = run_tool(expand(w.args, dir.file(w.input), dir.file("link")) + " -y", "ulimit -f 20; ");
        EXPECT_EQ(r.status, 4) << w.name << ": " << r.err;
        EXPECT_NE(r.err.find("File too large"), std::string::npos) << w.name << ": " << r.err;
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("real/target")), old) << w.name;
        EXPECT_TRUE(fs::is_symlink(dir.file("link"))) << w.name;
        EXPECT_EQ(qrxc::test::tree(dir.file("real")), std::vector<std::string>{"target"}) << w.name;
        // Room again: the link's target is replaced and the link stays.
        ASSERT_EQ(run_tool(expand(w.args, dir.file(w.input), dir.file("link")) + " -y").status, 0) << w.name;
        EXPECT_GT(qrxc::test::read_bytes(dir.file("real/target")).size(), old.size()) << w.name;
        EXPECT_TRUE(fs::is_symlink(dir.file("link"))) << w.name;
    }
}

TEST(CliFaults, ReplacingKeepsTheOldFilesMode) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    for (const Writer_case &w : WRITERS) {
        qrxc::test::Scratch_dir dir;
        make_inputs(dir, 4);
        for (const mode_t mode : {0600, 0640}) {
            qrxc::test::write_bytes(dir.file("old"), {1});
            ASSERT_EQ(::chmod(dir.file("old").c_str(), mode), 0);
            ASSERT_EQ(run_tool(expand(w.args, dir.file(w.input), dir.file("old")) + " -y").status, 0) << w.name;
            EXPECT_GT(fs::file_size(dir.file("old")), 1u) << w.name;
            EXPECT_EQ(static_cast<mode_t>(fs::status(dir.file("old")).permissions()), mode) << w.name;
        }
        ASSERT_EQ(run_tool(expand(w.args, dir.file(w.input), dir.file("new"))).status, 0) << w.name;
        EXPECT_EQ(static_cast<mode_t>(fs::status(dir.file("new")).permissions()), 0666 & ~mask) << w.name;
    }
}

TEST(CliFaults, ShrinkingInputIsAReadFailure) {
    // Truncated between reads, as another program might do.
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("m.QRX"), qrxc::test::noise_stream(5, 200));
    qrxc::cli::Input_fd in;
    ASSERT_TRUE(in.open(dir.file("m.QRX")));
    qrxc::cli::Context ctx;
    qrxc::cli::Qrx_reader reader;
    ASSERT_EQ(reader.open(in, ctx.get()), qrxc::cli::Qrx_reader::ok);
    unsigned char frame[QRXC_MAX_FRAME_BYTES];
    ASSERT_EQ(reader.next(frame), 1);
    fs::resize_file(dir.file("m.QRX"), 16 + 120 * 50 + 7);
    int got = 0;
    while ((got = reader.next(frame)) == 1) {}
    EXPECT_EQ(got, -1);

    qrxc::test::write_bytes(dir.file("m.wav"), qrxc::test::pcm_wav(16000, 1, qrxc::test::tone(48000, 16000)));
    SF_INFO info{};
    SNDFILE *f = sf_open(dir.file("m.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    qrxc::cli::Audio_input audio;
    ASSERT_TRUE(audio.start(f, info, 16000));
    short pcm[240];
    ASSERT_EQ(audio.read(pcm, 240), 240);
    fs::resize_file(dir.file("m.wav"), 20000);
    long n = 0;
    while ((n = audio.read(pcm, 240)) == 240) {}
    EXPECT_EQ(n, -1);
    EXPECT_NE(audio.error().find("shrink"), std::string::npos) << audio.error();
    sf_close(f);
}

TEST(CliFaults, ShrinkingInputFailsTheCommand) {
    // The progress line goes to a terminal whose output is stopped (Ctrl-S),
    // so the command stops at its first progress update, its input sized and
    // read by one buffer at most; then the input shrinks. encode draws no
    // progress, so nothing holds it still.
    for (const std::string cmd : {"decode", "speed"}) {
        qrxc::test::Scratch_dir dir;
        qrxc::test::write_bytes(dir.file("m.QRX"), qrxc::test::noise_stream(5, 4000));
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_TRUE(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const int tty = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        ASSERT_GE(tty, 0);
        ASSERT_EQ(::tcflow(tty, TCOOFF), 0);
        std::vector<std::string> args{cmd, dir.file("m.QRX"), "-o", dir.file("out.wav")};
        if (cmd == "speed") args.insert(args.end(), {"--level", "12"});
        const pid_t pid = spawn(args, "", tty);
        for (int i = 0; i < 500 && !has_hidden_temporary(dir.path().string()); ++i) ::usleep(10000);
        EXPECT_TRUE(has_hidden_temporary(dir.path().string())) << cmd;
        fs::resize_file(dir.file("m.QRX"), 16 + 120 * 1000 + 7);
        ::tcflow(tty, TCOON);
        ::close(tty);
        std::string err;
        char buf[512];
        pollfd p{master, POLLIN, 0};
        for (ssize_t n; ::poll(&p, 1, 20000) > 0 && (n = ::read(master, buf, sizeof buf)) > 0;)
            err.append(buf, static_cast<std::size_t>(n));
        ::kill(pid, SIGKILL);  // only if it hangs
        ::close(master);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << cmd << ": " << err;
        EXPECT_NE(err.find("m.QRX: cannot read input: it ended before its size at the start"), std::string::npos)
            << err;
        EXPECT_EQ(qrxc::test::tree(dir.path()), std::vector<std::string>{"m.QRX"}) << cmd;
    }
}

TEST(CliFaults, SpeedRefusesWhatNoWavCanHold) {
    // 6 million type 1 frames: 2.9 GB of PCM at normal speed, twice that at level 12.
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("long.QRX"), qrxc::test::long_header(8000, 1, 240, 20));
    fs::resize_file(dir.file("long.QRX"), 16 + 20ull * 6000000);
    const auto r = run_tool("speed --level 12 " + q(dir.file("long.QRX")) + " -o " + q(dir.file("x.wav")));
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("more than a WAV file can hold"), std::string::npos) << r.err;
    EXPECT_EQ(qrxc::test::tree(dir.path()), std::vector<std::string>{"long.QRX"});
}

TEST(CliFaults, StandardStreamsAreReadInBoundedMemory) {
    // 5 GiB of zeros is 224 million 6.3 kbit/s frames, far more than any
    // WAV holds decoded; /dev/zero never ends. Under a 500 MB address-space
    // limit every standard path refuses the first at once and is still
    // streaming the second when interrupted (or has refused it too).
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("huge.QRX"), qrxc::test::long_header(8000, 2, 240, 24));
    fs::resize_file(dir.file("huge.QRX"), 5ull << 30);
    qrxc::test::write_bytes(dir.file("huge.g723"), {});
    fs::resize_file(dir.file("huge.g723"), 5ull << 30);
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer maps terabytes of shadow memory, which no address-space
    // limit admits; its own resident-memory limit bounds the tool instead.
    const std::string limit = "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}hard_rss_limit_mb=500\"; ";
#else
    const std::string limit = "ulimit -v 500000; ";
#endif
    const std::string out = " -o " + q(dir.file("out"));
    const struct {
        std::string huge, endless;
    } cases[] = {{"decode -q " + q(dir.file("huge.g723")), "decode -q --input-format g723 /dev/zero"},
                 {"import " + q(dir.file("huge.g723")), "import /dev/zero"},
                 {"export " + q(dir.file("huge.QRX")), ""}};
    for (const auto &c : cases) {
        const auto r = run_tool(c.huge + out, limit);
        EXPECT_EQ(r.status, 4) << c.huge << ": " << r.err;
        EXPECT_NE(r.err.find("more G.723.1 frames than a WAV file can hold"), std::string::npos) << r.err;
        if (c.endless.empty()) continue;
        const auto e = run_tool(c.endless + out, limit + "timeout --preserve-status -s INT 2 ");
        EXPECT_TRUE(e.status == 5 || (e.status == 4 && e.err.find("more G.723.1") != std::string::npos))
            << c.endless << ": " << e.status << " " << e.err;
    }
    EXPECT_EQ(qrxc::test::tree(dir.path()), (std::vector<std::string>{"huge.QRX", "huge.g723"}));
}

TEST(CliFaults, FifoInputIsReadOnceAndStaysInterruptible) {
    qrxc::test::Scratch_dir dir;
    const Bytes stream = qrxc::test::noise_stream(2, 30, 5);
    qrxc::test::write_bytes(dir.file("m.QRX"), stream);
    ASSERT_EQ(::mkfifo(dir.file("f.QRX").c_str(), 0600), 0);
    const std::string feed = "cat " + q(dir.file("m.QRX")) + " > " + q(dir.file("f.QRX")) + " & ";
    for (const std::string cmd : {"decode -q IN -o OUT", "speed -q --level 6 IN -o OUT", "info IN"}) {
        std::string from_file = cmd, from_fifo = cmd;
        const std::string out_arg = cmd.find("OUT") == std::string::npos ? "" : "OUT";
        auto fill = [&](std::string s, const std::string &in, const std::string &out) {
            s.replace(s.find("IN"), 2, q(in));
            if (!out_arg.empty()) s.replace(s.find("OUT"), 3, q(out));
            return s;
        };
        const auto a = run_tool(fill(cmd, dir.file("m.QRX"), dir.file("a.wav")));
        const auto b = run_tool(fill(cmd, dir.file("f.QRX"), dir.file("b.wav")), feed);
        ASSERT_EQ(b.status, 0) << cmd << b.err;
        if (out_arg.empty()) {
            EXPECT_EQ(b.out.substr(b.out.find('\n')), a.out.substr(a.out.find('\n'))) << cmd;
        } else {
            EXPECT_EQ(qrxc::test::read_bytes(dir.file("b.wav")), qrxc::test::read_bytes(dir.file("a.wav"))) << cmd;
            fs::remove(dir.file("a.wav"));
            fs::remove(dir.file("b.wav"));
        }
    }
    // No writer ever comes: Ctrl-C still ends it at once.
    const pid_t pid = spawn({"decode", dir.file("f.QRX"), "-o", dir.file("x.wav")});
    // Interrupt only once it waits in the FIFO's open: earlier, a slow start
    // (sanitizers, a loaded machine) would meet the default handler.
    const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
    for (int i = 0; i < 2000 && qrxc::test::text_of(qrxc::test::read_bytes(wchan)) != "wait_for_partner"; ++i)
        ::usleep(5000);
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
}

TEST(CliFaults, EverySignalRemovesThePartialOutput) {
    struct Case {
        const char *command;
        int sig;
    };
    const Case cases[] = {{"decode", SIGHUP}, {"decode", SIGQUIT}, {"decode", SIGTERM}, {"speed", SIGHUP},
                          {"speed", SIGUSR1}, {"encode", SIGQUIT}, {"encode", SIGALRM}, {"decode", SIGPIPE}};
    for (const Case &c : cases) {
        qrxc::test::Scratch_dir dir;
        const bool encode = c.command == std::string("encode");
        const std::string fifo = dir.file("in.fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::vector<std::string> args{c.command, "-", "-o", dir.file("out.wav")};
        if (encode) args.insert(args.end(), {"-t", "5"});
        if (c.command == std::string("speed")) args.insert(args.end(), {"--level", "2"});
        const pid_t pid = spawn(args, fifo);
        const int w = ::open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(w, 0);
        const Bytes data =
            encode ? qrxc::test::pcm_wav(8000, 1, qrxc::test::tone(48000, 8000)) : qrxc::test::noise_stream(5, 400);
        ASSERT_EQ(::write(w, data.data(), data.size() / 2), static_cast<ssize_t>(data.size() / 2));
        for (int i = 0; i < 500 && !has_hidden_temporary(dir.path().string()); ++i) ::usleep(10000);
        EXPECT_TRUE(has_hidden_temporary(dir.path().string())) << c.command << " " << c.sig;
        ::kill(pid, c.sig);
        if (c.sig == SIGPIPE) ::close(w);  // ignored: the command finishes and keeps its output
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(w);
        if (c.sig == SIGINT || c.sig == SIGTERM) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << c.command;
        } else if (c.sig != SIGPIPE) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << c.command << " " << c.sig;
        }
        EXPECT_FALSE(has_hidden_temporary(dir.path().string())) << c.command << " " << c.sig;
    }
}

TEST(CliFaults, LongestNamesWork) {
    qrxc::test::Scratch_dir dir;
    make_inputs(dir, 3);
    const std::string name(251, 'n');  // plus ".wav": 255 bytes, the most a name may have
    for (const Writer_case &w : WRITERS) {
        const std::string out = dir.file(name + (w.name == std::string("encode") ? ".QRX" : ".wav"));
        const auto r = run_tool(expand(w.args, dir.file(w.input), out) + " -y");
        EXPECT_EQ(r.status, 0) << w.name << ": " << r.err;
        EXPECT_TRUE(fs::exists(out)) << w.name;
    }
    EXPECT_EQ(qrxc::temporary_name_for("/d/" + name + ".wav").size(), 3 + 255u);
}

TEST(CliFaults, FloatSamplesClipToTheirOwnRailAndNaNIsRefused) {
    // Each float file codes as its 16-bit twin on the rails, mixed down and
    // resampled (44.1 kHz) or not.
    struct Case {
        const char *name;
        unsigned rate, channels;
        std::vector<float> samples;  // one frame's channels, repeated
        std::vector<short> rails;    // the same frame in 16 bits
    };
    const Case cases[] = {
        {"loud", 8000, 1, {3e14f}, {32767}},
        {"inf", 8000, 1, {INFINITY}, {32767}},
        {"inf 44.1 kHz", 44100, 1, {INFINITY}, {32767}},
        {"-inf 44.1 kHz", 44100, 1, {-INFINITY}, {-32768}},
        {"loud stereo 44.1 kHz", 44100, 2, {INFINITY, -INFINITY, 3e14f, 3e14f}, {32767, -32768, 32767, 32767}},
    };
    for (const Case &c : cases) {
        qrxc::test::Scratch_dir dir;
        std::vector<float> f;
        std::vector<short> p;
        for (int i = 0; i < 3000; ++i) {
            f.insert(f.end(), c.samples.begin(), c.samples.end());
            p.insert(p.end(), c.rails.begin(), c.rails.end());
        }
        qrxc::test::write_bytes(dir.file("f.wav"), qrxc::test::float_wav(c.rate, f, c.channels));
        qrxc::test::write_bytes(dir.file("p.wav"), qrxc::test::pcm_wav(c.rate, c.channels, p));
        for (const char *name : {"f", "p"})
            ASSERT_EQ(run_tool("encode -q -t 6 " + q(dir.file(std::string(name) + ".wav"))).status, 0) << c.name;
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("f.QRX")), qrxc::test::read_bytes(dir.file("p.QRX"))) << c.name;
    }

    for (const unsigned channels : {1u, 2u}) {
        qrxc::test::Scratch_dir dir;
        std::vector<float> bad(13230 * channels, 0.25f);
        bad[1234 * channels + channels - 1] = NAN;
        qrxc::test::write_bytes(dir.file("nan.wav"),
                                qrxc::test::float_wav(channels == 1 ? 8000 : 44100, bad, channels));
        const auto r = run_tool("encode -t 6 " + q(dir.file("nan.wav")));
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(channels == 1 ? "sample 1234 is not" : "sample 1234 (channel 2) is not"),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(fs::exists(dir.file("nan.QRX")));
    }
}

#endif  // QRX_CLI
