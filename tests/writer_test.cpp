// writer_test.cpp - the library's files while others watch and change them:
// a follower that reads past its last offset, truncation and renaming from
// outside, exit() amid writing threads, writes refused by a size limit, a
// full file system or an I/O error, FIFOs and devices, one file named twice,
// rank file names, and a cat of the very file being written.
#include "base/errm_options.h"
#include "platform/errm_platform.h"
#include "test_descriptors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace errmtest;

namespace {

std::string Line(int p, int i) {
    return "** Error: (SIM - 1) p=" + std::to_string(p) + " i=" + std::to_string(i) + "\n";
}

// Starts the library on dir with message 1 "p=%d i=%d" on the channels.
int Start(const std::string &dir, std::vector<std::uint8_t> channels, const std::string &root,
          const std::string &transcript, errmdesc::Message extra = {}) {
    setenv("ORV_VCO", "ixl", 1);
    std::vector<errmdesc::Message> msgs = {Msg(1, kError, "p=%d i=%d", std::move(channels))};
    if (extra.number != 0) msgs.push_back(extra);
    WriteDescriptor(Cat("SIM", msgs), dir);
    ERRM_Set_Root_ForMemoryDescriptor((dir + "/").c_str());
    ERRM_Set_RootReportFiles(root.c_str());
    ERRM_Set_GlobalNbrMaxOfMessages(0);
    ERRM_Set_TranScriptFileName(transcript.c_str());
    int ss = -1;
    return ERRM_Init() == 1 && ERRM_ReadErrorDescriptor("SIM", &ss) == 0 ? ss : -1;
}

// Reads only what was appended since its last read, as tail -f and log
// collectors do; starts again at 0 after a truncation.
class Follower {
  public:
    explicit Follower(std::string path) : path_(std::move(path)) {}
    ~Follower() {
        if (fd_ >= 0) close(fd_);
    }
    std::string Next() {
        if (fd_ < 0 && (fd_ = open(path_.c_str(), O_RDONLY)) < 0) return "";
        struct stat st;
        if (fstat(fd_, &st) == 0 && st.st_size < off_) off_ = 0;
        std::string got;
        char buf[1 << 16];
        for (ssize_t k; (k = pread(fd_, buf, sizeof buf, off_)) > 0; off_ += k)
            got.append(buf, static_cast<std::size_t>(k));
        return got;
    }

  private:
    std::string path_;
    int fd_ = -1;
    off_t off_ = 0;
};

// What no reader may ever see: a NUL byte or a blank line. The complete
// lines of bytes are checked; the unterminated rest is kept for the next.
bool Clean(std::string *pending, const std::string &bytes) {
    *pending += bytes;
    if (pending->find('\0') != std::string::npos) return false;
    for (std::size_t eol; (eol = pending->find('\n')) != std::string::npos;) {
        const bool blank = pending->find_first_not_of(' ') >= eol;
        pending->erase(0, eol + 1);
        if (blank) return false;
    }
    return true;
}

// Counts the lines "p=P i=I" per p, and anything else that is not a header.
struct Scan {
    std::map<int, std::vector<int>> lines;
    int headers = 0, other = 0;
    bool nul = false;
};
Scan ScanText(const std::string &text) {
    Scan s;
    s.nul = text.find('\0') != std::string::npos;
    for (std::size_t at = 0, eol; at < text.size(); at = eol + 1) {
        eol = text.find('\n', at);
        if (eol == std::string::npos) eol = text.size();
        const std::string line = text.substr(at, eol - at);
        int p = 0, i = 0, n = 0;
        if (line.rfind("START report: ", 0) == 0)
            ++s.headers;
        else if (std::sscanf(line.c_str(), "** Error: (SIM - 1) p=%d i=%d%n", &p, &i, &n) == 2 &&
                 static_cast<std::size_t>(n) == line.size())
            s.lines[p].push_back(i);
        else
            ++s.other;
    }
    return s;
}

// Runs body in a child (standard output to out, killed after 20 s so that
// a blocked write shows); returns its wait status.
template <class Body> int InChild(const std::string &out, Body body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        alarm(20);
        body();
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Ints that a forked child fills and its parent reads.
struct Shared {
    explicit Shared(std::size_t count)
        : n(count), at(static_cast<int *>(mmap(nullptr, count * sizeof(int), PROT_READ | PROT_WRITE,
                                               MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {}
    ~Shared() { munmap(at, n * sizeof(int)); }
    int count(int value) const { return static_cast<int>(std::count(at, at + n, value)); }
    std::size_t n;
    int *at;
};

std::vector<int> Upto(std::size_t n) {
    std::vector<int> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<int>(i);
    return v;
}

bool MountTmpfs(const std::string &dir, const char *options) {
    return mkdir(dir.c_str(), 0700) == 0 && mount("tmpfs", dir.c_str(), "tmpfs", 0, options) == 0;
}

// --------------------------------------------------------------- follower

struct FollowCase {
    const char *name;
    std::uint8_t channel;
    const char *file; // empty: the trace file
};

class Follow : public ::testing::TestWithParam<FollowCase> {};

TEST_P(Follow, AfterEachCallTheNewBytesAreItsLinesAndAReaderNeverSeesLessThanWholeLines) {
    const FollowCase &k = GetParam();
    TempDir dir;
    const bool trace = k.file[0] == '\0';
    ScopedEnv ldbg("KOVA_ERRM_LDBG",
                   trace ? std::optional<std::string>(dir.path() + ";X:X:X:X:X:1") : std::nullopt);
    const int ss = Start(dir.path(), {k.channel}, dir.file("run"), dir.file("run.tra"));
    ASSERT_GE(ss, 0);
    const std::string path =
        trace ? dir.file("errm_dll_trace_" + std::to_string(getpid()) + ".txt") : dir.file(k.file);
    // A second process polls the file all the while.
    int stop[2];
    ASSERT_EQ(pipe(stop), 0);
    std::fflush(nullptr);
    const pid_t watcher = fork();
    if (watcher == 0) {
        close(stop[1]);
        fcntl(stop[0], F_SETFL, O_NONBLOCK);
        Follower f(path);
        std::string pending;
        bool clean = true;
        char c;
        while (read(stop[0], &c, 1) != 0)
            clean = Clean(&pending, f.Next()) && clean;
        clean = Clean(&pending, f.Next()) && clean;
        _exit(clean && pending.empty() ? 0 : 1);
    }
    close(stop[0]);
    Follower f(path);
    int wrong = 0;
    for (int i = 0; i < 3000; ++i) {
        ERRM_ProcessError(ss, 1, 0, i);
        const std::string got = f.Next();
        if (trace)
            wrong += got.empty() || got.back() != '\n' ||
                     got.find("): C_REPORT_TRANSCRIPT\n") == std::string::npos;
        else
            wrong += (i == 0 ? AfterHeader(got) : got) != Line(0, i);
    }
    close(stop[1]);
    int status = 0;
    waitpid(watcher, &status, 0);
    EXPECT_EQ(wrong, 0) << k.name;
    EXPECT_EQ(status, 0) << k.name << ": the watcher saw a blank, a NUL or a cut line";
    EXPECT_EQ(ERRM_FInit(), 1);
}

const FollowCase kFollow[] = {{"log", kLog, "run.log"},
                              {"rep", kReport, "run.rep"},
                              {"dbi", kDbgI, "run.dbi"},
                              {"dbg", kDbgC, "run.dbg"},
                              {"transcript", kTranscript, "run.tra"},
                              {"trace", kTranscript, ""}};
INSTANTIATE_TEST_SUITE_P(Files, Follow, ::testing::ValuesIn(kFollow),
                         [](const auto &p) { return std::string(p.param.name); });

// ------------------------------------------------------- changed outside

TEST(Outside, TruncatedEmptiedCopiedOrRenamedBetweenCalls) {
    const struct {
        const char *name;
        void (*act)(const std::string &file);
        const char *next; // the file that receives the next line, alone after the act
    } cases[] = {
        {"truncate -s 0", [](const std::string &f) { (void)!truncate(f.c_str(), 0); }, ""},
        {": >", [](const std::string &f) { close(open(f.c_str(), O_WRONLY | O_TRUNC)); }, ""},
        {"copytruncate",
         [](const std::string &f) {
             WriteFile(f + ".1", ReadFile(f));
             (void)!truncate(f.c_str(), 0);
         },
         ""},
        {"mv", [](const std::string &f) { rename(f.c_str(), (f + ".1").c_str()); }, ".1"},
    };
    for (const auto &k : cases) {
        TempDir dir;
        const int ss = Start(dir.path(), {kLog}, dir.file("run"), dir.file("run.tra"));
        const std::string log = dir.file("run.log");
        for (int i = 0; i < 3; ++i)
            ERRM_ProcessError(ss, 1, 0, i);
        const std::string before = ReadFile(log);
        k.act(log);
        EXPECT_EQ(ERRM_ProcessError(ss, 1, 0, 3), 0) << k.name;
        ERRM_ProcessError(ss, 1, 0, 4);
        EXPECT_EQ(ERRM_FInit(), 1) << k.name;
        if (k.next[0] == '\0') {
            EXPECT_EQ(ReadFile(log), Line(0, 3) + Line(0, 4)) << k.name << ": no hole, no NUL";
        } else {
            EXPECT_FALSE(FileExists(log)) << k.name;
            EXPECT_EQ(ReadFile(log + k.next), before + Line(0, 3) + Line(0, 4)) << k.name;
        }
        if (std::string(k.name) == "copytruncate") {
            EXPECT_EQ(ReadFile(log + ".1"), before);
        }
    }
}

TEST(Outside, TruncatedEveryFewMillisecondsDuringABurst) {
    TempDir dir;
    const int ss = Start(dir.path(), {kLog, kTranscript}, dir.file("run"), dir.file("run.tra"));
    ERRM_ProcessError(ss, 1, 0, 0); // the files exist
    std::atomic<bool> done{false};
    std::thread truncator([&] {
        while (!done) {
            (void)!truncate(dir.file("run.log").c_str(), 0);
            (void)!truncate(dir.file("run.tra").c_str(), 0);
            usleep(2000);
        }
    });
    int failed = 0;
    for (int i = 1; i <= 30000; ++i)
        failed += ERRM_ProcessError(ss, 1, 0, i) != 0;
    done = true;
    truncator.join();
    ERRM_ProcessError(ss, 1, 0, 30001);
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(failed, 0);
    for (const char *f : {"run.log", "run.tra"}) {
        Scan s = ScanText(ReadFile(dir.file(f)));
        EXPECT_FALSE(s.nul) << f;
        EXPECT_EQ(s.other, 0) << f << ": every line whole";
        ASSERT_FALSE(s.lines[0].empty()) << f;
        EXPECT_EQ(s.lines[0].back(), 30001) << f;
    }
}

// ------------------------------------------------- exit amid writing threads

TEST(ExitWhileWriting, NoSignalAndEveryReturnedLineKept) {
    constexpr int kThreads = 4;
    for (int round = 0; round < 10; ++round) {
        TempDir dir;
        Shared returned(kThreads); // calls returned per thread
        const int status = InChild(dir.file("out"), [&] {
            const int ss = Start(dir.path(), {kLog}, dir.file("run"), dir.file("run.tra"));
            for (int p = 0; p < kThreads; ++p)
                std::thread([&, p] {
                    for (int i = 0;; ++i) {
                        ERRM_ProcessError(ss, 1, p, i);
                        std::atomic_ref<int>(returned.at[p]).store(i + 1);
                    }
                }).detach();
            usleep(static_cast<useconds_t>(2000 + 1000 * round));
            std::exit(0);
        });
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << round << ": " << status;
        // exit() ends the other threads wherever they are: one may be inside
        // its write(2), whose line the file then holds cut, at its very end.
        std::string text = ReadFile(dir.file("run.log"));
        if (!text.empty() && text.back() != '\n') text.erase(text.rfind('\n') + 1);
        Scan s = ScanText(text);
        EXPECT_EQ(s.other, 0);
        EXPECT_FALSE(s.nul);
        for (int p = 0; p < kThreads; ++p) {
            // Every returned call's line, and at most the one being written.
            const std::size_t got = s.lines[p].size(), n = static_cast<std::size_t>(returned.at[p]);
            EXPECT_TRUE(got == n || got == n + 1)
                << p << ": " << got << " lines, " << n << " calls";
            EXPECT_EQ(s.lines[p], Upto(got)) << p;
        }
    }
}

// --------------------------------------- writes refused, then taken again

struct Starve {
    const char *id;                            // the test's name
    const char *name;                          // what it is
    bool (*prepare)(const std::string &where); // false: not possible here
    void (*starve)(const std::string &where);
    void (*relieve)(const std::string &where);
};

void FillUp(const std::string &where) {
    int fd = open((where + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    static const char block[4096] = {};
    while (write(fd, block, sizeof block) > 0) {
    }
    while (write(fd, block, 1) > 0) {
    }
    close(fd);
}

ssize_t FailingWrite(int, const void *, std::size_t) {
    errno = EIO;
    return -1;
}

const Starve kStarves[] = {
    {"SizeLimit", "ulimit -f 16 with SIGXFSZ ignored", [](const std::string &) { return true; },
     [](const std::string &) {
         std::signal(SIGXFSZ, SIG_IGN);
         rlimit r;
         getrlimit(RLIMIT_FSIZE, &r);
         r.rlim_cur = 16384;
         setrlimit(RLIMIT_FSIZE, &r);
     },
     [](const std::string &) {
         rlimit r;
         getrlimit(RLIMIT_FSIZE, &r);
         r.rlim_cur = r.rlim_max;
         setrlimit(RLIMIT_FSIZE, &r);
     }},
    {"FullTmpfs", "a full tmpfs that regains space",
     [](const std::string &where) { return MountTmpfs(where, "size=256k"); }, FillUp,
     [](const std::string &where) { unlink((where + "/filler").c_str()); }},
    {"IoError", "an I/O error", [](const std::string &) { return true; },
     [](const std::string &) { errm_Sys.write = FailingWrite; },
     [](const std::string &) { errm_SysRestore(); }},
};

class Starved : public ::testing::TestWithParam<Starve> {};

TEST_P(Starved, TheLineIsLostAndToldOnceAndLinesAreWrittenAgainWhenTheFileTakesThem) {
    const Starve &k = GetParam();
    TempDir dir;
    const std::string where = dir.file("mnt");
    if (!k.prepare(where)) GTEST_SKIP() << "no tmpfs here: " << std::strerror(errno);
    if (!FileExists(where)) mkdir(where.c_str(), 0700);
    constexpr int kMax = 4096;
    Shared shared(kMax);
    int *rc = shared.at;
    const int status = InChild(dir.file("out"), [&] {
        const int ss = Start(dir.path(), {kLog}, where + "/run", dir.file("run.tra"));
        int i = 0;
        for (; i < 5; ++i)
            rc[i] = ERRM_ProcessError(ss, 1, 0, i);
        k.starve(where);
        while (i < kMax - 30 && (rc[i] = ERRM_ProcessError(ss, 1, 0, i)) == 0)
            ++i;
        for (int lost = i + 20; ++i < lost;)
            rc[i] = ERRM_ProcessError(ss, 1, 0, i);
        k.relieve(where);
        for (int again = i + 5; i < again; ++i)
            rc[i] = ERRM_ProcessError(ss, 1, 0, i);
        rc[kMax - 1] = i;
        ERRM_FInit();
    });
    const int calls = rc[kMax - 1];
    ASSERT_EQ(status, 0) << k.name;
    std::vector<int> kept;
    int refused = 0;
    for (int i = 0; i < calls; ++i)
        if (rc[i] == 0)
            kept.push_back(i);
        else
            refused += rc[i] == 1058;
    Scan s = ScanText(ReadFile(where + "/run.log"));
    EXPECT_EQ(s.lines[0], kept) << k.name << ": exactly the lines of the calls that returned 0";
    EXPECT_EQ(s.other, 0) << k.name << ": no part of a lost line";
    EXPECT_GE(refused, 20) << k.name;
    EXPECT_EQ(std::vector<int>(rc + calls - 5, rc + calls), std::vector<int>(5, 0))
        << k.name << ": written again";
    const std::string out = ReadFile(dir.file("out"));
    EXPECT_EQ(Count(out, "FM error write, F=" + where + "/run.log E=1032\n"), 1) << k.name;
    umount(where.c_str());
}

INSTANTIATE_TEST_SUITE_P(Failures, Starved, ::testing::ValuesIn(kStarves),
                         [](const auto &p) { return std::string(p.param.id); });

// --------------------------------------------------------- FIFOs, devices

TEST(Fifo, NeverBlocksWithoutAReaderWithAStoppedReaderOrAGoneReader) {
    const struct {
        const char *name;
        int reader;    // 0 none, 1 reads all, 2 never reads, 3 closes after opening
        int firstRc;   // the first call
        bool openLine; // the open-failure line is printed
    } cases[] = {
        {"no reader", 0, 1058, true},
        {"a reader", 1, 0, false},
        {"a reader that stops", 2, 0, false},
        {"a reader gone", 3, 0, false},
    };
    for (const auto &k : cases) {
        TempDir dir;
        const std::string fifo = dir.file("run.log");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        int rfd = k.reader == 0 || k.reader == 3 ? -1 : open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        Shared rc(5000);
        // A reader that reads all reads while the client writes.
        std::string got;
        std::atomic<bool> ended{false};
        std::thread reader([&] {
            char buf[1 << 16];
            for (ssize_t n = 0; k.reader == 1 && (n != 0 || !ended);) {
                n = read(rfd, buf, sizeof buf);
                if (n > 0) got.append(buf, static_cast<std::size_t>(n));
                if (n < 0) usleep(100);
            }
        });
        const int status = InChild(dir.file("out"), [&] {
            const int ss = Start(dir.path(), {kLog}, dir.file("run"), dir.file("run.tra"));
            if (k.reader == 3) rfd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            for (int i = 0; i < 5000; ++i) {
                rc.at[i] = ERRM_ProcessError(ss, 1, 0, i);
                if (k.reader == 3 && i == 0) close(rfd);
            }
            ERRM_FInit();
        });
        ended = true;
        reader.join();
        EXPECT_EQ(status, 0) << k.name << ": no block, no SIGPIPE";
        EXPECT_EQ(rc.at[0], k.firstRc) << k.name;
        // A full pipe loses lines rather than wait: a reader that never
        // reads fills it, one that reads may fall behind now and then.
        EXPECT_EQ(rc.count(0) + rc.count(1058), 5000) << k.name;
        const std::string out = ReadFile(dir.file("out"));
        EXPECT_EQ(out.find("FM error open, F=" + fifo + " E=1030") != std::string::npos, k.openLine)
            << k.name;
        if (k.reader == 1 || k.reader == 2) {
            char buf[1 << 16];
            for (ssize_t n; (n = read(rfd, buf, sizeof buf)) > 0;)
                got.append(buf, static_cast<std::size_t>(n));
            Scan s = ScanText(got);
            EXPECT_EQ(s.other, 0) << k.name;
            EXPECT_EQ(static_cast<int>(s.lines[0].size()), rc.count(0)) << k.name;
            EXPECT_GT(rc.count(k.reader == 2 ? 1058 : 0), 0) << k.name;
        }
        if (k.reader == 3) {
            EXPECT_EQ(rc.count(1058), 4999) << k.name << ": all but the first";
        }
        if (rfd >= 0) close(rfd);
    }
}

TEST(Devices, DevNullAndDevStdoutThatIsAFile) {
    TempDir dir;
    const int status = InChild(dir.file("out"), [&] {
        const int ss = Start(dir.path(), {kStdout, kTranscript}, dir.file("run"), "/dev/null");
        ERRM_ProcessError(ss, 1, 9, 9);
        ERRM_Set_TranScriptFileName("/dev/stdout");
        ERRM_FInit();
        ERRM_Init();
        int again = -1;
        ERRM_ReadErrorDescriptor("SIM", &again);
        for (int i = 0; i < 2000; ++i)
            if (ERRM_ProcessError(again, 1, 0, i) != 0) _exit(2);
        ERRM_FInit();
    });
    EXPECT_EQ(status, 0);
    const std::string out = ReadFile(dir.file("out"));
    std::string expected = Line(9, 9);
    for (int i = 0; i < 2000; ++i)
        expected += Line(0, i) + Line(0, i);
    // The transcript's header comes with the first line written to it.
    const std::size_t header = out.find("START report: ");
    ASSERT_NE(header, std::string::npos);
    const std::size_t eol = out.find('\n', header);
    EXPECT_EQ(out.substr(0, header) + out.substr(eol + 1), expected) << "no line torn or lost";
}

// -------------------------------------------- one name twice, rank names

TEST(Names, TwoChannelsOneNameAndTheFilesOfRanks) {
    const struct {
        const char *name;
        const char *rank, *size; // OMPI_COMM_WORLD_RANK / _SIZE, null: unset
        const char *file;        // the log file written
        int headers, each;       // headers in it, lines per call
    } cases[] = {
        {"transcript named as the log", nullptr, nullptr, "run.log", 2, 2},
        {"rank 3 of 12", "3", "12", "run.03.log", 2, 2},
        {"rank 7 of 8", "7", "8", "run.7.log", 2, 2},
        {"a launch of one", "0", "1", "run.log", 2, 2},
    };
    for (const auto &k : cases) {
        TempDir dir;
        ScopedEnv rank("OMPI_COMM_WORLD_RANK",
                       k.rank ? std::optional<std::string>(k.rank) : std::nullopt);
        ScopedEnv size("OMPI_COMM_WORLD_SIZE",
                       k.size ? std::optional<std::string>(k.size) : std::nullopt);
        errm_RereadRank();
        const int ss = Start(dir.path(), {kLog, kTranscript}, dir.file("run"), dir.file("run.log"));
        StdoutCapture out;
        for (int i = 0; i < 100; ++i)
            ERRM_ProcessError(ss, 1, 0, i);
        EXPECT_EQ(ERRM_FInit(), 1);
        EXPECT_EQ(out.Text(), "") << k.name << ": no note";
        Scan s = ScanText(ReadFile(dir.file(k.file)));
        EXPECT_EQ(s.headers, k.headers) << k.name;
        std::vector<int> twice;
        for (int i = 0; i < 100; ++i)
            twice.insert(twice.end(), k.each, i);
        EXPECT_EQ(s.lines[0], twice) << k.name << ": in call order";
    }
    errm_RereadRank();
}

// ------------------------------------------------ cat of the file written

TEST(Cat, AMessageThatCopiesItsOwnLogReturnsWithWhatTheFileHeld) {
    TempDir dir;
    errmdesc::Message m = Msg(2, kNote, "self", {kLog});
    m.cat = "FILE=" + dir.file("run.log");
    const int status = InChild(dir.file("out"), [&] {
        const int ss = Start(dir.path(), {kLog}, dir.file("run"), dir.file("run.tra"), m);
        ERRM_ProcessError(ss, 1, 0, 0);
        ERRM_ProcessError(ss, 2);
        ERRM_FInit();
    });
    ASSERT_EQ(status, 0) << "the copy ends";
    const std::string text = AfterHeader(ReadFile(dir.file("run.log")));
    const std::string held =
        Line(0, 0) + "** Note: (SIM - 2) self\n-- cat " + dir.file("run.log") + " -- \n";
    EXPECT_EQ(text.substr(0, held.size()), held);
    EXPECT_EQ(text.substr(held.size()).rfind("START report: ", 0), 0u);
    EXPECT_EQ(AfterHeader(text.substr(held.size())), held + "-- EOF -- \n");
}

} // namespace
