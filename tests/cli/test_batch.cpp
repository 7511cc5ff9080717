// qrx on whole collections: directories, mirrored outputs, workers, the
// overwrite policy, formats, rates, JSON, failures and interrupts in a batch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "common_support.h"

#ifdef QRX_CLI

namespace {

namespace fs = std::filesystem;
using qrxc::test::Bytes;
using qrxc::test::run_tool;
std::string q(const std::string &s) { return qrxc::test::quoted(s); }

// A nested collection of every type: 2024/01/a.QRX and so on.
void make_collection(const qrxc::test::Scratch_dir &dir) {
    const struct {
        const char *name;
        unsigned type, frames;
    } files[] = {{"in/a.QRX", 1, 12},        {"in/2024/01/b.qrx", 2, 9}, {"in/2024/01/c.QRX", 0, 5},
                 {"in/2024/02/d.Qrx", 4, 7}, {"in/2024/02/e.QRX", 5, 3}, {"in/f.QRX", 6, 4}};
    for (const auto &f : files) {
        fs::create_directories(fs::path(dir.file(f.name)).parent_path());
        qrxc::test::write_bytes(dir.file(f.name), qrxc::test::noise_stream(f.type, f.frames, 3, 12000, f.frames));
    }
    qrxc::test::write_bytes(dir.file("in/notes.txt"), {1, 2, 3});  // not picked
}

// The samples of any audio file libsndfile reads, and its rate.
std::vector<short> read_audio(const std::string &path, int &rate) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return {};
    std::vector<short> pcm(static_cast<std::size_t>(info.frames * info.channels));
    sf_read_short(f, pcm.data(), static_cast<sf_count_t>(pcm.size()));
    sf_close(f);
    rate = info.samplerate;
    return pcm;
}

}  // namespace

TEST(CliBatch, MirrorsACollectionAndMatchesSingleDecodes) {
    qrxc::test::Scratch_dir dir;
    make_collection(dir);
    const auto r = run_tool("decode -q -r -j 3 " + q(dir.file("in")) + " -O " + q(dir.file("out")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(qrxc::test::tree(dir.file("out")),
              (std::vector<std::string>{"2024", "2024/01", "2024/01/b.wav", "2024/01/c.wav", "2024/02", "2024/02/d.wav",
                                        "2024/02/e.wav", "a.wav", "f.wav"}));
    for (const char *name : {"a", "2024/01/b", "2024/01/c", "2024/02/d", "2024/02/e", "f"}) {
        const std::string rel = name;
        std::string src;
        for (const auto &e : fs::recursive_directory_iterator(dir.file("in")))
            if (e.path().string().starts_with(dir.file("in/" + rel + ".")) && e.path().extension() != ".txt")
                src = e.path().string();
        ASSERT_EQ(run_tool("decode -q " + q(src) + " -o " + q(dir.file("one.wav")) + " -y").status, 0);
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("out/" + rel + ".wav")), qrxc::test::read_bytes(dir.file("one.wav")))
            << rel;
    }
    // A directory without -r is refused, not skipped.
    EXPECT_EQ(run_tool("decode " + q(dir.file("in"))).status, 2);
}

TEST(CliBatch, WorkersGiveTheSerialBytes) {
    qrxc::test::Scratch_dir dir;
    make_collection(dir);
    const std::string in = q(dir.file("in"));
    for (const std::string &cmd : {std::string("decode"), std::string("speed --level 9"),
                                   std::string("speed --vibrato"), std::string("decode --format flac --rate 16000")}) {
        ASSERT_EQ(run_tool(cmd + " -q -r -j 1 " + in + " -O " + q(dir.file("j1"))).status, 0) << cmd;
        ASSERT_EQ(run_tool(cmd + " -q -r -j 4 " + in + " -O " + q(dir.file("j4"))).status, 0) << cmd;
        const auto names = qrxc::test::tree(dir.file("j1"));
        EXPECT_EQ(names, qrxc::test::tree(dir.file("j4"))) << cmd;
        for (const auto &n : names)
            if (fs::is_regular_file(dir.file("j1/" + n))) {
                EXPECT_EQ(qrxc::test::read_bytes(dir.file("j1/" + n)), qrxc::test::read_bytes(dir.file("j4/" + n)))
                    << cmd << n;
            }
        fs::remove_all(dir.file("j1"));
        fs::remove_all(dir.file("j4"));
    }
}

TEST(CliBatch, OverwritePolicy) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), qrxc::test::noise_stream(5, 4));
    qrxc::test::write_bytes(dir.file("b.QRX"), qrxc::test::noise_stream(5, 6));
    const Bytes old = {7, 7, 7};
    struct Case {
        const char *flags;
        int status;
        bool replaced;
        const char *says;
    };
    const Case cases[] = {
        // A re-run: one hint, not a line per file, and still a non-zero status.
        {"", 1, false, "1 converted, 1 skipped (exists), 0 failed\nqrx: 1 output exists already"},
        {"--skip-existing", 0, false, "1 converted, 1 skipped, 0 failed"},
        {"-y", 0, true, "2 converted, 0 skipped, 0 failed"},
        {"--force", 0, true, "2 converted"},
    };
    for (const Case &c : cases) {
        qrxc::test::write_bytes(dir.file("a.wav"), old);
        std::remove(dir.file("b.wav").c_str());
        const auto r =
            run_tool(std::string("decode ") + c.flags + " " + q(dir.file("a.QRX")) + " " + q(dir.file("b.QRX")));
        EXPECT_EQ(r.status, c.status) << c.flags;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.flags << ": " << r.err;
        EXPECT_EQ(r.err.find("a.wav"), std::string::npos) << c.flags << ": " << r.err;
        EXPECT_EQ(qrxc::test::read_bytes(dir.file("a.wav")) != old, c.replaced) << c.flags;
        EXPECT_GT(qrxc::test::read_bytes(dir.file("b.wav")).size(), 46u) << c.flags;
    }
    // A single input keeps its own exit code.
    EXPECT_EQ(run_tool("decode " + q(dir.file("a.QRX"))).status, 4);
    EXPECT_EQ(run_tool("encode -t 1 " + q(dir.file("a.wav")) + " -o " + q(dir.file("a.QRX"))).status, 4);
}

TEST(CliBatch, ClashingOutputsStopBeforeAnythingIsWritten) {
    qrxc::test::Scratch_dir dir;
    fs::create_directories(dir.file("x"));
    fs::create_directories(dir.file("y"));
    for (const char *name : {"x/m.QRX", "y/m.QRX", "x/n.QRX", "x/n.qrx"})
        qrxc::test::write_bytes(dir.file(name), qrxc::test::noise_stream(4, 2));
    const std::string out = " -O " + q(dir.file("out"));
    // A dangling link in the output tree names the file it would create.
    fs::create_directories(dir.file("linked"));
    fs::create_symlink("n.wav", dir.file("linked/m.wav"));
    for (const std::string &args :
         {"decode " + q(dir.file("x/m.QRX")) + " " + q(dir.file("y/m.QRX")) + out,
          "decode -r " + q(dir.file("x")) + " " + q(dir.file("y")) + out,
          "speed --level 3 " + q(dir.file("x/n.QRX")) + " " + q(dir.file("x/n.qrx")),
          "decode -y " + q(dir.file("x/m.QRX")) + " " + q(dir.file("x/n.QRX")) + " -O " + q(dir.file("linked"))}) {
        const auto r = run_tool(args);
        EXPECT_EQ(r.status, 4) << args;
        EXPECT_NE(r.err.find("would both write"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.file("out")));
    EXPECT_EQ(qrxc::test::tree(dir.file("linked")), std::vector<std::string>{"m.wav"});
    EXPECT_EQ(qrxc::test::tree(dir.file("x")), (std::vector<std::string>{"m.QRX", "n.QRX", "n.qrx"}));
    EXPECT_EQ(
        run_tool("decode " + q(dir.file("x/m.QRX")) + " " + q(dir.file("y/m.QRX")) + " -o " + q(dir.file("one.wav")))
            .status,
        4)
        << "-o takes one input";
}

TEST(CliBatch, FormatsAndRates) {
    qrxc::test::Scratch_dir dir;
    const std::string src = q(dir.file("m.QRX"));
    qrxc::test::write_bytes(dir.file("m.QRX"), qrxc::test::noise_stream(2, 50, 0, 8000));
    ASSERT_EQ(run_tool("decode -q " + src).status, 0);
    int rate = 0;
    const std::vector<short> wav = read_audio(dir.file("m.wav"), rate);
    ASSERT_EQ(wav.size(), 50u * 240);

    ASSERT_EQ(run_tool("decode -q " + src + " -o " + q(dir.file("m.flac"))).status, 0);
    EXPECT_EQ(read_audio(dir.file("m.flac"), rate), wav) << "FLAC is lossless";
    EXPECT_EQ(qrxc::test::text_of(qrxc::test::read_bytes(dir.file("m.flac"))).substr(0, 4), "fLaC");

    ASSERT_EQ(run_tool("decode -q --rate 48000 " + src + " -o " + q(dir.file("m48.wav"))).status, 0);
    const std::vector<short> up = read_audio(dir.file("m48.wav"), rate);
    EXPECT_EQ(rate, 48000);
    EXPECT_NEAR(static_cast<double>(up.size()), 6.0 * static_cast<double>(wav.size()), 6);
    EXPECT_EQ(qrxc::test::read_bytes(dir.file("m48.wav")).size(), 46 + 2 * up.size()) << "the converter's WAV header";

    ASSERT_EQ(run_tool("decode -q --format raw " + src).status, 0);
    const Bytes raw = qrxc::test::read_bytes(dir.file("m.raw"));
    const Bytes plain = qrxc::test::read_bytes(dir.file("m.wav"));
    EXPECT_EQ(raw, Bytes(plain.begin() + 46, plain.end()));

    for (const char *f : {"ogg", "opus", "mp3"}) {
        const auto r = run_tool(std::string("decode -q --format ") + f + " " + src);
        ASSERT_EQ(r.status, 0) << f << r.err;
        EXPECT_GT(read_audio(dir.file(std::string("m.") + f), rate).size(), 0u) << f;
    }
}

TEST(CliBatch, EncodeTakesStereo44100) {
    qrxc::test::Scratch_dir dir;
    const std::vector<short> mono = qrxc::test::tone(44100, 44100);
    std::vector<short> stereo;
    for (short v : mono) {
        stereo.push_back(v);
        stereo.push_back(static_cast<short>(v / 2));
    }
    qrxc::test::write_bytes(dir.file("s.wav"), qrxc::test::pcm_wav(44100, 2, stereo));
    const auto r = run_tool("encode -t 2 " + q(dir.file("s.wav")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("44100 Hz, 2 channels; converted to mono at 8000 Hz"), std::string::npos) << r.err;
    const Bytes qs = qrxc::test::read_bytes(dir.file("s.QRX"));
    EXPECT_EQ(qs[4] | qs[5] << 8, 8000);
    EXPECT_NEAR(static_cast<double>(qs.size() - 16) / 24, 8000.0 / 240, 1.5);  // one second
}

TEST(CliBatch, InfoJson) {
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), qrxc::test::noise_stream(2, 10, 5, 16000));
    qrxc::test::write_bytes(dir.file("b \"q\".QRX"), qrxc::test::noise_stream(6, 4, 0, 8000));
    if (std::system("python3 -c pass 2>/dev/null") != 0) GTEST_SKIP() << "python3 not installed";
    const std::string check =
        "python3 -c 'import json,sys; d=json.load(sys.stdin); a,b=d; "
        "assert a[\"type\"]==2 and a[\"frames\"]==10 and a[\"trailing_bytes\"]==5 and a[\"sample_rate\"]==16000, a; "
        "assert abs(a[\"duration\"]-0.15)<1e-9 and a[\"header\"]==\"long\" and a[\"concealed_frames\"]>=0, a; "
        "assert a[\"type_name\"].startswith(\"G.723.1 6.3\"), a; "
        "assert b[\"type\"]==6 and b[\"frames\"]==4 and b[\"concealed_frames\"] is None and b[\"file\"].endswith(\"b "
        "\\\"q\\\".QRX\"), b; "
        "print(\"ok\")'";
    const auto r = run_tool("info --json " + q(dir.file("a.QRX")) + " " + q(dir.file("b \"q\".QRX")) + " | " + check);
    EXPECT_EQ(r.out, "ok\n") << r.err;

    // The count is the decoder's own judgement, frame by frame.
    const Bytes a = qrxc::test::read_bytes(dir.file("a.QRX"));
    int concealed = 0;
    for (std::size_t at = 16; at + 24 <= a.size(); at += 24) concealed += Qrxc_frame_concealed(2, a.data() + at) == 1;
    const auto human = run_tool("info " + q(dir.file("a.QRX")));
    EXPECT_NE(human.out.find("concealed:    " + std::to_string(concealed) + " frames"), std::string::npos) << human.out;
}

TEST(CliBatch, OneBadFileDoesNotStopTheRest) {
    qrxc::test::Scratch_dir dir;
    fs::create_directories(dir.file("in/sub"));
    qrxc::test::write_bytes(dir.file("in/good.QRX"), qrxc::test::noise_stream(5, 3));
    qrxc::test::write_bytes(dir.file("in/bad.QRX"), {'N', 'O', 'P', 'E', 1, 2});
    qrxc::test::write_bytes(dir.file("in/sub/blocked.QRX"), qrxc::test::noise_stream(4, 3));
    qrxc::test::write_bytes(dir.file("in/z.QRX"), qrxc::test::noise_stream(1, 3));
    fs::create_directories(dir.file("out"));
    qrxc::test::write_bytes(dir.file("out/sub"), {0});  // a file where the output directory should be
    const auto r = run_tool("decode -r -j 2 " + q(dir.file("in")) + " -O " + q(dir.file("out")));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("2 converted, 0 skipped, 2 failed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bad.QRX: not a QRX stream header"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("blocked.wav: cannot create the directory " + dir.file("out/sub")), std::string::npos)
        << r.err;
    EXPECT_EQ(qrxc::test::tree(dir.file("out")), (std::vector<std::string>{"good.wav", "sub", "z.wav"}));
}

// Permissions do not bind root: the tests then run qrx as nobody.
std::string unprivileged() { return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : ""; }

TEST(CliBatch, WhatCannotBeReadOrCreatedFailsWithItsReason) {
    qrxc::test::Scratch_dir dir;
    fs::create_directories(dir.file("in/locked"));
    qrxc::test::write_bytes(dir.file("in/a.QRX"), qrxc::test::noise_stream(5, 3));
    qrxc::test::write_bytes(dir.file("in/locked/b.QRX"), qrxc::test::noise_stream(5, 3));
    ASSERT_EQ(::mkfifo(dir.file("in/f.QRX").c_str(), 0644), 0);
    fs::create_symlink("nowhere.QRX", dir.file("in/gone.QRX"));
    fs::create_directories(dir.file("out"));
    fs::create_directories(dir.file("ro"));
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(dir.file("out"), fs::perms(0777));
    fs::permissions(dir.file("ro"), fs::perms(0555));
    fs::permissions(dir.file("in/locked"), fs::perms(0));
    const bool permissions_bite = run_tool("--version", unprivileged()).status == 0;
    struct Case {
        std::string out_dir;
        std::vector<std::string> says;
        bool needs_permissions;
    };
    const Case cases[] = {
        {"out",
         {"f.QRX: is a FIFO", "gone.QRX: cannot open", "1 converted, 0 skipped, 3 failed", "locked: cannot list"},
         true},
        {"out", {"f.QRX: is a FIFO", "gone.QRX: cannot open"}, false},
        {"ro/new", {"cannot create the directory " + dir.file("ro/new") + ": Permission denied"}, true},
    };
    for (const Case &c : cases) {
        if (c.needs_permissions && !permissions_bite) continue;
        const auto r = run_tool("decode -r " + q(dir.file("in")) + " -O " + q(dir.file(c.out_dir)),
                                c.needs_permissions ? unprivileged() : "");
        EXPECT_EQ(r.status, 1) << c.out_dir;
        for (const std::string &text : c.says) EXPECT_NE(r.err.find(text), std::string::npos) << text << ": " << r.err;
    }
    fs::permissions(dir.file("in/locked"), fs::perms(0755));
}

TEST(CliBatch, InterruptAtAnyMomentLeavesNoTemporary) {
    // Many workers on two-frame files are making temporaries most of the
    // time, so a signal often lands while one is being made: before the
    // handler and the makers agreed, 4 runs in 10 left one behind.
    qrxc::test::Scratch_dir dir;
    fs::create_directories(dir.file("in"));
    const Bytes two_frames = qrxc::test::noise_stream(4, 2);
    for (int i = 0; i < 400; ++i) qrxc::test::write_bytes(dir.file("in/" + std::to_string(i) + ".QRX"), two_frames);
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    int interrupted = 0;
    for (int run = 0; run < 24; ++run) {
        fs::remove_all(dir.file("out"));
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execl(QRX_CLI, QRX_CLI, "decode", "-q", "-j", "64", "-r", dir.file("in").c_str(), "-O",
                    dir.file("out").c_str(), static_cast<char *>(nullptr));
            ::_exit(98);
        }
        ::usleep(static_cast<useconds_t>(20000 + 5000 * (run % 7)));
        ::kill(pid, signals[run % 3]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++interrupted;
        if (!fs::exists(dir.file("out"))) continue;
        for (const std::string &name : qrxc::test::tree(dir.file("out")))
            EXPECT_FALSE(name.ends_with(".part")) << "run " << run << ": " << name;
    }
    EXPECT_GT(interrupted, 12) << "the batch should be stopped mid-way in most runs";
}

TEST(CliBatch, InterruptRemovesEveryPartialFile) {
    // The second input is a FIFO held open, so the batch is mid-file when
    // the signal comes; the first is finished by then and stays.
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), qrxc::test::noise_stream(5, 3));
    const std::string fifo = dir.file("b.QRX");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string out = dir.file("out");
        ::execl(QRX_CLI, QRX_CLI, "decode", "-q", "-j", "1", dir.file("a.QRX").c_str(), fifo.c_str(), "-O", out.c_str(),
                static_cast<char *>(nullptr));
        ::_exit(98);
    }
    const int w = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    const Bytes stream = qrxc::test::noise_stream(5, 20);
    ASSERT_EQ(::write(w, stream.data(), 16 + 5 * 120), 16 + 5 * 120);
    for (int i = 0; i < 500 && (!fs::exists(dir.file("out")) || qrxc::test::tree(dir.file("out")).size() < 2); ++i)
        ::usleep(10000);
    ASSERT_EQ(qrxc::test::tree(dir.file("out")).size(), 2u) << "a.wav and b's temporary";
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(w);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
    EXPECT_EQ(qrxc::test::tree(dir.file("out")), std::vector<std::string>{"a.wav"});
}

TEST(CliBatch, VersionAndQuiet) {
    const auto v = run_tool("--version");
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find("qrx "), std::string::npos);
    EXPECT_NE(v.out.find("libqrxc "), std::string::npos);
    qrxc::test::Scratch_dir dir;
    qrxc::test::write_bytes(dir.file("a.QRX"), qrxc::test::noise_stream(5, 3));
    qrxc::test::write_bytes(dir.file("b.QRX"), qrxc::test::noise_stream(5, 3));
    for (const std::string cmd : {"decode -q", "speed -q --level 2", "info -q", "decode -q --format flac"}) {
        const auto r = run_tool(cmd + " " + q(dir.file("a.QRX")) + " " + q(dir.file("b.QRX")) +
                                (cmd.starts_with("info") ? "" : " -y -O " + q(dir.file("o"))));
        EXPECT_TRUE(r.err.empty()) << cmd << ": " << r.err;
    }
}

TEST(CliBatch, OptionFaultsStopBeforeAnythingIsWritten) {
    qrxc::test::Scratch_dir dir;
    fs::create_directories(dir.file("in"));
    for (const char *name : {"in/a.QRX", "in/b.QRX"})
        qrxc::test::write_bytes(dir.file(name), qrxc::test::noise_stream(5, 3));
    const std::string one = q(dir.file("in/a.QRX"));
    const std::string all = "-r " + q(dir.file("in")) + " -O " + q(dir.file("out"));
    const struct {
        std::string args;
        const char *says;
    } cases[] = {
        {"decode " + one + " -o " + q(dir.file("x.m4a")), ".m4a names no output format; the formats are wav, flac"},
        {"decode " + one + " --format flac -o " + q(dir.file("x.wav")), "another format than --format flac"},
        {"speed --level 2 " + one + " --format ogg -o " + q(dir.file("x.mp3")), "another format than --format ogg"},
        {"decode " + all + " --format opus --rate 44100", "opus output at 44100 Hz is not supported"},
        {"encode -t 4 --output-format g723 " + all, "needs type 1"},
        {"encode -t 1 --output-format g723 --rate 16000 " + all, "standard G.723.1 streams are 8000 Hz"},
    };
    for (const auto &c : cases) {
        const auto r = run_tool(c.args);
        EXPECT_EQ(r.status, 3) << c.args;
        // Said once, not per file, and no output or directory made.
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.find(c.says), r.err.rfind(c.says)) << r.err;
        EXPECT_EQ(qrxc::test::tree(dir.path()), (std::vector<std::string>{"in", "in/a.QRX", "in/b.QRX"})) << c.args;
    }
    // The escape, for a name the user insists on.
    EXPECT_EQ(run_tool("decode -q " + one + " --format flac --force-format -o " + q(dir.file("x.wav"))).status, 0);
}

#endif  // QRX_CLI
