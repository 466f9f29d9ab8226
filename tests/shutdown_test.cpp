// shutdown_test.cpp - ERRM_FInit: what it closes and releases, what it
// leaves to the client, its result, the settings that survive it, and the
// cycle that may follow.
#include "api_support.h"
#include "base/errm_alloc.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace errmtest;

namespace {

std::string TraceFile(const Library &lib) {
    return lib.file("errm_dll_trace_" + std::to_string(getpid()) + ".txt");
}

// The stream whose close is made to fail; every other close is real.
std::FILE *g_failingStream = nullptr;
int FailingFclose(std::FILE *f) {
    if (f == g_failingStream) return EOF;
    return errm_SysDefault.fclose(f);
}

} // namespace

TEST(Shutdown, ClosesTheReportFilesAndLeavesClientStreamsOpen) {
    Library lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "line %d", {kReport, kLog, kChi})}));
    std::FILE *chi = std::fopen(lib.file("chi.txt").c_str(), "w+");
    ASSERT_NE(chi, nullptr);
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    ERRM_ProcessError(ss, 1, 1);
    ERRM_ProcessError(ss, 1, 2);
    EXPECT_EQ(FdsOpenOn(lib.file("run.rep")), 1);
    EXPECT_EQ(FdsOpenOn(lib.file("run.log")), 1);

    StdoutCapture out;
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(FdsOpenOn(lib.file("run.rep")), 0);
    EXPECT_EQ(FdsOpenOn(lib.file("run.log")), 0);
    const std::string lines = "** Error: (SIM - 1) line 1\n** Error: (SIM - 1) line 2\n";
    EXPECT_EQ(AfterHeader(lib.Report(".rep")), lines);
    EXPECT_EQ(AfterHeader(lib.Report(".log")), lines);

    // The client's stream stays open and usable, and standard output too.
    EXPECT_EQ(FdsOpenOn(lib.file("chi.txt")), 1);
    EXPECT_NE(std::fputs("client line\n", chi), EOF);
    EXPECT_EQ(StreamText(chi), "ERROR 1:line 1\nERROR 1:line 2\nclient line\n");
    StdoutCapture after;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, 0x1, "", "still here\n"), 1u);
    EXPECT_EQ(after.Text(), "still here\n");
    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    std::fclose(chi);
}

TEST(Shutdown, SecondFInitReturnsZeroAndWritesNothing) {
    Library lib(true);
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "once", {kReport, kTranscript})}));
    ERRM_ProcessError(ss, 1);
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string report = lib.Report(".rep");
    const std::string transcript = lib.Report(".tra");
    const std::string trace = ReadFile(TraceFile(lib));
    const int blocks = errm_AllocationCount();
    StdoutCapture out;
    EXPECT_EQ(ERRM_FInit(), 0);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(lib.Report(".rep"), report);
    EXPECT_EQ(lib.Report(".tra"), transcript);
    EXPECT_EQ(ReadFile(TraceFile(lib)), trace);
    EXPECT_EQ(errm_AllocationCount(), blocks);
}

TEST(Shutdown, WithoutASuccessfulInitReturnsZero) {
    ScopedEnv debug("KOVA_ERRM_LDBG", std::nullopt);
    {
        StdoutCapture out;
        EXPECT_EQ(ERRM_FInit(), 0);
        EXPECT_EQ(out.Text(), "");
    }
    ScopedEnv platform("ORV_VCO", std::nullopt);
    StdoutCapture out;
    EXPECT_EQ(ERRM_Init(), 0);
    EXPECT_EQ(ERRM_FInit(), 0);
    EXPECT_EQ(out.Text(), "Error ORV_VCO not set\n");
}

TEST(Shutdown, ReleasesEveryLoadedDescriptor) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("AAA", {Msg(1, kError, "a")})), 0);
    ASSERT_EQ(lib.Load(Cat("BBB", {Msg(1, kError, "b"), Msg(2, kError, "c")})), 1);
    const std::string a = lib.file("errm_desc_AAA.bin"), b = lib.file("errm_desc_BBB.bin");
    // Loaded descriptors are copies: their files are neither open nor mapped.
    EXPECT_EQ(FdsOpenOn(a), 0);
    EXPECT_EQ(FdsOpenOn(b), 0);
    EXPECT_EQ(MappingsOf(a), 0);
    EXPECT_EQ(MappingsOf(b), 0);
    const int blocks = errm_AllocationCount();

    EXPECT_EQ(ERRM_FInit(), 1);
    // Three blocks per subsystem and the Return buffer.
    EXPECT_EQ(errm_AllocationCount(), blocks - 7);
    EXPECT_EQ(FdsOpenOn(a), 0);
    EXPECT_EQ(FdsOpenOn(b), 0);
    EXPECT_EQ(MappingsOf(a), 0);
    EXPECT_EQ(MappingsOf(b), 0);
    EXPECT_EQ(errm_Subsystems[0].loaded, 0);
    EXPECT_EQ(errm_Subsystems[1].loaded, 0);
    EXPECT_EQ(errm_G.ReturnBuffer, nullptr);
}

TEST(Shutdown, TraceFileIsCompleteAndClosedAndLaterLinesOnlyEcho) {
    Library lib(true);
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "to transcript", {kTranscript})}));
    StdoutCapture out;
    EXPECT_EQ(ERRM_ProcessError(ss, 99), 1024);
    EXPECT_EQ(ERRM_ProcessError(ss, 1), 0);
    EXPECT_EQ(ERRM_FInit(), 1);
    const std::string trace = ReadFile(TraceFile(lib));
    EXPECT_EQ(Masked(trace), "DLL-E(  1): Error DLL: 1024 Error number 99 not found" + kDescriptor +
                                 "DLL(  2): C_REPORT_TRANSCRIPT\n");
    EXPECT_EQ(FdsOpenOn(TraceFile(lib)), 0);

    // Nothing reaches the closed trace: trace lines and internal errors only
    // keep their console echo.
    errm_TraceAdd("late line\n");
    EXPECT_EQ(ERRM_ProcessError(ss, 1), 1050);
    EXPECT_EQ(ReadFile(TraceFile(lib)), trace);
    EXPECT_EQ(Masked(out.Text()),
              ErrLine(1, "Error number 99 not found" + kDescriptor) +
                  "DLL(  2): C_REPORT_TRANSCRIPT\nDLL(  3): late line\n" +
                  ErrLine(4, "MEMORY file not yet read @ src/descriptor/L=#\n"));
    EXPECT_EQ(FdsOpenOn(TraceFile(lib)), 0);
}

TEST(Shutdown, SettingsAndTheDelayedCountSurvive) {
    Library lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kErrorDelayed, "d")}));
    ERRM_Get_ErrorMessage(ss, 1);
    const unsigned delayed = ERRM_GetNumberOfDelayedErrors();
    ERRM_AddNL(0);
    ERRM_Set_GlobalVerboseMode(0);
    ERRM_Set_GlobalNbrMaxOfMessages(5);
    ERRM_Set_NUSKMode(1);
    ASSERT_EQ(ERRM_Set_SearchPath("SOME_PATH"), 1);
    ASSERT_EQ(ERRM_Set_TranScriptFileName(lib.file("other.tra").c_str()), 1);
    ASSERT_EQ(ERRM_Set_RootReportFiles(lib.file("other").c_str()), 1);
    ASSERT_EQ(ERRM_FInit(), 1);

    EXPECT_EQ(errm_G.FAddNL, 0);
    EXPECT_EQ(errm_G.GlobalVerboseMode, 0);
    EXPECT_EQ(errm_G.GlobalNbrMaxOfMessages, 5);
    EXPECT_EQ(errm_G.NUSKMode, 1);
    EXPECT_STREQ(errm_G.SearchPath, "SOME_PATH");
    EXPECT_EQ(errm_G.TranScriptFileName, lib.file("other.tra"));
    EXPECT_EQ(errm_G.RootReportFiles, lib.file("other"));
    EXPECT_EQ(errm_G.RootForMemoryDescriptor, lib.dir().path() + "/");
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), delayed);

    // The next cycle works with them.
    ASSERT_EQ(ERRM_Init(), 1);
    int again = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("SIM", &again), 0);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(again, 1), "ERROR 1:d\n");
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), delayed + 1);
    ERRM_FInit();
}

TEST(Shutdown, NextCycleContinuesTheIndexesAndStartsWithoutCurrentEntry) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("AAA", {Msg(1, kError, "a")})), 0);
    ASSERT_EQ(lib.Load(Cat("BBB", {Msg(1, kError, "b")})), 1);
    StdoutCapture out;
    EXPECT_EQ(ERRM_ProcessError(1, 1), 0);
    ASSERT_EQ(ERRM_FInit(), 1);
    ASSERT_EQ(ERRM_Init(), 1);
    // The message processed last is gone with its cycle: the failure below
    // writes no "not present" line.
    EXPECT_EQ(ERRM_ProcessError(0, 1), 1050);
    EXPECT_EQ(ERRM_ProcessError(1, 1), 1050);
    EXPECT_EQ(lib.Load(Cat("BBB", {Msg(1, kError, "b")})), 2);
    EXPECT_EQ(lib.Load(Cat("AAA", {Msg(1, kError, "a")})), 3);
    EXPECT_EQ(ERRM_ProcessError(2, 1), 0);
    EXPECT_EQ(ERRM_ProcessError(3, 1), 0);
    EXPECT_EQ(out.Text(), "** Error: (BBB - 1) b\n** Error: (BBB - 1) b\n** Error: (AAA - 1) a\n");
    ERRM_FInit();
}

TEST(Shutdown, ReportFileThatFailsToCloseIsReportedAndMarkedClosed) {
    SysGuard guard;
    Library lib(true);
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "cycle %d", {kReport})}));
    ERRM_ProcessError(ss, 1, 1);
    const int handle = errm_Reports[ERRM_CH_REPORT].handle;
    g_failingStream = errm_FM_Stream(handle);
    ASSERT_NE(g_failingStream, nullptr);
    errm_Sys.fclose = FailingFclose;

    StdoutCapture out;
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(Masked(out.Text()), "FM error close, F=" + lib.file("run.rep") + " E=1027\n" +
                                      ErrLine(1, "CLOSE file failure for REP=  5" + kReports));
    EXPECT_EQ(errm_Reports[ERRM_CH_REPORT].opened, 0);
    EXPECT_EQ(errm_Reports[ERRM_CH_REPORT].handle, -1);
    errm_SysRestore();
    std::fclose(g_failingStream);

    // The row is free: the next cycle opens the file again.
    ASSERT_EQ(ERRM_Init(), 1);
    int again = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("SIM", &again), 0);
    ERRM_ProcessError(again, 1, 2);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".rep")), "** Error: (SIM - 1) cycle 2\n");
}

TEST(Shutdown, SearchPathIsBuiltAgainInTheNextCycle) {
    Library lib;
    const std::string a = lib.file("a"), b = lib.file("b");
    std::filesystem::create_directories(a);
    std::filesystem::create_directories(b);
    WriteFile(a + "/errm-probe.txt", "from a\n");
    WriteFile(b + "/errm-probe.txt", "from b\n");
    ScopedEnv pathA("ERRM_PROBE_PATH", a);
    ASSERT_EQ(ERRM_Set_SearchPath("ERRM_PROBE_PATH"), 1);
    errmdesc::Message m = Msg(1, kNote, "probe");
    m.cat = "FILE=errm-probe.txt";
    const errmdesc::Catalogue cat = Cat("SIM", {m});
    const int blocks = errm_AllocationCount();
    // What one occurrence prints: the line, the search (which builds the
    // list the first time), and the file found.
    auto occurrence = [](const std::string &dir, int listed, const std::string &content) {
        std::string text = "** Note: (SIM - 1) probe\n";
        text += "errm_FM_FindFileInPath, V_MAX_PATH=" + std::to_string(listed) + "\n";
        if (listed == 0) text += "errm_FM_GetListOfPaths for ERRM_PROBE_PATH\npath=" + dir + "/\n";
        return text + "-- cat " + dir + "/errm-probe.txt -- \n" + content + "-- EOF -- \n";
    };
    int ss = lib.Load(cat);

    StdoutCapture first;
    ERRM_ProcessError(ss, 1);
    EXPECT_EQ(first.Text(), occurrence(a, 0, "from a\n"));
    ASSERT_EQ(ERRM_FInit(), 1);

    ScopedEnv pathB("ERRM_PROBE_PATH", b);
    ASSERT_EQ(ERRM_Init(), 1);
    ss = lib.Load(cat);
    StdoutCapture second;
    ERRM_ProcessError(ss, 1);
    ERRM_ProcessError(ss, 1);
    EXPECT_EQ(second.Text(), occurrence(b, 0, "from b\n") + occurrence(b, 1, "from b\n"));
    ASSERT_EQ(ERRM_FInit(), 1);
    // The directory lists of both cycles and both Return buffers are gone.
    EXPECT_EQ(errm_AllocationCount(), blocks - 1);
}
