// fm_test.cpp - the file manager: its table of 16 entries and their tags,
// every operation with its failure lines, recorded streams, flushing, and
// the file manager's own trace lines.
#include "base/errm_alloc.h"
#include "frame_support.h"
#include "reports/errm_fm.h"
#include "test_support.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <string>
#include <vector>

using errmtest::ReadFile;
using errmtest::StdoutCapture;
using errmtest::SysGuard;
using errmtest::TempDir;
using errmtest::WriteFile;

namespace {

// The stdio modes asked of fopen, recorded by RecordingFopen.
std::vector<std::string> g_modes;

std::FILE *RecordingFopen(const char *path, const char *mode) {
    g_modes.emplace_back(mode);
    return errm_SysDefault.fopen(path, mode);
}

std::string Pointer(const void *p) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

class Fm : public ::testing::Test {
  protected:
    // Opens a file of the temporary directory and expects success.
    int Open(const std::string &name, char mode, int binary = 0) {
        int handle = -1;
        EXPECT_EQ(errm_FM_Open(dir_.file(name).c_str(), mode, binary, &handle), 0) << name;
        return handle;
    }
    std::string Path(const std::string &name) const { return dir_.file(name); }

    TempDir dir_;
};

} // namespace

// --------------------------------------------------------- open and close

TEST_F(Fm, OpenWriteCloseAndReadBack) {
    const int before = errm_AllocationCount();
    const int w = Open("a.txt", 'w');
    ASSERT_EQ(w, 0) << "the lowest free entry";
    EXPECT_EQ(errm_FM_InUse(w), 1);
    EXPECT_EQ(errm_FM_Tag(w), 110000);
    EXPECT_EQ(std::string(errm_FM_Name(w)), Path("a.txt"));
    EXPECT_EQ(errm_AllocationCount(), before + 1) << "the name copy";
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Puts(w, "line one\n"), 0);
    EXPECT_EQ(errm_FM_Printf(w, "n=%d %s\n", 42, "two"), 0);
    EXPECT_EQ(errm_FM_Putc(w, 'c'), 0);
    EXPECT_EQ(errm_FM_Write(w, "\0xyz", 4), 0);
    EXPECT_EQ(errm_FM_Write(w, "", 0), 0);
    EXPECT_EQ(errm_FM_Close(w), 0);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_FM_InUse(w), 0);
    EXPECT_EQ(errm_FM_Tag(w), -1);
    EXPECT_EQ(errm_FM_Name(w), nullptr);
    EXPECT_EQ(errm_AllocationCount(), before);
    EXPECT_EQ(ReadFile(Path("a.txt")), std::string("line one\nn=42 two\nc\0xyz", 23));

    const int r = Open("a.txt", 'r');
    ASSERT_EQ(r, 0);
    char line[64];
    EXPECT_EQ(errm_FM_Gets(r, line, sizeof line), 0);
    EXPECT_STREQ(line, "line one\n");
    EXPECT_EQ(errm_FM_Gets(r, line, 4), 0);
    EXPECT_STREQ(line, "n=4");
    int c = 0;
    EXPECT_EQ(errm_FM_Getc(r, &c), 0);
    EXPECT_EQ(c, '2');
    int eof = -1;
    EXPECT_EQ(errm_FM_Eof(r, &eof), 0);
    EXPECT_EQ(eof, 0);
    char bytes[64];
    std::size_t got = 0;
    EXPECT_EQ(errm_FM_Read(r, bytes, 5, &got), 0);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(bytes, 5), " two\n");
    // A short read at the end of the file is no error.
    EXPECT_EQ(errm_FM_Read(r, bytes, sizeof bytes, &got), 0);
    EXPECT_EQ(std::string(bytes, got), std::string("c\0xyz", 5));
    EXPECT_EQ(errm_FM_Eof(r, &eof), 0);
    EXPECT_NE(eof, 0);
    EXPECT_EQ(errm_FM_Close(r), 0);
}

TEST_F(Fm, ModeLettersAndBinaryFlagSelectTheStdioMode) {
    SysGuard sys;
    errm_Sys.fopen = RecordingFopen;
    WriteFile(Path("m.txt"), "old\n");
    const struct {
        char letter;
        int binary;
        const char *mode;
    } cases[] = {{'r', 0, "r"}, {'r', 1, "rb"}, {'w', 0, "a"}, {'w', 1, "ab"},
                 {'a', 0, "a"}, {'a', 1, "ab"}, {'r', 2, "r"}, {'a', -1, "a"}};
    // Files for writing open for appending without emptying: 'w' empties the
    // file only once this process holds its lock.
    for (const auto &k : cases) {
        g_modes.clear();
        const int h = Open("m.txt", k.letter, k.binary);
        ASSERT_EQ(g_modes.size(), 1u);
        EXPECT_EQ(g_modes[0], k.mode) << k.letter << k.binary;
        EXPECT_EQ(errm_FM_Close(h), 0);
    }
    // 'w' empties the file; 'a' appends to it.
    const int w = Open("m.txt", 'w');
    EXPECT_EQ(errm_FM_Puts(w, "new\n"), 0);
    EXPECT_EQ(errm_FM_Close(w), 0);
    const int a = Open("m.txt", 'a');
    EXPECT_EQ(errm_FM_Puts(a, "more\n"), 0);
    EXPECT_EQ(errm_FM_Close(a), 0);
    EXPECT_EQ(ReadFile(Path("m.txt")), "new\nmore\n");
}

TEST_F(Fm, UnknownModeTakesNoEntry) {
    SysGuard sys;
    errm_Sys.fopen = RecordingFopen;
    g_modes.clear();
    int handle = 77;
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Open(Path("x.txt").c_str(), 'x', 0, &handle), 1030);
    EXPECT_EQ(errm_FM_Open(Path("x.txt").c_str(), 'R', 1, &handle), 1030);
    EXPECT_EQ(out.Text(), "FM error open, F=" + Path("x.txt") + " E=1030\n" +
                              "FM error open, F=" + Path("x.txt") + " E=1030\n");
    EXPECT_EQ(handle, 77);
    EXPECT_TRUE(g_modes.empty()) << "nothing was opened";
    EXPECT_FALSE(errmtest::FileExists(Path("x.txt")));
    EXPECT_EQ(Open("y.txt", 'w'), 0) << "entry 0 is still free";
}

TEST_F(Fm, FailedOpenPrintsItsLineAndTakesNoEntry) {
    const int before = errm_AllocationCount();
    int handle = 33;
    const std::string missing = Path("no/such/file.txt");
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Open(missing.c_str(), 'r', 0, &handle), 1030);
    EXPECT_EQ(errm_FM_Open(missing.c_str(), 'w', 1, &handle), 1030);
    EXPECT_EQ(out.Text(),
              "FM error open, F=" + missing + " E=1030\nFM error open, F=" + missing + " E=1030\n");
    EXPECT_EQ(handle, 33);
    EXPECT_EQ(errm_AllocationCount(), before);
    EXPECT_EQ(Open("z.txt", 'w'), 0);
}

TEST_F(Fm, SixteenEntriesThenTheTableIsFull) {
    std::vector<int> handles;
    for (int i = 0; i < 16; ++i) {
        handles.push_back(Open("f" + std::to_string(i), 'w'));
        EXPECT_EQ(handles.back(), i);
        EXPECT_EQ(errm_FM_Tag(i), 110000 + i);
    }
    int handle = -9;
    std::FILE *client = std::tmpfile();
    ASSERT_NE(client, nullptr);
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Open(Path("f16").c_str(), 'w', 0, &handle), 1028);
    EXPECT_EQ(errm_FM_RecordHandle("CLIENT", client, &handle), 1028);
    EXPECT_EQ(out.Text(), "FM error, no entry found F=" + Path("f16") +
                              " E=1028\nFM error, no entry found F=CLIENT E=1028\n");
    EXPECT_EQ(handle, -9);
    EXPECT_FALSE(errmtest::FileExists(Path("f16")));

    // A freed entry is the first candidate again and takes its own tag.
    EXPECT_EQ(errm_FM_Close(3), 0);
    EXPECT_EQ(Open("again", 'w'), 3);
    EXPECT_EQ(errm_FM_Tag(3), 110003);
    EXPECT_EQ(std::string(errm_FM_Name(3)), Path("again"));
    for (int h : handles)
        EXPECT_EQ(errm_FM_Close(h), 0);
    std::fclose(client);
}

TEST_F(Fm, ClosingTwiceAndOperationsOnFreeEntries) {
    const int h = Open("c.txt", 'w');
    EXPECT_EQ(errm_FM_Close(h), 0);
    const std::string notOpened = "FM error, file not opened FileName=not opened E=1029\n";
    char buf[8];
    std::size_t got = 99;
    int c = 5;
    int eof = 5;
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Close(h), 1029);
    EXPECT_EQ(errm_FM_Read(h, buf, sizeof buf, &got), 1029);
    EXPECT_EQ(errm_FM_Gets(h, buf, sizeof buf), 1029);
    EXPECT_EQ(errm_FM_Getc(h, &c), 1029);
    EXPECT_EQ(errm_FM_Eof(h, &eof), 1029);
    EXPECT_EQ(errm_FM_Puts(h, "x"), 1029);
    EXPECT_EQ(errm_FM_Printf(h, "%d", 1), 1029);
    EXPECT_EQ(errm_FM_Putc(h, 'x'), 1029);
    EXPECT_EQ(errm_FM_Write(h, "x", 1), 1029);
    EXPECT_EQ(errm_FM_Close(15), 1029);
    EXPECT_EQ(errm_FM_SetInfo(h, 'f', 1), 1029);
    std::string expected;
    for (int i = 0; i < 10; ++i)
        expected += notOpened;
    expected += "FM error, file not opened FileName=<FM>: no info E=1029\n";
    EXPECT_EQ(out.Text(), expected);
    EXPECT_EQ(got, 99u);
    EXPECT_EQ(c, 5);
    EXPECT_EQ(eof, 5);
    EXPECT_EQ(ReadFile(Path("c.txt")), "");
}

TEST(FmBeforeUse, StandardOutputWorksAndOtherHandlesAreNotOpen) {
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Puts(-1, "to stdout\n"), 0);
    EXPECT_EQ(errm_FM_Close(0), 1029);
    EXPECT_EQ(errm_FM_Puts(5, "x"), 1029);
    EXPECT_EQ(out.Text(), "to stdout\n"
                          "FM error, file not opened FileName=not opened E=1029\n"
                          "FM error, file not opened FileName=not opened E=1029\n");
}

TEST(FmBeforeUse, HandlesAboveFifteenGiveMinusOneWithoutALine) {
    char buf[8];
    std::size_t got = 0;
    int c = 0;
    StdoutCapture out;
    for (int h : {16, -2, INT_MAX, INT_MIN}) {
        EXPECT_EQ(errm_FM_Puts(h, "x"), -1) << h;
        EXPECT_EQ(errm_FM_Printf(h, "x"), -1) << h;
        EXPECT_EQ(errm_FM_Putc(h, 'x'), -1) << h;
        EXPECT_EQ(errm_FM_Write(h, "x", 1), -1) << h;
        EXPECT_EQ(errm_FM_Read(h, buf, 1, &got), -1) << h;
        EXPECT_EQ(errm_FM_Gets(h, buf, sizeof buf), -1) << h;
        EXPECT_EQ(errm_FM_Getc(h, &c), -1) << h;
        EXPECT_EQ(errm_FM_Eof(h, &c), -1) << h;
        EXPECT_EQ(errm_FM_Close(h), -1) << h;
        EXPECT_EQ(errm_FM_SetInfo(h, 'f', 1), -1) << h;
        EXPECT_EQ(errm_FM_FreeHandle("x", h), 0) << h;
    }
    // Handle -1 is standard output only for errm_FM_Puts.
    EXPECT_EQ(errm_FM_Printf(-1, "x"), -1);
    EXPECT_EQ(errm_FM_Putc(-1, 'x'), -1);
    EXPECT_EQ(errm_FM_Write(-1, "x", 1), -1);
    EXPECT_EQ(errm_FM_Close(-1), -1);
    EXPECT_EQ(errm_FM_FreeHandle("x", -1), 0);
    EXPECT_EQ(out.Text(), "");
}

// ----------------------------------------------------------- read and write

TEST_F(Fm, WritesOnAReadOnlyStreamFailWith1032) {
    WriteFile(Path("ro.txt"), "content");
    const int h = Open("ro.txt", 'r');
    const std::string line = "FM error write, F=" + Path("ro.txt") + " E=1032\n";
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Puts(h, "x"), 1032);
    EXPECT_EQ(errm_FM_Printf(h, "%s", "x"), 1032);
    EXPECT_EQ(errm_FM_Putc(h, 'x'), 1032);
    EXPECT_EQ(errm_FM_Write(h, "xy", 2), 1032);
    EXPECT_EQ(out.Text(), line) << "told once per file, every call fails";
    EXPECT_EQ(errm_FM_InUse(h), 1) << "a failed write leaves the entry open";
    EXPECT_EQ(errm_FM_Close(h), 0);
    EXPECT_EQ(ReadFile(Path("ro.txt")), "content");
}

TEST_F(Fm, ReadsOnAWriteOnlyStream) {
    // A client's write-only stream shows the read failure.
    std::FILE *client = std::fopen(Path("wo.txt").c_str(), "w");
    ASSERT_NE(client, nullptr);
    int h = -1;
    ASSERT_EQ(errm_FM_RecordHandle(Path("wo.txt").c_str(), client, &h), 0);
    char buf[8] = "keep";
    std::size_t got = 99;
    int c = 7;
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Read(h, buf, 4, &got), 1031);
    // Gets and Getc report the failure as the end of the file, silently.
    EXPECT_EQ(errm_FM_Gets(h, buf, sizeof buf), 1);
    EXPECT_EQ(errm_FM_Getc(h, &c), 1);
    EXPECT_EQ(out.Text(), "FM error read, F=" + Path("wo.txt") + " E=1031\n");
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(c, -1);
    EXPECT_EQ(errm_FM_Close(h), 0);
}

// write(2) stand-ins: each call takes the next step of a script; the last
// step repeats.
namespace {
struct WriteStep {
    int error; // errno to fail with, or 0
    int take;  // bytes taken when not failing; -1 for all
};
const WriteStep *g_script = nullptr;
std::size_t g_steps = 0;
ssize_t ScriptedWrite(int fd, const void *buf, std::size_t n) {
    const WriteStep step = *g_script;
    if (g_steps > 1) {
        ++g_script;
        --g_steps;
    }
    if (step.error != 0) {
        errno = step.error;
        return -1;
    }
    const std::size_t k = step.take < 0 ? n : std::min(n, static_cast<std::size_t>(step.take));
    return errm_SysDefault.write(fd, buf, k);
}
} // namespace

TEST_F(Fm, AWriteFailureLosesTheWholeLineAndLaterLinesAreWrittenAgain) {
    const WriteStep noSpace[] = {{ENOSPC, 0}};
    const WriteStep shortThenFull[] = {{0, 3}, {ENOSPC, 0}};
    const WriteStep interrupted[] = {{EINTR, 0}, {0, 2}, {EINTR, 0}, {0, -1}};
    const WriteStep tooBig[] = {{0, 1}, {EFBIG, 0}};
    const struct {
        const char *what;
        const WriteStep *script;
        std::size_t steps;
        int rc;      // result of each of the two scripted writes
        int closeRc; // the close tells a file that lost a line
        const char *text;
    } cases[] = {
        {"no space", noSpace, 1, 1032, 1027, "kept\n"},
        {"short write, then no space: the part is cut off", shortThenFull, 2, 1032, 1027, "kept\n"},
        {"size limit after one byte", tooBig, 2, 1032, 1027, "kept\n"},
        {"interrupted and short writes go on", interrupted, 4, 0, 0, "lost\nlost too\nkept\n"},
    };
    for (const auto &k : cases) {
        SysGuard sys;
        const int h = Open("full.txt", 'w');
        g_script = k.script;
        g_steps = k.steps;
        errm_Sys.write = ScriptedWrite;
        const std::string file = Path("full.txt");
        StdoutCapture out;
        EXPECT_EQ(errm_FM_Puts(h, "lost\n"), k.rc) << k.what;
        EXPECT_EQ(errm_FM_Printf(h, "%s\n", "lost too"), k.rc) << k.what;
        errm_SysRestore();
        EXPECT_EQ(errm_FM_Puts(h, "kept\n"), 0) << k.what << ": space came back";
        EXPECT_EQ(errm_FM_Close(h), k.closeRc) << k.what;
        EXPECT_EQ(errm_FM_InUse(h), 0);
        const std::string told = k.rc == 0 ? ""
                                           : "FM error write, F=" + file +
                                                 " E=1032\nFM error close, F=" + file + " E=1027\n";
        EXPECT_EQ(out.Text(), told) << k.what << ": the failure is told once";
        EXPECT_EQ(ReadFile(file), k.text) << k.what;
    }
}

TEST_F(Fm, OneFileOnTwoEntriesIsOneFileLockedUntilBothAreClosed) {
    // 0 when another process could take the file's lock now.
    const auto lockable = [this] {
        return errmtest::RunInChild([this] {
            int fd = open(Path("both.log").c_str(), O_RDONLY);
            return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
        });
    };
    WriteFile(Path("both.log"), "old\n");
    const int a = Open("both.log", 'w');
    EXPECT_EQ(errm_FM_Puts(a, "1\n"), 0);
    const int b = Open("both.log", 'w');
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Puts(b, "2\n"), 0);
    EXPECT_EQ(errm_FM_Puts(a, "3\n"), 0);
    EXPECT_EQ(errm_FM_Close(a), 0);
    EXPECT_EQ(lockable(), 1) << "the second entry took the lock over";
    EXPECT_EQ(errm_FM_Puts(b, "4\n"), 0);
    EXPECT_EQ(errm_FM_Close(b), 0);
    EXPECT_EQ(lockable(), 0);
    EXPECT_EQ(out.Text(), "") << "no note";
    EXPECT_EQ(ReadFile(Path("both.log")), "1\n2\n3\n4\n") << "emptied once, lines in call order";
}

TEST_F(Fm, EndOfFileIsAResultNotAFailure) {
    WriteFile(Path("e.txt"), "");
    WriteFile(Path("ab.txt"), "ab");
    const int e = Open("e.txt", 'r');
    const int ab = Open("ab.txt", 'r', 1);
    int c = 0;
    char buf[8] = "keep";
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Getc(e, &c), 1);
    EXPECT_EQ(c, -1);
    EXPECT_EQ(errm_FM_Gets(e, buf, sizeof buf), 1);
    EXPECT_EQ(errm_FM_Getc(ab, &c), 0);
    EXPECT_EQ(c, 'a');
    EXPECT_EQ(errm_FM_Getc(ab, &c), 0);
    EXPECT_EQ(c, 'b');
    int eof = 1;
    EXPECT_EQ(errm_FM_Eof(ab, &eof), 0);
    EXPECT_EQ(eof, 0) << "the end is seen only by a read that hits it";
    EXPECT_EQ(errm_FM_Getc(ab, &c), 1);
    EXPECT_EQ(c, -1);
    EXPECT_EQ(errm_FM_Eof(ab, &eof), 0);
    EXPECT_NE(eof, 0);
    EXPECT_EQ(errm_FM_Getc(ab, &c), 1);
    EXPECT_EQ(c, -1);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_FM_Close(e), 0);
    EXPECT_EQ(errm_FM_Close(ab), 0);
}

TEST_F(Fm, FailedCloseStillReleasesTheEntry) {
    // Close failures of every kind, many cycles: no entry is ever kept.
    const struct {
        const char *what;
        char mode;
        void (*inject)();
    } cases[] = {
        {"fclose of a written file", 'w', [] { errm_Sys.fclose = errmtest::FailingFclose; }},
        {"fclose of a read file", 'r', [] { errm_Sys.fclose = errmtest::FailingFclose; }},
    };
    WriteFile(Path("k.txt"), "");
    const int before = errm_AllocationCount();
    for (const auto &k : cases) {
        for (int cycle = 0; cycle < ERRM_FM_ENTRIES + 1; ++cycle) {
            SysGuard sys;
            const int h = Open("k.txt", k.mode);
            ASSERT_EQ(h, 0) << k.what << cycle;
            if (k.mode == 'w') {
                EXPECT_EQ(errm_FM_Puts(h, "kept"), 0);
            }
            std::FILE *stream = errm_FM_Stream(h);
            k.inject();
            StdoutCapture out;
            EXPECT_EQ(errm_FM_Close(h), 1027) << k.what;
            EXPECT_EQ(out.Text(), "FM error close, F=" + Path("k.txt") + " E=1027\n") << k.what;
            EXPECT_EQ(errm_FM_InUse(h), 0) << k.what;
            EXPECT_EQ(errm_FM_Tag(h), -1) << k.what;
            EXPECT_EQ(errm_AllocationCount(), before) << k.what << ": the name is freed";
            // Whoever still writes on the handle is refused, without a
            // second line: the failure was told.
            EXPECT_EQ(errm_FM_Puts(h, "late"), 1029) << k.what;
            EXPECT_EQ(out.Text(), "FM error close, F=" + Path("k.txt") + " E=1027\n") << k.what;
            // The failing stand-in closed nothing: the test does.
            if (errm_Sys.fclose != errm_SysDefault.fclose) std::fclose(stream);
        }
    }
    EXPECT_EQ(ReadFile(Path("k.txt")), "kept");
}

// ---------------------------------------------------------------- flushing

TEST_F(Fm, FlushAlwaysMakesEveryWriteVisibleAtOnce) {
    const int h = Open("fl.txt", 'w');
    EXPECT_EQ(errm_FM_SetInfo(h, 'z', 1), 0) << "other keys are ignored";
    EXPECT_EQ(errm_FM_Puts(h, "a"), 0);
    EXPECT_EQ(ReadFile(Path("fl.txt")), "a") << "in the file at once, flag or not";
    EXPECT_EQ(errm_FM_SetInfo(h, 'f', 1), 0);
    EXPECT_EQ(errm_FM_Puts(h, "b"), 0);
    EXPECT_EQ(ReadFile(Path("fl.txt")), "ab");
    EXPECT_EQ(errm_FM_Printf(h, "%d", 3), 0);
    EXPECT_EQ(ReadFile(Path("fl.txt")), "ab3");
    EXPECT_EQ(errm_FM_Putc(h, 'c'), 0);
    EXPECT_EQ(ReadFile(Path("fl.txt")), "ab3c");
    EXPECT_EQ(errm_FM_Write(h, "de", 2), 0);
    EXPECT_EQ(ReadFile(Path("fl.txt")), "ab3cde");
    EXPECT_EQ(errm_FM_SetInfo(h, 'f', 0), 0);
    EXPECT_EQ(errm_FM_Puts(h, "f"), 0);
    EXPECT_EQ(ReadFile(Path("fl.txt")), "ab3cdef") << "the file stays exact";
    EXPECT_EQ(errm_FM_SetInfo(h, 'f', 1), 0);
    // Closing clears the setting.
    EXPECT_EQ(errm_FM_Close(h), 0);
    const int again = Open("fl2.txt", 'w');
    ASSERT_EQ(again, h);
    EXPECT_EQ(errm_FM_Puts(again, "g"), 0);
    EXPECT_EQ(ReadFile(Path("fl2.txt")), "g");
    EXPECT_EQ(errm_FM_Close(again), 0);
    EXPECT_EQ(ReadFile(Path("fl2.txt")), "g");
}

TEST_F(Fm, FlushAlwaysOutlivesFreeHandle) {
    std::FILE *client = std::fopen(Path("client.txt").c_str(), "w");
    ASSERT_NE(client, nullptr);
    int h = -1;
    ASSERT_EQ(errm_FM_RecordHandle("CLIENT", client, &h), 0);
    EXPECT_EQ(errm_FM_SetInfo(h, 'f', 1), 0);
    EXPECT_EQ(errm_FM_FreeHandle("CLIENT", h), 1);
    // Neither opening nor recording sets the flag: the next user inherits it.
    const int next = Open("inherit.txt", 'w');
    ASSERT_EQ(next, h);
    EXPECT_EQ(errm_FM_Puts(next, "now"), 0);
    EXPECT_EQ(ReadFile(Path("inherit.txt")), "now");
    EXPECT_EQ(errm_FM_Close(next), 0);
    std::fclose(client);
}

// ------------------------------------------------------- recorded streams

TEST_F(Fm, RecordedStreamIsWrittenAndStaysTheClientsAfterFreeHandle) {
    const int before = errm_AllocationCount();
    std::FILE *client = std::fopen(Path("rec.txt").c_str(), "w");
    ASSERT_NE(client, nullptr);
    int h = -1;
    ASSERT_EQ(errm_FM_RecordHandle("REPORT_CHI", client, &h), 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(errm_FM_Stream(h), client);
    EXPECT_EQ(std::string(errm_FM_Name(h)), "REPORT_CHI");
    EXPECT_EQ(errm_FM_Tag(h), 110000);
    EXPECT_EQ(errm_AllocationCount(), before + 1);
    EXPECT_EQ(errm_FM_Puts(h, "from library\n"), 0);

    EXPECT_EQ(errm_FM_FreeHandle("ignored", h), 1);
    EXPECT_EQ(errm_FM_InUse(h), 0);
    EXPECT_EQ(errm_FM_Stream(h), nullptr);
    EXPECT_EQ(errm_FM_Name(h), nullptr);
    EXPECT_EQ(errm_FM_Tag(h), 110000) << "the tag stays until the entry is taken again";
    EXPECT_EQ(errm_AllocationCount(), before);
    // The stream was not closed: the client goes on with it.
    EXPECT_GE(std::fputs("from client\n", client), 0);
    EXPECT_EQ(std::fclose(client), 0);
    EXPECT_EQ(ReadFile(Path("rec.txt")), "from library\nfrom client\n");

    StdoutCapture out;
    EXPECT_EQ(errm_FM_Puts(h, "x"), 1029);
    EXPECT_EQ(errm_FM_FreeHandle("again", h), 1) << "any entry 0..15 can be released";
    EXPECT_EQ(out.Text(), "FM error, file not opened FileName=not opened E=1029\n");
    EXPECT_EQ(errm_AllocationCount(), before);
}

TEST_F(Fm, FinalizeReleasesOnlyTheNamesOfRecordedEntries) {
    const int before = errm_AllocationCount();
    std::FILE *one = std::tmpfile();
    std::FILE *two = std::tmpfile();
    int h1 = -1;
    int h2 = -1;
    const int own = Open("own.txt", 'w');
    ASSERT_EQ(errm_FM_RecordHandle("ONE", one, &h1), 0);
    ASSERT_EQ(errm_FM_RecordHandle("TWO", two, &h2), 0);
    EXPECT_EQ(errm_AllocationCount(), before + 3);
    StdoutCapture out;
    errm_FM_Finalize();
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_AllocationCount(), before + 1);
    EXPECT_EQ(errm_FM_Name(h1), nullptr);
    EXPECT_EQ(errm_FM_Name(h2), nullptr);
    EXPECT_EQ(errm_FM_InUse(h1), 1) << "nothing is closed";
    EXPECT_EQ(errm_FM_Stream(h2), two);
    EXPECT_EQ(std::string(errm_FM_Name(own)), Path("own.txt"));
    errm_FM_Finalize();
    EXPECT_EQ(errm_AllocationCount(), before + 1) << "nothing is released twice";
    EXPECT_EQ(errm_FM_Close(own), 0);
    std::fclose(one);
    std::fclose(two);
}

TEST_F(Fm, NoMemoryForTheNameLeavesTheEntryInUseWithoutALine) {
    const int before = errm_AllocationCount();
    int handle = -1;
    errm_TestFailAllocation(1);
    StdoutCapture out;
    EXPECT_EQ(errm_FM_Open(Path("nm.txt").c_str(), 'w', 0, &handle), 1068);
    errm_TestFailAllocation(0);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(handle, 0) << "the handle is delivered";
    EXPECT_EQ(errm_FM_InUse(handle), 1);
    EXPECT_EQ(errm_FM_Name(handle), nullptr);
    EXPECT_EQ(errm_FM_Tag(handle), -1);
    EXPECT_TRUE(errmtest::FileExists(Path("nm.txt")));
    EXPECT_EQ(errm_FM_Puts(handle, "usable"), 0);
    EXPECT_EQ(errm_FM_Close(handle), 0);
    EXPECT_EQ(errm_FM_InUse(handle), 0);
    EXPECT_EQ(ReadFile(Path("nm.txt")), "usable");
    EXPECT_EQ(errm_AllocationCount(), before);

    std::FILE *client = std::tmpfile();
    int rec = -1;
    errm_TestFailAllocation(1);
    EXPECT_EQ(errm_FM_RecordHandle("CLIENT", client, &rec), 1068);
    errm_TestFailAllocation(0);
    EXPECT_EQ(rec, 0);
    EXPECT_EQ(errm_FM_InUse(rec), 1);
    EXPECT_EQ(errm_FM_Name(rec), nullptr);
    EXPECT_EQ(errm_FM_FreeHandle("CLIENT", rec), 1);
    EXPECT_EQ(errm_AllocationCount(), before);
    std::fclose(client);
}

// ------------------------------------------------------------- trace lines

TEST_F(Fm, TraceSwitchPrintsALineForEveryTableChange) {
    errm_FM_SetTraceSwitch(1);
    std::FILE *client = std::tmpfile();
    ASSERT_NE(client, nullptr);
    StdoutCapture out;
    const int h = Open("t.txt", 'w');
    const std::string openCopy = Pointer(errm_FM_Name(h));
    int rec = -1;
    ASSERT_EQ(errm_FM_RecordHandle("CLIENT", client, &rec), 0);
    const std::string clientCopy = Pointer(errm_FM_Name(rec));
    int kept = -1;
    ASSERT_EQ(errm_FM_RecordHandle("KEPT", client, &kept), 0);
    const std::string keptCopy = Pointer(errm_FM_Name(kept));
    EXPECT_EQ(errm_FM_FreeHandle("CLIENT", rec), 1);
    EXPECT_EQ(errm_FM_Close(h), 0);
    errm_FM_Finalize();
    EXPECT_EQ(errm_FM_FreeHandle("KEPT", kept), 1);
    EXPECT_EQ(errm_FM_FreeHandle("none", 9), 1);
    const std::string text = out.Text();
    EXPECT_EQ(text, "<FM> Open H=0, p=" + openCopy + " name=" + Path("t.txt") + ", Tag=110000\n" +
                        "<FM> Recordhandle handle=1 p=" + clientCopy + ", FN=CLIENT TAG=110001\n" +
                        "<FM> Recordhandle handle=2 p=" + keptCopy + ", FN=KEPT TAG=110002\n" +
                        "<FM> free HANDLE H=1, p=CLIENT, Tag=110001\n" + "<FM> CLOSE H=0, name=" +
                        Path("t.txt") + ", Tag=110000\n" + "<FM>: finalize i=2 tag=110002\n" +
                        "<FM> free HANDLE H=2, p=(null), Tag=110002\n" +
                        "<FM> free HANDLE H=9, p=(null), Tag=-1\n");
    std::fclose(client);
}

TEST_F(Fm, TraceSwitchSetAfterTheFirstUseHasNoEffect) {
    const int first = Open("first.txt", 'w');
    errm_FM_SetTraceSwitch(1);
    StdoutCapture out;
    const int second = Open("second.txt", 'w');
    EXPECT_EQ(errm_FM_Close(second), 0);
    EXPECT_EQ(errm_FM_Close(first), 0);
    EXPECT_EQ(out.Text(), "");
}
