// hostile_test.cpp - what a hostile or unlucky host does to the library:
// descriptors changed on disk, FIFOs and devices where files are expected,
// empty and foreign-order files, planted temporary files, broken trace
// directories, over-long roots, locales whose dates do not fit, a subsystem
// switch before a missing message. One table of cases; each runs in its own
// process under ctest. (Client streams across cycles: process_test.)
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

// Makes a directory the working directory for a scope.
struct ScopedCwd {
    explicit ScopedCwd(const std::string &dir) { std::filesystem::current_path(dir); }
    ~ScopedCwd() { std::filesystem::current_path(old); }
    std::filesystem::path old = std::filesystem::current_path();
};

int Load(const std::string &name) {
    int index = -1;
    return ERRM_ReadErrorDescriptor(name.c_str(), &index);
}
int Infos(const std::string &name) {
    char stamp[16], version[8];
    return ERRM_DisplayInfos(name.c_str(), stamp, version);
}
// A load and ERRM_DisplayInfos give the same result.
void ExpectBoth(const std::string &name, int rc, const std::string &why) {
    EXPECT_EQ(Load(name), rc) << name << why;
    EXPECT_EQ(Infos(name), rc) << name << why;
}
errmdesc::Catalogue Sim() {
    return Cat("SIM", {Msg(1, kError, "one %d"), Msg(2, kWarning, "two %s"), Msg(3, kNote, "x")});
}
ssize_t FailingRead(int, void *, std::size_t) {
    errno = EIO;
    return -1;
}

// ------------------------------------------------- files the library reads

// A descriptor truncated, rewritten or opened as a transcript while loaded:
// messages keep coming from the library's own copy, the file is not held.
void DescriptorChangedOnDisk() {
    Library lib;
    ASSERT_EQ(lib.Load(Sim()), 0);
    const std::string path = lib.file("errm_desc_SIM.bin");
    EXPECT_EQ(FdsOpenOn(path), 0);
    EXPECT_EQ(MappingsOf(path), 0);
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    StdoutCapture out;
    EXPECT_EQ(ERRM_ProcessError(0, 2, "b"), 0);
    ASSERT_EQ(ERRM_Set_TranScriptFileName(path.c_str()), 1); // emptied when opened
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "t", {kTranscript}), Msg(3, kNote, "n")})), 1);
    EXPECT_EQ(ERRM_ProcessError(1, 1), 0);
    EXPECT_EQ(ERRM_ProcessError(1, 3), 0);
    EXPECT_EQ(out.Text(), "** Warning: (SIM - 2) two b\n** Note: (SIM - 3) n\n");
}

// A load needs about one file size of memory, whatever the directory claims.
void LoadMemoryIsOneFileSize() {
    constexpr std::size_t kSize = 128u << 20; // sparse: holes read as zeros
    Library lib;
    std::vector<std::uint8_t> bytes = errmdesc::Write(Cat("BIG", {}));
    const std::uint32_t count = (kSize - 64) / 12, at = 64, none = 0;
    std::memcpy(bytes.data() + 4, &count, 4);
    std::memcpy(bytes.data() + 8, &none, 4); // an empty checksummed range
    std::memcpy(bytes.data() + 12, &at, 4);
    const std::string path = WriteBytes(bytes, lib.file("errm_desc_BIG.bin"));
    ASSERT_EQ(truncate(path.c_str(), kSize), 0);
    EXPECT_EQ(RunInChild([] {
                  rusage before{}, after{};
                  getrusage(RUSAGE_SELF, &before);
                  if (Load("big") != 0) return 1;
                  getrusage(RUSAGE_SELF, &after);
                  long grown = (after.ru_maxrss - before.ru_maxrss) * 1024;
                  return grown < static_cast<long>(kSize) * 5 / 4 ? 0 : 2;
              }),
              0);
}

// A FIFO, a device, a directory or a name leading out of the root give at
// once what a missing file gives; so does a FIFO named as a cat file.
void NonFilesAreMissingFiles() {
    alarm(20); // a blocking open ends the case
    Library lib(true);
    const std::string root = lib.dir().path() + "/";
    ASSERT_EQ(mkfifo((root + "errm_desc_FIFO.bin").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (root + "errm_desc_DEV.bin").c_str()), 0);
    ASSERT_EQ(mkdir((root + "errm_desc_DIR.bin").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "errm_desc_X").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "OUT").c_str(), 0700), 0);
    WriteBytes(errmdesc::Write(Sim()), root + "OUT/ERRM_DESC_SIM.bin");
    ASSERT_EQ(mkfifo(lib.file("pipe").c_str(), 0600), 0);
    for (const char *name : {"fifo", "dev", "dir", "x/../OUT/errm_desc_sim", "missing"}) {
        StdoutCapture out;
        ExpectBoth(name, 1071, "");
        EXPECT_EQ(Count(out.Text(), "Open file failure for " + root + "errm_desc_"), 2) << name;
    }
    errmdesc::Message cat = Msg(1, kError, "c");
    auto catOf = [&](const std::string &file) {
        cat.cat = "FILE=" + file;
        EXPECT_GE(lib.Load(Cat("C" + file, {cat})), 0);
        StdoutCapture out;
        ERRM_ProcessError(static_cast<unsigned>(errm_LoadedCount() - 1), 1);
        std::string text = out.Text();
        for (std::size_t at; (at = text.find(file)) != std::string::npos;)
            text.replace(at, file.size(), "<file>");
        return text;
    };
    errm_G.FConsoleOut = 0; // no numbered trace lines in the texts compared
    catOf("absent");        // the search path is built by the first search
    EXPECT_EQ(catOf("pipe"), catOf("absent"));
    alarm(0);
}

// A wholly big-endian file is refused on every host, also before ERRM_Init
// (when every word is swapped). An empty file cannot be held in memory
// (1069); 1 to 55 bytes are short of the header (1075). A file that cannot be
// read gives 1069 and is not held.
void BigEndianEmptyShortAndUnreadableFiles() {
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", std::nullopt);
    ERRM_Set_Root_ForMemoryDescriptor(dir.path().c_str());
    std::vector<std::uint8_t> big = errmdesc::Write(Sim());
    for (std::size_t w = 0; w < 6; ++w)
        std::reverse(big.begin() + 4 * w, big.begin() + 4 * w + 4);
    WriteBytes(big, dir.file("errm_desc_BIG.bin"));
    ExpectBoth("big", 1048, " before ERRM_Init");
    ASSERT_EQ(ERRM_Init(), 1);
    ExpectBoth("big", 1048, "");
    const struct {
        std::size_t size;
        int rc;
    } sizes[] = {{0, 1069}, {1, 1075}, {55, 1075}};
    for (const auto &s : sizes) {
        WriteFile(dir.file("errm_desc_S.bin"), std::string(s.size, '\x17'));
        ExpectBoth("s", s.rc, std::to_string(s.size));
    }
    WriteDescriptor(Sim(), dir.path());
    SysGuard sys;
    errm_Sys.read = FailingRead;
    const int fds = OpenFdCount();
    ExpectBoth("sim", 1069, "");
    EXPECT_EQ(OpenFdCount(), fds);
}

// --------------------------------------------------- files the library writes

std::string g_tmpName;
mode_t g_tmpMode = 0;
int StatTmpAndRun(const char *command) {
    struct stat st {};
    g_tmpMode = ::lstat(g_tmpName.c_str(), &st) == 0 ? st.st_mode : 0;
    return errm_SysDefault.system(command);
}

// The command's output file is created for its owner only, and never through
// a name planted before: then the command is skipped with its failure line.
void CommandTemporaryFile() {
    Library lib;
    ScopedCwd cwd(lib.dir().path());
    SysGuard sys;
    errm_Sys.time = [](std::time_t *) -> std::time_t { return 1168247107; };
    errm_Sys.getpid = []() -> pid_t { return 4242; };
    errm_Sys.system = StatTmpAndRun;
    char name[64];
    errm_FM_TempFileName(name);
    g_tmpName = name;
    errmdesc::Message m = Msg(1, kNote, "c");
    m.command = "CMD=echo hi";
    ASSERT_EQ(lib.Load(Cat("CMD", {m})), 0);
    {
        StdoutCapture out;
        ERRM_ProcessError(0, 1);
        EXPECT_NE(out.Text().find("hi\n-- EOF -- \n" + g_tmpName + " deleted\n"),
                  std::string::npos);
    }
    EXPECT_EQ(g_tmpMode, S_IFREG | 0600);
    WriteFile(lib.file("victim"), "keep");
    ASSERT_EQ(symlink(lib.file("victim").c_str(), name), 0);
    g_tmpMode = 0;
    StdoutCapture out;
    ERRM_ProcessError(0, 1);
    EXPECT_EQ(out.Text(), "** Note: (CMD - 1) c\n-> cmd echo hi > " + g_tmpName + " \necho hi > " +
                              g_tmpName + " failure\n");
    EXPECT_EQ(g_tmpMode, 0u) << "the command did not run";
    EXPECT_EQ(ReadFile(lib.file("victim")), "keep");
}

// An empty trace directory, or one whose expansion failed, is the working
// directory; after ERRM_FInit a load does not reopen the trace, and lines
// still echo on the console.
void TraceDirectoryAndCycles() {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv missing("ERRM_TEST_NO_SUCH_VAR", std::nullopt);
    const std::string own = "errm_dll_trace_" + std::to_string(getpid()) + ".txt";
    for (const char *setting : {"'';X:X:X:X:X:1", "/${ERRM_TEST_NO_SUCH_VAR};X:X:X:X:X:1"}) {
        ScopedEnv ldbg("KOVA_ERRM_LDBG", setting);
        ASSERT_EQ(ERRM_Init(), 1);
        errm_TraceAdd("here\n");
        EXPECT_EQ(std::string(errm_TraceFileName()), own) << setting;
        EXPECT_NE(ReadFile(dir.file(own)).find("here"), std::string::npos) << setting;
        ASSERT_EQ(ERRM_FInit(), 1);
    }
    const std::string before = ReadFile(dir.file(own));
    errm_G.FConsoleOut = 1;
    StdoutCapture out;
    EXPECT_EQ(Load("none"), 1071);
    errm_TraceAdd("echo\n");
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    EXPECT_EQ(ReadFile(dir.file(own)), before);
    EXPECT_NE(out.Text().find("): echo\n"), std::string::npos);
}

// Roots too long for their files: refused by the setter, or reported with
// the path built so far; the trace line counter wraps.
void LongRootsAndCounterWrap() {
    Library lib(true);
    EXPECT_EQ(ERRM_Set_RootReportFiles(std::string(1019, 'r').c_str()), 1);
    EXPECT_EQ(ERRM_Set_RootReportFiles(std::string(1020, 'r').c_str()), 0);
    for (std::size_t n : {1022u, 1023u}) {
        const std::string root = "/" + std::string(n - 1, 'd');
        ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(root.c_str()), 1);
        StdoutCapture out;
        EXPECT_EQ(Load("sim"), 1077);
        EXPECT_NE(out.Text().find("String cat overflow " + root), std::string::npos) << n;
    }
    errm_G.TraceLineNumber = INT_MAX;
    StdoutCapture out;
    errm_TraceAdd("wrapped\n");
    EXPECT_EQ(out.Text(), "DLL(  0): wrapped\n");
}

// ---------------------------------------------------- text the library prints

// A directory holding the locale dz_BT.UTF-8, generated once; empty when it
// cannot be generated.
std::string LocaleDir() {
    const char *base = std::getenv("ERRM_TEST_TMP");
    const std::string dir = std::string(base != nullptr ? base : "/tmp") + "/locales";
    const std::string made = dir + "/dz_BT.UTF-8";
    if (!FileExists(made + "/LC_TIME")) {
        std::filesystem::create_directories(dir);
        std::system(("localedef -i dz_BT -f UTF-8 '" + made + "' >/dev/null 2>&1").c_str());
    }
    return FileExists(made + "/LC_TIME") ? dir : std::string();
}

std::size_t Overflowing(char *buf, std::size_t size, const char *, const struct tm *) {
    std::memset(buf, 'Q', size); // what strftime may leave behind
    return 0;
}

// A date stamp that does not fit is empty: injected, and in a locale whose
// date and time need more than the stamp's 33 bytes (when one can be made).
void DateStampThatDoesNotFit() {
    Library lib;
    errmdesc::Message m = Msg(1, kNote, "t");
    m.dateKind = 1;
    ASSERT_EQ(lib.Load(Cat("D", {m})), 0);
    std::string plain;
    {
        SysGuard sys;
        errm_Sys.strftime = Overflowing;
        plain = ERRM_Get_ErrorMessage(0, 1);
    }
    EXPECT_EQ(plain.find('Q'), std::string::npos) << plain;
    const std::string locales = LocaleDir();
    if (locales.empty()) GTEST_SKIP() << "no locale dz_BT could be generated";
    ScopedEnv path("LOCPATH", locales);
    ASSERT_NE(std::setlocale(LC_TIME, "dz_BT.UTF-8"), nullptr);
    EXPECT_EQ(std::string(ERRM_Get_ErrorMessage(0, 1)), plain);
}

// -------------------------------------------------------------- subsystems

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
    EXPECT_NE(text.find("(Alpha - 1) has been displayed 1 times"), std::string::npos) << text;
    EXPECT_EQ(text.find("BBB"), std::string::npos);
    EXPECT_EQ(text.find("Beta"), std::string::npos);
}

struct Case {
    const char *name;
    void (*run)();
};

const Case kCases[] = {
    {"DescriptorChangedOnDisk", DescriptorChangedOnDisk},
    {"LoadMemoryIsOneFileSize", LoadMemoryIsOneFileSize},
    {"NonFilesAreMissingFiles", NonFilesAreMissingFiles},
    {"BigEndianEmptyShortAndUnreadableFiles", BigEndianEmptyShortAndUnreadableFiles},
    {"CommandTemporaryFile", CommandTemporaryFile},
    {"TraceDirectoryAndCycles", TraceDirectoryAndCycles},
    {"LongRootsAndCounterWrap", LongRootsAndCounterWrap},
    {"DateStampThatDoesNotFit", DateStampThatDoesNotFit},
    {"NotPresentAfterASwitch", NotPresentAfterASwitch},
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << c.name;
}

class Hostile : public ::testing::TestWithParam<Case> {};

TEST_P(Hostile, Case) {
    GetParam().run();
}

INSTANTIATE_TEST_SUITE_P(Host, Hostile, ::testing::ValuesIn(kCases),
                         [](const auto &param) { return std::string(param.param.name); });

} // namespace
