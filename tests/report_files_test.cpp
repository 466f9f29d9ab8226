// report_files_test.cpp - report files at hard ends: a process killed in
// each way after N messages, a full disk, a read-only root, four processes
// on one root, fork. Children run the library; the parent reads the files.
#include "test_descriptors.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace errmtest;

namespace {

const char *const kExts[] = {".log", ".rep", ".dbi", ".dbg", ".tra"};

// The catalogue: message 1 "p=%d i=%d" on the given channels.
void WriteSim(const std::string &dir, std::vector<std::uint8_t> reports) {
    WriteDescriptor(Cat("SIM", {Msg(1, kError, "p=%d i=%d", std::move(reports))}), dir);
}

// Starts the library on dir (descriptor and report root); the subsystem.
int Start(const std::string &dir, const std::string &transcript = "") {
    setenv("ORV_VCO", "ixl", 1);
    unsetenv("KOVA_ERRM_LDBG");
    ERRM_Set_Root_ForMemoryDescriptor((dir + "/").c_str());
    ERRM_Set_RootReportFiles((dir + "/run").c_str());
    ERRM_Set_GlobalNbrMaxOfMessages(0); // every line on the transcript too
    ERRM_Set_TranScriptFileName((transcript.empty() ? dir + "/run.tra" : transcript).c_str());
    int ss = -1;
    if (ERRM_Init() != 1 || ERRM_ReadErrorDescriptor("SIM", &ss) != 0) return -1;
    return ss;
}

// Runs body in a child whose standard output goes to the file out; returns
// the child's pid once it has ended, with its wait status.
template <class Body> pid_t InChild(const std::string &out, Body body, int *status = nullptr) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        body();
        std::exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    if (status != nullptr) *status = st;
    return pid;
}

// What a report file holds: the i values of each p, in file order.
struct Scan {
    std::map<int, std::vector<int>> lines; // p -> i in order
    int headers = 0;                       // "START report: " lines
    int blank = 0;                         // lines of blanks only
    int torn = 0;                          // anything else
    bool nul = false;                      // a NUL byte anywhere
};

Scan ScanFile(const std::string &path) {
    Scan s;
    const std::string text = ReadFile(path);
    s.nul = text.find('\0') != std::string::npos;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t eol = text.find('\n', at);
        std::string line = text.substr(at, eol == std::string::npos ? eol : eol - at);
        at = eol == std::string::npos ? text.size() : eol + 1;
        int p = 0, i = 0, end = 0;
        if (line.rfind("START report: ", 0) == 0)
            ++s.headers;
        else if (line.find_first_not_of(' ') == std::string::npos)
            ++s.blank;
        else if (std::sscanf(line.c_str(), "** Error: (SIM - 1) p=%d i=%d%n", &p, &i, &end) == 2 &&
                 static_cast<std::size_t>(end) == line.size())
            s.lines[p].push_back(i);
        else
            ++s.torn;
    }
    return s;
}

std::vector<int> Upto(int n) {
    std::vector<int> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = i;
    return v;
}

// ------------------------------------------------------------- kill matrix

struct Death {
    const char *name;
    void (*die)();
};

void RaiseDefault(int sig) {
    std::signal(sig, SIG_DFL); // the sanitizers' handlers are not ours
    raise(sig);
}

const Death kDeaths[] = {
    {"abort", [] { RaiseDefault(SIGABRT); }},   {"SIGSEGV", [] { RaiseDefault(SIGSEGV); }},
    {"SIGTERM", [] { RaiseDefault(SIGTERM); }}, {"SIGPIPE", [] { RaiseDefault(SIGPIPE); }},
    {"SIGKILL", [] { raise(SIGKILL); }},        {"Exit", [] { _exit(3); }},
};

class KillMatrix : public ::testing::TestWithParam<Death> {};

TEST_P(KillMatrix, EveryLineWrittenBeforeDeathIsInEveryFileAsPlainText) {
    for (int n : {1, 10, 1000, 100000}) {
        TempDir dir;
        WriteSim(dir.path(), {kLog, kReport, kDbgI, kDbgC, kTranscript});
        int status = 0;
        InChild(
            dir.file("out"),
            [&] {
                int ss = Start(dir.path());
                for (int i = 0; i < n; ++i)
                    ERRM_ProcessError(ss, 1, 0, i);
                GetParam().die();
            },
            &status);
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child died";
        for (const char *ext : kExts) {
            Scan s = ScanFile(dir.file(std::string("run") + ext));
            const std::string where = std::string(ext) + " N=" + std::to_string(n);
            EXPECT_FALSE(s.nul) << where;
            EXPECT_EQ(s.headers, 1) << where;
            EXPECT_EQ(s.torn, 0) << where;
            EXPECT_LE(s.blank, 1) << where << ": one line of reserve at most";
            EXPECT_EQ(s.lines[0], Upto(n)) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Deaths, KillMatrix, ::testing::ValuesIn(kDeaths),
                         [](const auto &p) { return std::string(p.param.name); });

// ------------------------------------------------ full disk, read-only root

// A small tmpfs mounted at dir, or false where mounting is not allowed.
bool MountTmpfs(const std::string &dir, const char *options, unsigned long flags) {
    return mkdir(dir.c_str(), 0700) == 0 &&
           mount("tmpfs", dir.c_str(), "tmpfs", flags, options) == 0;
}

TEST(FullDisk, LinesAreKeptUntilTheDiskIsFullAndTheLossIsTold) {
    // (Failing reservations are injected in fm_test.)
    const struct {
        const char *name;
        bool tmpfs; // the transcript on a 192 KiB tmpfs, else /dev/full
    } cases[] = {{"/dev/full", false}, {"tmpfs", true}};
    for (const auto &k : cases) {
        TempDir dir;
        const std::string mnt = dir.file("mnt");
        if (k.tmpfs && !MountTmpfs(mnt, "size=192k", 0)) {
            std::printf("%s: no tmpfs here (%s), row skipped\n", k.name, std::strerror(errno));
            continue;
        }
        const std::string tra = k.tmpfs ? mnt + "/run.tra" : "/dev/full";
        WriteSim(dir.path(), {kStdout, kTranscript, kLog});
        const int ss = Start(dir.path(), tra);
        int kept = 0, rc = 0;
        std::string out;
        {
            StdoutCapture capture;
            while (kept < 20000 && (rc = ERRM_ProcessError(ss, 1, 0, kept)) == 0)
                ++kept;
            ERRM_ProcessError(ss, 1, 0, kept + 1); // a second loss is not told again
            ERRM_FInit();
            out = capture.Text();
        }
        EXPECT_EQ(rc, 1058) << k.name;
        const std::string told = "FM error write, F=" + tra + " E=1032\n";
        EXPECT_NE(out.find(told), std::string::npos) << k.name;
        EXPECT_EQ(out.find(told), out.rfind(told)) << k.name << ": told once";
        EXPECT_NE(out.find("FM error close, F=" + tra + " E=1027\n"), std::string::npos) << k.name;
        EXPECT_NE(out.find("p=0 i=" + std::to_string(kept + 1) + "\n"), std::string::npos)
            << k.name << ": standard output still gets every line";
        EXPECT_EQ(ScanFile(dir.file("run.log")).lines[0].size(), static_cast<std::size_t>(kept + 2))
            << k.name << ": the log is not silenced";
        if (k.tmpfs) {
            Scan s = ScanFile(tra);
            EXPECT_EQ(s.lines[0], Upto(kept)) << k.name;
            EXPECT_EQ(s.torn + s.blank, 0) << k.name;
            umount(mnt.c_str());
        }
    }
}

TEST(ReadOnlyRoot, FilesThatCannotBeOpenedDoNotSilenceTheOthers) {
    TempDir dir;
    const std::string ro = dir.file("ro");
    // A read-only tmpfs, or /sys where even root cannot create a file.
    const std::string root = MountTmpfs(ro, "size=16k", MS_RDONLY) ? ro : "/sys";
    WriteSim(dir.path(), {kLog, kReport, kTranscript, kStdout});
    const int ss = Start(dir.path());
    ERRM_Set_RootReportFiles((root + "/run").c_str());
    StdoutCapture capture;
    EXPECT_EQ(ERRM_ProcessError(ss, 1, 0, 7), 1058);
    EXPECT_EQ(ERRM_FInit(), 1);
    const std::string out = capture.Text();
    EXPECT_NE(out.find("FM error open, F=" + root + "/run.log E=1030\n"), std::string::npos);
    EXPECT_NE(out.find("FM error open, F=" + root + "/run.rep E=1030\n"), std::string::npos);
    EXPECT_NE(out.find("** Error: (SIM - 1) p=0 i=7\n"), std::string::npos);
    EXPECT_EQ(AfterHeader(ReadFile(dir.file("run.tra"))), "** Error: (SIM - 1) p=0 i=7\n");
    if (root == ro) umount(ro.c_str());
}

// ------------------------------------------------------ shared root, fork

TEST(SharedRoot, FourProcessesEachKeepEveryLineInAFileOfTheirOwn) {
    constexpr int kProcs = 4, kLines = 3000;
    TempDir dir;
    WriteSim(dir.path(), {kLog});
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> pids;
    for (int p = 0; p < kProcs; ++p) {
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(dir.file("out" + std::to_string(p)).c_str(), O_WRONLY | O_CREAT, 0600);
            dup2(fd, 1);
            close(go[1]); // the parent's close alone ends the wait
            int ss = Start(dir.path());
            for (int i = 0; i < kLines; ++i)
                ERRM_ProcessError(ss, 1, p, i);
            // Every process holds its file until all have written.
            char c = 'r';
            (void)!write(ready[1], &c, 1);
            (void)!read(go[0], &c, 1);
            std::exit(ERRM_FInit() == 1 ? 0 : 1);
        }
        pids.push_back(pid);
    }
    for (int p = 0; p < kProcs; ++p) {
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
    }
    close(go[1]);
    std::map<int, std::vector<int>> all;
    int redirected = 0;
    std::vector<std::string> files = {dir.file("run.log")};
    for (int p = 0; p < kProcs; ++p) {
        int status = 0;
        waitpid(pids[static_cast<std::size_t>(p)], &status, 0);
        EXPECT_EQ(status, 0);
        const std::string own =
            dir.file("run." + std::to_string(pids[static_cast<std::size_t>(p)]) + ".log");
        const std::string out = ReadFile(dir.file("out" + std::to_string(p)));
        if (FileExists(own)) {
            ++redirected;
            files.push_back(own);
            EXPECT_EQ(out, "FM note, F=" + dir.file("run.log") +
                               " is held by another process; this process writes " + own + "\n");
        }
    }
    for (const std::string &f : files) {
        const Scan s = ScanFile(f);
        EXPECT_EQ(s.torn + s.blank, 0) << f;
        EXPECT_FALSE(s.nul) << f;
        for (const auto &[q, lines] : s.lines)
            all[q].insert(all[q].end(), lines.begin(), lines.end());
    }
    EXPECT_EQ(redirected, kProcs - 1);
    for (int p = 0; p < kProcs; ++p)
        EXPECT_EQ(all[p], Upto(kLines)) << "process " << p;
    // The file of a dead process is simply reused.
    const int ss = Start(dir.path());
    StdoutCapture capture;
    ERRM_ProcessError(ss, 1, 9, 0);
    ERRM_FInit();
    EXPECT_EQ(capture.Text(), "");
    EXPECT_EQ(AfterHeader(ReadFile(dir.file("run.log"))), "** Error: (SIM - 1) p=9 i=0\n");
}

TEST(Fork, NoLineIsDoubledAndTheChildWritesItsOwnFile) {
    TempDir dir;
    WriteSim(dir.path(), {kLog});
    const int ss = Start(dir.path());
    for (int i = 0; i < 10; ++i)
        ERRM_ProcessError(ss, 1, 0, i);
    // One child writes, one writes nothing; both end normally.
    const pid_t writer = InChild(dir.file("out1"), [&] {
        for (int i = 0; i < 5; ++i)
            ERRM_ProcessError(ss, 1, 1, i);
    });
    InChild(dir.file("out2"), [] {});
    for (int i = 10; i < 20; ++i)
        ERRM_ProcessError(ss, 1, 0, i);
    ERRM_FInit();
    Scan parent = ScanFile(dir.file("run.log"));
    EXPECT_EQ(parent.lines[0], Upto(20));
    EXPECT_EQ(parent.lines.size() + parent.torn + parent.blank, 1u);
    const std::string own = dir.file("run." + std::to_string(writer) + ".log");
    EXPECT_EQ(ScanFile(own).lines[1], Upto(5));
    EXPECT_EQ(ReadFile(dir.file("out1")),
              "FM note, F=" + dir.file("run.log") +
                  " belongs to the parent process; this process writes " + own + "\n");
    EXPECT_EQ(ReadFile(dir.file("out2")), "");
}

} // namespace
