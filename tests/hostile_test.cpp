// hostile_test.cpp - what a hostile or unlucky host does to the library, as
// one table of cases, each run in its own process under ctest.
#include "api_support.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"
#include "reports/errm_paths.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace errmtest;

namespace {

struct ScopedCwd {
    explicit ScopedCwd(const std::string &dir) { std::filesystem::current_path(dir); }
    ~ScopedCwd() { std::filesystem::current_path(old); }
    std::filesystem::path old = std::filesystem::current_path();
};

int Load(const std::string &name) {
    int index = -1;
    return ERRM_ReadErrorDescriptor(name.c_str(), &index);
}
// A load and ERRM_DisplayInfos give the same result.
void ExpectBoth(const std::string &name, int rc) {
    char stamp[16], version[8];
    EXPECT_EQ(Load(name), rc) << name;
    EXPECT_EQ(ERRM_DisplayInfos(name.c_str(), stamp, version), rc) << name;
}
errmdesc::Catalogue Sim() {
    return Cat("SIM", {Msg(1, kError, "one %d"), Msg(2, kWarning, "two %s"), Msg(3, kNote, "x")});
}

// A descriptor truncated while loaded, or opened (emptied) as the transcript:
// messages still come from the library's copy; the file is not held.
void DescriptorChangedOnDisk() {
    Library lib;
    ASSERT_EQ(lib.Load(Sim()), 0);
    const std::string path = lib.file("errm_desc_SIM.bin");
    EXPECT_EQ(FdsOpenOn(path) + MappingsOf(path), 0);
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    StdoutCapture out;
    EXPECT_EQ(ERRM_ProcessError(0, 2, "b"), 0);
    ASSERT_EQ(ERRM_Set_TranScriptFileName(path.c_str()), 1);
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "t", {kTranscript}), Msg(3, kNote, "n")})), 1);
    EXPECT_EQ(ERRM_ProcessError(1, 1) + ERRM_ProcessError(1, 3), 0);
    EXPECT_EQ(out.Text(), "** Warning: (SIM - 2) two b\n** Note: (SIM - 3) n\n");
}

// A sparse descriptor whose directory claims the whole file: the load's peak
// memory stays about one file size.
void LoadMemoryIsOneFileSize() {
    constexpr std::uint32_t kSize = 128u << 20, kCount = (kSize - 64) / 12, kAt = 64, kNone = 0;
    Library lib;
    std::vector<std::uint8_t> bytes = errmdesc::Write(Cat("BIG", {}));
    std::memcpy(bytes.data() + 4, &kCount, 4);
    std::memcpy(bytes.data() + 8, &kNone, 4); // an empty checksummed range
    std::memcpy(bytes.data() + 12, &kAt, 4);
    ASSERT_EQ(truncate(WriteBytes(bytes, lib.file("errm_desc_BIG.bin")).c_str(), kSize), 0);
    EXPECT_EQ(RunInChild([] {
                  rusage before{}, after{};
                  getrusage(RUSAGE_SELF, &before);
                  if (Load("big") != 0) return 1;
                  getrusage(RUSAGE_SELF, &after);
                  return (after.ru_maxrss - before.ru_maxrss) * 1024 < kSize * 5l / 4 ? 0 : 2;
              }),
              0);
}

// A FIFO, a device, a directory or a name leading out of the root give at
// once what a missing file gives; so does a FIFO as a cat file.
void NonFilesAreMissingFiles() {
    alarm(20); // a blocking open ends the case
    Library lib(true);
    const std::string root = lib.dir().path() + "/";
    ASSERT_EQ(mkfifo((root + "errm_desc_FIFO.bin").c_str(), 0600) +
                  mkfifo((root + "p").c_str(), 0600) +
                  symlink("/dev/zero", (root + "errm_desc_DEV.bin").c_str()) +
                  mkdir((root + "errm_desc_DIR.bin").c_str(), 0700) +
                  mkdir((root + "errm_desc_X").c_str(), 0700) + mkdir((root + "OUT").c_str(), 0700),
              0);
    WriteBytes(errmdesc::Write(Sim()), root + "OUT/ERRM_DESC_SIM.bin");
    for (const char *name : {"fifo", "dev", "dir", "x/../OUT/errm_desc_sim", "missing"}) {
        StdoutCapture out;
        ExpectBoth(name, 1071);
        EXPECT_EQ(Count(out.Text(), "Open file failure for " + root + "errm_desc_"), 2) << name;
    }
    errm_G.FConsoleOut = 0; // no numbered trace lines in the texts compared
    auto catOf = [&](const std::string &file) {
        errmdesc::Message cat = Msg(1, kError, "c");
        cat.cat = "FILE=" + file;
        EXPECT_GE(lib.Load(Cat("C", {cat})), 0);
        StdoutCapture out;
        ERRM_ProcessError(static_cast<unsigned>(errm_LoadedCount() - 1), 1);
        std::string text = out.Text();
        for (std::size_t at; (at = text.find(file)) != std::string::npos;)
            text.replace(at, file.size(), "<file>");
        return text;
    };
    catOf(root + "a"); // the search path is built by the first search
    EXPECT_EQ(catOf(root + "p"), catOf(root + "a"));
    alarm(0);
}

ssize_t FailingRead(int, void *, std::size_t) {
    errno = EIO;
    return -1;
}

// A wholly big-endian file is refused on every host, also before ERRM_Init
// (when every word is swapped). Empty: 1069; 1 to 55 bytes: 1075; a file
// that cannot be read: 1069, nothing held.
void BigEndianEmptyShortAndUnreadableFiles() {
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl"), ldbg("KOVA_ERRM_LDBG", std::nullopt);
    ERRM_Set_Root_ForMemoryDescriptor(dir.path().c_str());
    std::vector<std::uint8_t> big = errmdesc::Write(Sim());
    for (std::size_t w = 0; w < 6; ++w)
        std::reverse(big.begin() + 4 * w, big.begin() + 4 * w + 4);
    WriteBytes(big, dir.file("errm_desc_BIG.bin"));
    ExpectBoth("big", 1048);
    ASSERT_EQ(ERRM_Init(), 1);
    ExpectBoth("big", 1048);
    for (std::size_t size : {0, 1, 55}) {
        WriteFile(dir.file("errm_desc_S.bin"), std::string(size, '\x17'));
        ExpectBoth("s", size == 0 ? 1069 : 1075);
    }
    WriteDescriptor(Sim(), dir.path());
    SysGuard sys;
    errm_Sys.read = FailingRead;
    const int fds = OpenFdCount();
    ExpectBoth("sim", 1069);
    EXPECT_EQ(OpenFdCount(), fds);
}

std::string g_tmpName;
mode_t g_tmpMode = 0;
int StatTmpAndRun(const char *command) {
    struct stat st {};
    g_tmpMode = ::lstat(g_tmpName.c_str(), &st) == 0 ? st.st_mode : 0;
    return errm_SysDefault.system(command);
}

// The command's output file is its owner's only, and never a name planted
// before: then the command is skipped with its failure line.
void CommandTemporaryFile() {
    Library lib;
    ScopedCwd cwd(lib.dir().path());
    SysGuard sys;
    errm_Sys.time = [](std::time_t *) -> std::time_t { return 1168247107; };
    errm_Sys.system = StatTmpAndRun;
    char name[64];
    errm_TempFileName(name);
    g_tmpName = name;
    errmdesc::Message m = Msg(1, kNote, "c");
    m.command = "CMD=echo hi";
    ASSERT_EQ(lib.Load(Cat("CMD", {m})), 0);
    const std::string line = "** Note: (CMD - 1) c\n-> cmd echo hi > " + g_tmpName + " \n";
    for (int planted : {0, 1}) {
        StdoutCapture out;
        ERRM_ProcessError(0, 1);
        const std::string ran =
            "-- cat " + g_tmpName + " -- \nhi\n-- EOF -- \n" + g_tmpName + " deleted\n";
        EXPECT_EQ(out.Text(), line + (planted ? "echo hi > " + g_tmpName + " failure\n" : ran));
        EXPECT_EQ(g_tmpMode, planted ? 0u : S_IFREG | 0600) << "the command ran";
        WriteFile(lib.file("victim"), "keep");
        ASSERT_EQ(symlink(lib.file("victim").c_str(), name) == 0 || planted, true);
        g_tmpMode = 0;
    }
    EXPECT_EQ(ReadFile(lib.file("victim")), "keep");
}

// The trace of an empty or unexpandable directory is in the working
// directory; after ERRM_FInit a load does not reopen it, and lines echo.
// Roots too long for their files: refused by the setter, or reported with
// the path built so far. The trace line counter wraps.
void TraceAndLongRoots() {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv missing("ERRM_TEST_NO_SUCH_VAR", std::nullopt);
    const std::string own = "errm_dll_trace_" + std::to_string(getpid()) + ".txt";
    for (const char *setting : {"'';T:X:X:X:X:1", "/${ERRM_TEST_NO_SUCH_VAR};T:X:X:X:X:1"}) {
        ScopedEnv ldbg("KOVA_ERRM_LDBG", setting);
        ASSERT_EQ(ERRM_Init(), 1);
        errm_TraceAdd("here\n");
        EXPECT_EQ(std::string(errm_TraceFileName()), own) << setting;
        ASSERT_EQ(ERRM_FInit(), 1);
    }
    EXPECT_EQ(Count(ReadFile(dir.file(own)), "here"), 2);
    EXPECT_EQ(ERRM_Set_RootReportFiles(std::string(1019, 'r').c_str()), 1);
    EXPECT_EQ(ERRM_Set_RootReportFiles(std::string(1020, 'r').c_str()), 0);
    const std::string before = ReadFile(dir.file(own));
    for (std::size_t n : {1022u, 1023u}) {
        const std::string root = "/" + std::string(n - 1, 'd');
        ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(root.c_str()), 1);
        StdoutCapture out;
        EXPECT_EQ(Load("sim"), 1077);
        EXPECT_NE(out.Text().find("String cat overflow " + root), std::string::npos) << n;
    }
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    EXPECT_EQ(ReadFile(dir.file(own)), before);
    errm_G.TraceLineNumber = INT_MAX;
    StdoutCapture out;
    errm_TraceAdd("wrapped\n");
    EXPECT_EQ(out.Text(), "DLL(  0): wrapped\n");
}

std::size_t Overflowing(char *buf, std::size_t size, const char *, const struct tm *) {
    std::memset(buf, 'Q', size); // what strftime may leave behind
    return 0;
}

// A date stamp that does not fit is empty: injected, and in a locale whose
// date and time need more than 33 bytes (generated once, when it can be).
void DateStampThatDoesNotFit() {
    Library lib;
    errmdesc::Message m = Msg(1, kNote, "t");
    m.dateKind = 1;
    ASSERT_EQ(lib.Load(Cat("D", {m})), 0);
    errm_Sys.strftime = Overflowing;
    const std::string plain = ERRM_Get_ErrorMessage(0, 1);
    errm_SysRestore();
    EXPECT_EQ(plain, "** Note: (D - 1 - ) t\n");
    const char *base = std::getenv("ERRM_TEST_TMP");
    const std::string dir = std::string(base != nullptr ? base : "/tmp") + "/locales";
    if (!FileExists(dir + "/dz_BT.UTF-8/LC_TIME"))
        std::system(("mkdir -p '" + dir + "' && localedef -i dz_BT -f UTF-8 '" + dir +
                     "/dz_BT.UTF-8' >/dev/null 2>&1")
                        .c_str());
    ScopedEnv path("LOCPATH", dir);
    if (std::setlocale(LC_TIME, "dz_BT.UTF-8") == nullptr) GTEST_SKIP() << "no locale dz_BT";
    EXPECT_EQ(std::string(ERRM_Get_ErrorMessage(0, 1)), plain);
}

// The "not present" line after a switch counts, labels and pipes as the
// message processed before it.
void NotPresentAfterASwitch() {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("AAA", {Msg(1, kError, "a", {kStdout, kPipe})}, "Alpha")), 0);
    ASSERT_EQ(lib.Load(Cat("BBB", {Msg(1, kError, "b")}, "Beta")), 1);
    ERRM_Set_GlobalNbrMaxOfMessages(1);
    StdoutCapture out;
    EXPECT_EQ(ERRM_ProcessError(0, 1), 0);
    EXPECT_EQ(ERRM_ProcessError(1, 99), 1024);
    const std::string text = out.Text();
    EXPECT_EQ(Count(text, "TCL SS = AAA \n"), 2);
    EXPECT_EQ(Count(text, "(Alpha - 1) has been displayed 1 times"), 1) << text;
    EXPECT_EQ(Count(text, "BBB") + Count(text, "Beta"), 0);
}

struct Case {
    const char *name;
    void (*run)();
};
void PrintTo(const Case &c, std::ostream *os) {
    *os << c.name;
}
const Case kCases[] = {
    {"DescriptorChangedOnDisk", DescriptorChangedOnDisk},
    {"LoadMemoryIsOneFileSize", LoadMemoryIsOneFileSize},
    {"NonFilesAreMissingFiles", NonFilesAreMissingFiles},
    {"BigEndianEmptyShortAndUnreadableFiles", BigEndianEmptyShortAndUnreadableFiles},
    {"CommandTemporaryFile", CommandTemporaryFile},
    {"TraceAndLongRoots", TraceAndLongRoots},
    {"DateStampThatDoesNotFit", DateStampThatDoesNotFit},
    {"NotPresentAfterASwitch", NotPresentAfterASwitch},
};

class Hostile : public ::testing::TestWithParam<Case> {};
TEST_P(Hostile, Case) {
    GetParam().run();
}
INSTANTIATE_TEST_SUITE_P(Host, Hostile, ::testing::ValuesIn(kCases),
                         [](const auto &param) { return std::string(param.param.name); });

} // namespace
