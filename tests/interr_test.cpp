// interr_test.cpp - the internal error catalogue and the reporting of
// internal errors on the trace file and standard output.
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "base/errm_trace.h"
#include "errm.h"
#include "frame_support.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "test_support.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>

using errmtest::MaskLines;
using errmtest::ReadFile;
using errmtest::ScopedEnv;
using errmtest::StdoutCapture;
using errmtest::TempDir;

namespace {

// Trace switched on and its file opened in a temporary directory.
class TraceOpen : public ::testing::Test {
  protected:
    void SetUp() override {
        errm_G.FTraceDLL = 1;
        errm_G.FConsoleOut = 0;
        ASSERT_EQ(errm_StrCopy(errm_G.DebugPath, sizeof errm_G.DebugPath, dir_.path().c_str()), 1);
        ASSERT_EQ(errm_OpenDllTrace(), 1);
        ASSERT_EQ(errm_G.FTraceOpened, 1);
    }
    void TearDown() override {
        errm_G.FConsoleOut = 0;
        errm_CloseDllTrace();
        errm_G.FTraceDLL = 0;
        errm_G.FTraceClosedByFInit = 0;
    }
    std::string Trace() const { return ReadFile(errm_TraceFileName()); }

    TempDir dir_;
};

} // namespace

// ---------------------------------------------------------------- catalogue

// Reports as the trace shows them: each shape of argument list the library
// passes, the line it gives, and the codes whose text ends otherwise.
struct ReportCase {
    int code;
    std::string line; // after "DLL-E(  n): Error DLL: "
    void (*report)();
};

const ReportCase kReports[] = {
    {1001, "1001 Too many env vars =32 @ src/d/L=7\n",
     [] { errm_ReportInternalError(1001, 32, "src/d", 7); }},
    {1024, "1024 Error number -5 not found @ F=src/d/L=7\n",
     [] { errm_ReportInternalError(1024, -5, "src/d", 7); }},
    {1030, "1030 FM error open, F=a.log E=1030\n",
     [] { errm_ReportInternalError(1030, "a.log", 1030); }},
    {1048, "1048 MAGIC number invalid in SB=4294967295 @ F=src/d/L=7\n",
     [] { errm_ReportInternalError(1048, 4294967295LL, "src/d", 7); }},
    {1049, "1049 MD5 number invalid in SB=15 = 255 @ F=src/d/L=7\n",
     [] { errm_ReportInternalError(1049, 15, 255, "src/d", 7); }},
    {1050, "1050 MEMORY file not yet read @ src/d/L=7\n",
     [] { errm_ReportInternalError(1050, "src/d", 7); }},
    {1060, "1060 Size too small for FMT size (after error=1023)\n",
     [] { errm_ReportInternalError(1060, "FMT size", 1023); }},
    {1082, "1082 TRACE DLL file name not found in config for t @ F=src/d/L=7\n\n",
     [] { errm_ReportInternalError(1082, "t", "src/d", 7); }},
    {1084, "1084 VERSION number old: GENV=3, MINV=100 @ F=src/d/L=7\n",
     [] { errm_ReportInternalError(1084, 3, 100, "src/d", 7); }},
    {1000, "1000 ?\n", [] { errm_ReportInternalError(1000); }},
    {1101, "1101 ?\n", [] { errm_ReportInternalError(1101); }},
};

TEST_F(TraceOpen, ReportLinesShowTheirCatalogueTexts) {
    std::string expected;
    int n = 0;
    for (const ReportCase &c : kReports) {
        c.report();
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "DLL-E(%3d): Error DLL: ", ++n);
        expected += prefix + c.line;
    }
    EXPECT_EQ(Trace(), expected);
}

// Every code of the range has a text, one report a line: it ends with its
// line feed, and a text that names its source place ends the way the
// reporting macro fills it.
TEST(Catalogue, EveryCodeHasALineOfItsOwn) {
    for (int code = ERRM_E_FIRST; code <= ERRM_E_LAST; ++code) {
        const std::string text = errm_InternalErrorText(code);
        SCOPED_TRACE(code);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        if (text.find("@ ") != std::string::npos) {
            EXPECT_NE(text.find("/L=%d\n"), std::string::npos);
        }
    }
}

TEST(Catalogue, HasNoTextOutsideItsRange) {
    for (int code : {0, -1, 999, 1102, INT_MIN, INT_MAX})
        EXPECT_EQ(errm_InternalErrorText(code), nullptr) << code;
    EXPECT_STREQ(errm_InternalErrorText(1000), "?\n");
    EXPECT_STREQ(errm_InternalErrorText(1101), "?\n");
}

// ---------------------------------------------------------------- reporting

TEST(Reporting, WritesNothingAndCountsNothingWhileTheTraceIsOff) {
    errm_G.FTraceDLL = 0;
    errm_G.FConsoleOut = 1;
    const int number = errm_G.TraceLineNumber;
    StdoutCapture out;
    errm_ReportInternalError(1053, "??", "src/x", 1);
    errm_ReportInternalError(999);
    errm_ReportInternalError(1066, "FDLLTRACE", "src/x", 2);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_G.TraceLineNumber, number);
}

TEST_F(TraceOpen, ReportGoesOnTheTraceAndIsEchoedWithConsoleOut) {
    errm_TraceAdd("before\n");
    errm_G.FConsoleOut = 1;
    StdoutCapture out;
    errm_ReportInternalError(1053, "??", "src/x", 12);
    EXPECT_EQ(out.Text(), "DLL-E(  2): Platform ?? invalid @ F=src/x/L=12\n");
    EXPECT_EQ(Trace(), "DLL(  1): before\n"
                       "DLL-E(  2): Error DLL: 1053 Platform ?? invalid @ F=src/x/L=12\n");
    EXPECT_EQ(errm_G.TraceLineNumber, 2);
}

TEST_F(TraceOpen, ReportWithoutConsoleOutStaysOffStandardOutput) {
    StdoutCapture out;
    errm_ReportInternalError(1071, "a.log", "src/y", 7);
    errm_ReportInternalError(1048, 0x1234567890LL, "src/z", 8);
    errm_ReportInternalError(1049, 3, 200, "src/z", 9);
    errm_ReportInternalError(1006, "attr", 1005);
    errm_ReportInternalError(1062, "ONE", "TWO");
    errm_ReportInternalError(1082, "name", "src/z", 10);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(Trace(), "DLL-E(  1): Error DLL: 1071 Open file failure for a.log @ F=src/y/L=7\n"
                       "DLL-E(  2): Error DLL: 1048 MAGIC number invalid in SB=78187493520 "
                       "@ F=src/z/L=8\n"
                       "DLL-E(  3): Error DLL: 1049 MD5 number invalid in SB=3 = 200 "
                       "@ F=src/z/L=9\n"
                       "DLL-E(  4): Error DLL: 1006 Invalide attribute value for attr "
                       "(after error=1005)\n"
                       "DLL-E(  5): Error DLL: 1062 SS from arg=\"ONE\" and SS from "
                       "XML=\"TWO\" are not identical\n"
                       "DLL-E(  6): Error DLL: 1082 TRACE DLL file name not found in config "
                       "for name @ F=src/z/L=10\n\n");
}

TEST_F(TraceOpen, CodesWithoutTextAreReportedAsQuestionMark) {
    errm_G.FConsoleOut = 1;
    StdoutCapture out;
    errm_ReportInternalError(999);
    errm_ReportInternalError(1102, "ignored", 5);
    errm_ReportInternalError(1000);
    errm_ReportInternalError(1101);
    EXPECT_EQ(out.Text(), "DLL-E(  1): ?\nDLL-E(  2): ?\nDLL-E(  3): ?\nDLL-E(  4): ?\n");
    EXPECT_EQ(Trace(), "DLL-E(  1): Error DLL: 999 ?\n"
                       "DLL-E(  2): Error DLL: 1102 ?\n"
                       "DLL-E(  3): Error DLL: 1000 ?\n"
                       "DLL-E(  4): Error DLL: 1101 ?\n");
}

TEST_F(TraceOpen, ReportsAndTraceLinesShareOneCounter) {
    errm_ReportInternalError(1052, "src/a", 1);
    errm_TraceAdd("between %d\n", 7);
    errm_ReportInternalError(1052, "src/a", 2);
    errm_G.TraceLineNumber = 998;
    errm_ReportInternalError(1052, "src/a", 3);
    errm_TraceAdd("wide\n");
    errm_ReportInternalError(1052, "src/a", 4);
    EXPECT_EQ(Trace(), "DLL-E(  1): Error DLL: 1052 Sub system not set @ F=src/a/L=1\n"
                       "DLL(  2): between 7\n"
                       "DLL-E(  3): Error DLL: 1052 Sub system not set @ F=src/a/L=2\n"
                       "DLL-E(999): Error DLL: 1052 Sub system not set @ F=src/a/L=3\n"
                       "DLL(1000): wide\n"
                       "DLL-E(1001): Error DLL: 1052 Sub system not set @ F=src/a/L=4\n");
}

TEST_F(TraceOpen, OverlongReportIsCutAndEndsTheLine) {
    const std::string name(3000, 'n');
    errm_G.FConsoleOut = 1;
    StdoutCapture out;
    errm_ReportInternalError(1067, name.c_str(), "src/a", 1);
    const std::string text = "File " + name.substr(0, 2694 - 5) + "\n";
    EXPECT_EQ(out.Text(), "DLL-E(  1): " + text);
    EXPECT_EQ(Trace(), "DLL-E(  1): Error DLL: 1067 " + text);
    // A report of exactly 2695 characters is kept whole; one more is cut.
    errm_G.FConsoleOut = 0;
    const std::string fits(2695 - 26, 'f'); // "File " and " not found @ F=a/L=1\n" around it
    errm_ReportInternalError(1067, fits.c_str(), "a", 1);
    errm_ReportInternalError(1067, (fits + "g").c_str(), "a", 1);
    EXPECT_EQ(Trace(), "DLL-E(  1): Error DLL: 1067 " + text + "DLL-E(  2): Error DLL: 1067 File " +
                           fits + " not found @ F=a/L=1\n" + "DLL-E(  3): Error DLL: 1067 File " +
                           fits + "g not found @ F=a/L=\n");
}

TEST_F(TraceOpen, LibraryReportsNameTheirSourceFolder) {
    ScopedEnv vco("ORV_VCO", "nope");
    ASSERT_EQ(ERRM_Init(), 0);
    int index = -5;
    ASSERT_EQ(ERRM_ReadErrorDescriptor(nullptr, &index), ERRM_E_NULL);
    EXPECT_EQ(index, -5);
    ASSERT_EQ(errm_StrCopy(errm_G.RootReportFiles, sizeof errm_G.RootReportFiles,
                           (dir_.path() + "/missing/run").c_str()),
              1);
    StdoutCapture out;
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_LOG), 0);
    EXPECT_EQ(out.Text(), "FM error open, F=" + dir_.path() + "/missing/run.log E=1030\n");
    EXPECT_EQ(MaskLines(Trace()),
              "DLL-E(  1): Error DLL: 1053 Platform ?? invalid "
              "@ F=src/err_mgt/errm_shared/L=#\n"
              "DLL-E(  2): Error DLL: 1070 ptr subsystem is NULL @ F=src/descriptor/L=#\n"
              "DLL-E(  3): Error DLL: 1071 Open file failure for " +
                  dir_.path() + "/missing/run.log @ F=src/reports/L=#\n");
}

TEST(Reporting, OnlyThePrefixReachesStandardOutputWhileTheTraceIsNotOpen) {
    errm_G.FTraceDLL = 1;
    errm_G.FConsoleOut = 0;
    ASSERT_EQ(errm_G.TraceFileHandle, -1);
    {
        StdoutCapture out;
        errm_ReportInternalError(1053, "??", "src/x", 3);
        EXPECT_EQ(out.Text(), "DLL-E(  2): ");
    }
    errm_G.FConsoleOut = 1;
    {
        StdoutCapture out;
        errm_ReportInternalError(1053, "??", "src/x", 4);
        EXPECT_EQ(out.Text(), "DLL-E(  3): DLL-E(  3): Platform ?? invalid @ F=src/x/L=4\n");
    }
    EXPECT_EQ(errm_G.TraceLineNumber, 3);
    EXPECT_EQ(errm_G.FTraceOpened, 0) << "reporting does not open the trace";
}

TEST(Reporting, ReportsAfterFInitReachNoFile) {
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", dir.path() + ";0:0:0:0:0:1");
    ASSERT_EQ(ERRM_Init(), 1);
    errm_TraceAdd("cycle\n");
    const std::string traceName = errm_TraceFileName();
    const int traceHandle = errm_G.TraceFileHandle;
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string trace = ReadFile(traceName);
    ASSERT_EQ(trace, "Error, open errm_TraceAdd\nDLL(  1): cycle\n");

    // The closed trace's file manager entry is the first free one again.
    int handle = -1;
    ASSERT_EQ(errm_FM_Open(dir.file("other.txt").c_str(), 'w', 0, &handle), 0);
    ASSERT_EQ(handle, traceHandle);
    ASSERT_EQ(errm_FM_SetInfo(handle, 'f', 1), 0);
    StdoutCapture out;
    errm_ReportInternalError(1066, "REP=  5", "src/x", 1);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(ReadFile(dir.file("other.txt")), "");
    EXPECT_EQ(ReadFile(traceName), trace);
    EXPECT_EQ(errm_FM_Close(handle), 0);
}

// ------------------------------------------------------------------ console

TEST(Console, PrintfAndPutsWriteExactlyTheirTextAndFlush) {
    StdoutCapture out;
    EXPECT_EQ(errm_ConsolePrintf("a=%d b=%s", 5, "x"), 0);
    EXPECT_EQ(errm_ConsolePuts("no line feed"), 0);
    EXPECT_EQ(errm_ConsolePuts("\n"), 0);
    EXPECT_EQ(errm_ConsolePuts(""), 0);
    EXPECT_EQ(errm_ConsolePrintf("%s\n", "end"), 0);
    EXPECT_EQ(out.Text(), "a=5 b=xno line feed\nend\n");
}
