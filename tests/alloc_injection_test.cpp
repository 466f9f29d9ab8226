// alloc_injection_test.cpp - a whole client life run once per allocation
// with that allocation failing: N = 1, 2, ... until a run ends before its
// N-th allocation. Each run is a forked child with the trace on and echoed
// on its standard output, which goes to a file. For every run: no crash, the
// failure visible where the library documents it (a result, an internal
// error report), every block, file descriptor and file manager entry given
// back by ERRM_FInit, and a second life after the failure served in full.
#include "base/errm_alloc.h"
#include "base/errm_interr.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_fm.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

using namespace errmtest;

namespace {

// ---------------------------------------------------------- the descriptors

errmdesc::Catalogue Simulator() {
    errmdesc::Message open =
        Msg(1, kError, "cannot open %s (code %d)", {kStdout, kLog, kReport, kChi, kReportF});
    open.id = "SIM-0001";
    open.env = "ERRM_ALLOC_ENV";
    open.dateKind = 1;
    open.see = "the user guide";
    open.force = 1;
    open.rc = -1;
    errmdesc::Message delayed = Msg(2, kErrorDelayed, "delayed %d", {kTranscript, kDbgI, kDbgC});
    delayed.rc = 2;
    errmdesc::Message catFile = Msg(7, kNote, "with a file", {kLog});
    catFile.cat = "FILE=${ERRM_ALLOC_DIR}/cat.txt";
    errmdesc::Message searched = Msg(8, kDisplay, "with a searched file", {kReport});
    searched.cat = "FILE=searched.txt";
    errmdesc::Message command = Msg(9, kNote, "with a command", {kLog});
    command.command = "CMD=echo from a command";
    return Cat("SIM",
               {open, delayed, Msg(3, kWarning, "warn %s", {kPipe}),
                Msg(4, kFatal, "fatal", {kStdout, kChi}), Msg(5, kTrace, "trace", {kStdout}),
                Msg(6, kDebug, "debug", {kStdout}), catFile, searched, command,
                Msg(10, kError, "%s", {kStdout})},
               "Simulator");
}

errmdesc::Catalogue Network() {
    errmdesc::Message m = Msg(100, kWarning, "net %d", {kStdout, kLog});
    m.dateKind = 2;
    return Cat("NET", {m, Msg(101, kNote, "link %s up", {kReport})});
}

errmdesc::Catalogue Old() {
    errmdesc::Catalogue c = Cat("OLD", {Msg(1, kDisplay, "old display", {kStdout})});
    c.version = {0, 9, 9, 0};
    return c;
}

// ------------------------------------------------------------ the life

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

bool FileManagerEmpty() {
    for (int h = 0; h < ERRM_FM_ENTRIES; ++h)
        if (errm_FM_InUse(h)) return false;
    return true;
}

// What one life showed; written by the child for the parent.
struct Outcome {
    int init = -1;      // ERRM_Init's result
    int loads[3] = {};  // the three loads' results
    int finit = -1;     // ERRM_FInit's result
    int grownNull = 0;  // retrievals past 2048 that gave null
    int blocksLeft = 0; // allocation count after ERRM_FInit minus before ERRM_Init
    int fdsLeft = 0;    // open descriptors after minus before
    int fmBusy = 0;     // 1 when a file manager entry is still in use
    int secondLife = 0; // 1 when the second life was served in full
    int failedTag = 0;  // tag of the allocation made to fail, 0 none
    long attempts = 0;  // allocations attempted during the first life
};

// One client's life with the library.
void FirstLife(Outcome *o) {
    std::FILE *chi = std::tmpfile();
    std::FILE *reportF = std::tmpfile();
    const int fds = OpenDescriptors();
    const int blocks = errm_AllocationCount();

    o->init = ERRM_Init();
    if (o->init == 1) {
        ERRM_Set_ChiFileHandle(chi);
        ERRM_Set_ReportF_FD(reportF);
        int sim = -1, net = -1, old = -1;
        o->loads[0] = ERRM_ReadErrorDescriptor("sim", &sim);
        o->loads[1] = ERRM_ReadErrorDescriptor("net", &net);
        o->loads[2] = ERRM_ReadErrorDescriptor("old", &old);
        const unsigned s = static_cast<unsigned>(sim), n = static_cast<unsigned>(net);
        ERRM_ProcessError(s, 1, "a.txt", 2);
        ERRM_ProcessError(s, 2, 7);
        ERRM_ProcessError(s, 3, "x");
        for (int number = 4; number <= 9; ++number)
            ERRM_ProcessError(s, number);
        ERRM_ProcessError(n, 100, 1);
        ERRM_ProcessError(n, 101, "eth0");
        ERRM_ProcessError(static_cast<unsigned>(old), 1);
        ERRM_ProcessError(s, 1, "b.txt", 3); // back to the first subsystem
        ERRM_ProcessError(s, 99);            // not present
        for (int i = 0; i < 4; ++i)          // the repetition notice
            ERRM_ProcessError(s, 4);
        ERRM_ResetMessageCounter(s, 4, 0);
        ERRM_DisplayUserMessage(5, 1, "USR", nullptr, 0x1FF, "gen", "user &lt;%d&gt;\\n", 5);
        ERRM_DirectProcessError("TRACE", "SPTDCRLKF", "ERRM_ALLOC_LEVEL", 1, "direct %d", 1);
        ERRM_Get_ErrorMessage(s, 3, "short");
        // The Return buffer grows past 2048, then past 4096.
        const std::string a(3000, 'a'), b(5000, 'b');
        if (ERRM_Get_ErrorMessage(s, 10, a.c_str()) == nullptr) ++o->grownNull;
        if (ERRM_Get_ErrorMessage(s, 10, b.c_str()) == nullptr) ++o->grownNull;
        char stamp[13], version[4];
        ERRM_DisplayInfos("net", stamp, version);
        ERRM_Reset_ChiFileHandle();
        ERRM_Reset_ReportF_FD();
    }
    o->finit = ERRM_FInit();
    o->blocksLeft = errm_AllocationCount() - blocks;
    o->fmBusy = FileManagerEmpty() ? 0 : 1;
    std::fclose(chi);
    std::fclose(reportF);
    o->fdsLeft = OpenDescriptors() - (fds - 2);
}

// A life after the failure: everything must work again.
bool SecondLife() {
    if (ERRM_Init() != 1) return false;
    int sim = -1;
    bool ok = ERRM_ReadErrorDescriptor("sim", &sim) == 0 &&
              ERRM_ProcessError(static_cast<unsigned>(sim), 1, "c.txt", 4) == -1 &&
              ERRM_ProcessError(static_cast<unsigned>(sim), 7) == 0;
    const std::string c(2500, 'c');
    const char *text = ERRM_Get_ErrorMessage(static_cast<unsigned>(sim), 10, c.c_str());
    ok = ok && text != nullptr && std::strstr(text, c.c_str()) != nullptr;
    return ERRM_FInit() == 1 && ok;
}

// ------------------------------------------------------------- the runs

class AllocationFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const errmdesc::Catalogue &c : {Simulator(), Network(), Old()})
            WriteDescriptor(c, dir_.path());
        WriteFile(dir_.file("cat.txt"), "copied by the cat action\n");
        std::filesystem::create_directories(dir_.file("sub"));
        WriteFile(dir_.file("sub/searched.txt"), "found through the search path\n");
        ERRM_Set_Root_ForMemoryDescriptor((dir_.path() + "/").c_str());
        ERRM_Set_RootReportFiles(dir_.file("run").c_str());
        ERRM_Set_TranScriptFileName(dir_.file("run.tra").c_str());
        ERRM_Set_SearchPath("ERRM_ALLOC_SPATH");
    }

    // Runs both lives in a child with the n-th allocation failing (0: none).
    Outcome Run(long n, std::string *console, int *status) {
        const std::string out = dir_.file("console.txt");
        const std::string result = dir_.file("outcome.bin");
        std::filesystem::remove(result);
        *status = RunInChild([&] {
            if (std::freopen(out.c_str(), "w", stdout) == nullptr) return 90;
            Outcome o;
            errm_TestFailAllocation(n);
            FirstLife(&o);
            o.failedTag = errm_TestFailedTag();
            o.attempts = errm_TestFailAllocation(0);
            o.secondLife = SecondLife() ? 1 : 0;
            std::FILE *f = std::fopen(result.c_str(), "wb");
            if (f == nullptr || std::fwrite(&o, sizeof o, 1, f) != 1) return 91;
            std::fclose(f);
            return 0;
        });
        *console = ReadFile(out);
        Outcome o;
        const std::string bytes = ReadFile(result);
        if (bytes.size() == sizeof o) std::memcpy(&o, bytes.data(), sizeof o);
        return o;
    }

    TempDir dir_;
    ScopedEnv platform_{"ORV_VCO", "ixl"};
    ScopedEnv debug_{"KOVA_ERRM_LDBG", dir_.path() + ";T:X:X:X:X:T"};
    ScopedEnv catDir_{"ERRM_ALLOC_DIR", dir_.path()};
    ScopedEnv searchPath_{"ERRM_ALLOC_SPATH", dir_.file("sub")};
    ScopedEnv level_{"ERRM_ALLOC_LEVEL", "3"};
};

// What the console must show when an allocation of a tag failed.
std::string ExpectedReport(int tag) {
    if (tag >= 120590 && tag <= 120594) return "Memory allocation failure for ";
    if (tag >= ERRM_TAG_FM_NAME && tag < ERRM_TAG_FM_NAME + ERRM_FM_ENTRIES)
        return "Open file failure for ";
    if (tag == 110872) return "cat file error for searched.txt";
    if (tag == 120522) return "Reports ReturnError";
    return "";
}

} // namespace

TEST_F(AllocationFailure, WholeLifeInOneProcessGivesEverythingBack) {
    // The same two lives without a fork and without a failure: the run the
    // memory checker watches (scripts/valgrind.sh).
    Outcome o;
    {
        StdoutCapture out;
        FirstLife(&o);
        o.secondLife = SecondLife() ? 1 : 0;
    }
    EXPECT_EQ(o.init, 1);
    EXPECT_EQ(o.loads[0], 0);
    EXPECT_EQ(o.loads[1], 0);
    EXPECT_EQ(o.loads[2], 0);
    EXPECT_EQ(o.grownNull, 0);
    EXPECT_EQ(o.finit, 1);
    EXPECT_EQ(o.blocksLeft, 0);
    EXPECT_EQ(o.fdsLeft, 0);
    EXPECT_EQ(o.fmBusy, 0);
    EXPECT_EQ(o.secondLife, 1);
}

TEST_F(AllocationFailure, EveryAllocationOfAClientLifeMayFail) {
    // The reference life, without failure, serves everything.
    std::string clean;
    int status = 0;
    Outcome ref = Run(0, &clean, &status);
    ASSERT_EQ(status, 0) << clean;
    ASSERT_EQ(ref.init, 1);
    EXPECT_EQ(ref.loads[0], 0);
    EXPECT_EQ(ref.loads[1], 0);
    EXPECT_EQ(ref.loads[2], 0);
    EXPECT_EQ(ref.grownNull, 0);
    EXPECT_EQ(ref.finit, 1);
    EXPECT_EQ(ref.blocksLeft, 0);
    EXPECT_EQ(ref.fdsLeft, 0);
    EXPECT_EQ(ref.fmBusy, 0);
    EXPECT_EQ(ref.secondLife, 1);
    // The only internal errors of a clean life: the old version, the
    // message number that is not present.
    EXPECT_EQ(Count(clean, "DLL-E("), 2) << clean;
    EXPECT_NE(clean.find("VERSION number old: GENV=99, MINV=100"), std::string::npos);
    EXPECT_NE(clean.find("Error number 99 not found"), std::string::npos);
    ASSERT_GT(ref.attempts, 20);
    RecordProperty("allocations_in_a_life", static_cast<int>(ref.attempts));

    std::map<int, int> tagsSeen;
    for (long n = 1; n <= ref.attempts; ++n) {
        std::string console;
        Outcome o = Run(n, &console, &status);
        SCOPED_TRACE("allocation " + std::to_string(n) + " of tag " + std::to_string(o.failedTag));
        ASSERT_EQ(status, 0) << console;
        ASSERT_NE(o.failedTag, 0) << "the life made " << o.attempts << " allocations";
        ++tagsSeen[o.failedTag];
        EXPECT_EQ(o.blocksLeft, 0);
        EXPECT_EQ(o.fdsLeft, 0);
        EXPECT_EQ(o.fmBusy, 0);
        EXPECT_EQ(o.secondLife, 1);
        if (o.failedTag == 120521) {
            // The Return buffer of ERRM_Init: nothing else happens.
            EXPECT_EQ(o.init, 0);
            EXPECT_EQ(o.finit, 0);
            continue;
        }
        EXPECT_EQ(o.init, 1);
        EXPECT_EQ(o.finit, 1);
        const std::string report = ExpectedReport(o.failedTag);
        ASSERT_FALSE(report.empty()) << "an allocation tag the test does not know";
        EXPECT_NE(console.find(report), std::string::npos) << console;
        if (o.failedTag >= 120590 && o.failedTag <= 120594) {
            EXPECT_TRUE(o.loads[0] == ERRM_E_NO_MEMORY || o.loads[1] == ERRM_E_NO_MEMORY ||
                        o.loads[2] == ERRM_E_NO_MEMORY);
        }
        if (o.failedTag == 120522) {
            EXPECT_EQ(o.grownNull, 1);
        }
    }
    // A life past the last allocation fails nothing.
    std::string console;
    Outcome last = Run(ref.attempts + 1, &console, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(last.failedTag, 0);
    EXPECT_EQ(last.attempts, ref.attempts);
    // Every kind of allocation was made to fail at least once.
    for (int tag : {120521, 120590, 120591, 120593, 120522, 110872})
        EXPECT_GT(tagsSeen[tag], 0) << "tag " << tag;
}

// ------------------------------------------------------- regression cases
//
// When the file manager opens a file but cannot copy its name, it delivers
// the handle with code 1068 and keeps the stream open. The report files,
// the trace file and the cat action used to drop that handle: the stream,
// its descriptor and the file manager entry stayed taken for the rest of
// the process.

namespace {

// Handles of the file manager that are in use.
int EntriesInUse() {
    int n = 0;
    for (int h = 0; h < ERRM_FM_ENTRIES; ++h)
        n += errm_FM_InUse(h);
    return n;
}

} // namespace

TEST(FileNameCopyFailure, ReportFileIsClosedAndOpensOnTheNextLine) {
    Library lib(true);
    errmdesc::Message m = Msg(1, kError, "to the log", {kLog});
    ASSERT_EQ(lib.Load(Cat("SIM", {m})), 0);
    StdoutCapture out;
    const int entries = EntriesInUse();
    const int fds = OpenDescriptors();
    errm_TestFailAllocation(1); // the name copy of the LOG file
    const int failed = ERRM_ProcessError(0, 1);
    const int tag = errm_TestFailedTag();
    errm_TestFailAllocation(0);
    const int entriesAfter = EntriesInUse(), fdsAfter = OpenDescriptors();
    const int next = ERRM_ProcessError(0, 1);
    const int entriesNext = EntriesInUse();
    const std::string text = out.Text();
    EXPECT_EQ(failed, ERRM_E_REPORTS);
    EXPECT_EQ(tag, ERRM_TAG_FM_NAME + entries);
    EXPECT_EQ(entriesAfter, entries);
    EXPECT_EQ(fdsAfter, fds);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(entriesNext, entries + 1);
    EXPECT_NE(text.find("Open file failure for " + lib.file("run.log")), std::string::npos);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")), "** Error: (SIM - 1) to the log\n");
}

TEST(FileNameCopyFailure, TraceFileIsClosedWhenItsNameCannotBeKept) {
    Library lib(true);
    WriteDescriptor(Cat("SIM", {Msg(1, kError, "x")}), lib.dir().path());
    StdoutCapture out;
    const int entries = EntriesInUse();
    const int fds = OpenDescriptors();
    errm_TestFailAllocation(1); // the name copy of the trace file
    int index = -1;
    const int failed = ERRM_ReadErrorDescriptor("sim", &index);
    errm_TestFailAllocation(0);
    const int entriesAfter = EntriesInUse(), fdsAfter = OpenDescriptors();
    // The next load opens the trace and loads.
    const int next = ERRM_ReadErrorDescriptor("sim", &index);
    const int entriesNext = EntriesInUse();
    const std::string text = out.Text();
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(entriesAfter, entries);
    EXPECT_EQ(fdsAfter, fds);
    EXPECT_EQ(next, 0);
    EXPECT_EQ(entriesNext, entries + 1);
    EXPECT_NE(text.find("Open file failure for "), std::string::npos);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(EntriesInUse(), entries);
}

TEST(FileNameCopyFailure, CatFileIsClosedAndTheFailureShown) {
    Library lib(true);
    WriteFile(lib.file("cat.txt"), "content\n");
    errmdesc::Message m = Msg(1, kNote, "with a file", {kLog});
    m.cat = "FILE=" + lib.file("cat.txt");
    ASSERT_EQ(lib.Load(Cat("SIM", {m})), 0);
    StdoutCapture out;
    const int first = ERRM_ProcessError(0, 1); // opens the LOG file
    const int entries = EntriesInUse();
    const int fds = OpenDescriptors();
    errm_TestFailAllocation(1); // the name copy of cat.txt
    const int failed = ERRM_ProcessError(0, 1);
    errm_TestFailAllocation(0);
    const int entriesAfter = EntriesInUse(), fdsAfter = OpenDescriptors();
    const std::string text = out.Text();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(entriesAfter, entries);
    EXPECT_EQ(fdsAfter, fds);
    EXPECT_NE(text.find("Open file failure for " + lib.file("cat.txt")), std::string::npos);
    EXPECT_NE(text.find("cat file error for " + lib.file("cat.txt")), std::string::npos);
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string log = AfterHeader(lib.Report(".log"));
    EXPECT_EQ(Count(log, "content\n"), 1) << log;
    EXPECT_EQ(Count(log, "Error in cat for " + lib.file("cat.txt")), 1) << log;
}
