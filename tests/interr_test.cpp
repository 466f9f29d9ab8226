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

struct CatalogueText {
    int code;
    const char *text;
};

// The catalogue as documented, one row per code.
constexpr CatalogueText kExpected[] = {
    {1000, "?\n"},
    {1001, "Too many env vars =%d @ %s/L=%d\n"},
    {1002, "ENV variable \"%s\" is not set @ F=%s/L=%d\n"},
    {1003, "Get adresses from DLL failure for %d values\n"},
    {1004, "Program arguments invalid\n"},
    {1005, "SHARED LIB attach failure %s\n"},
    {1006, "Invalide attribute value for %s (after error=%d)\n"},
    {1007, "Duplicate error found in %s (after error=%d)\n"},
    {1008, "Var %s not found in config @ F=%s/L=%d\n"},
    {1009, "ADD entry invalid = %s (after err=%d)\n"},
    {1010, "CHAR entry invalid = %s @ F=%s/L=%d\n"},
    {1011, "Choice invalid = %s for %s (after err=%d)\n"},
    {1012, "CMD entry invalid = %s (after err=%d)\n"},
    {1013, "Manual entry invalid = %s (after err=%d)\n"},
    {1014, "Numeric value invalid = %s @ F=%s/L=%d\n"},
    {1015, "PARENT %s not found(after error=%d)\n"},
    {1016, "Non decimal for PARENT %s (after error=%d)\n"},
    {1017, "Non decimal for RC %s (after error=%d)\n"},
    {1018, "report specification invalid = %s (after error=%d)\n"},
    {1019, "START STR entry invalid = %s @ F=%s/L=%d\n"},
    {1020, "TIME entry invalid = %s (after err=%d)\n"},
    {1021, "Verbose entry invalid = %s (after err=%d)\n"},
    {1022, "SHARED LIB detach failure %s\n"},
    {1023, "Code %s invalid (after err=%d)\n"},
    {1024, "Error number %d not found @ F=%s/L=%d\n"},
    {1025, "In descriptor %d invalid @ F=%s/L=%d\n"},
    {1026, "Change ext failure for \"%s\" \n"},
    {1027, "FM error close, F=%s E=%d\n"},
    {1028, "FM error, no entry found F=%s E=%d\n"},
    {1029, "FM error, file not opened FileName=%s E=%d\n"},
    {1030, "FM error open, F=%s E=%d\n"},
    {1031, "FM error read, F=%s E=%d\n"},
    {1032, "FM error write, F=%s E=%d\n"},
    {1033, "FMT not present @ F=%s/L=%d\n"},
    {1034, "Allocation of global ERR descriptor %s\n"},
    {1035, "Invalid allocation for %s (after error=%d)\n"},
    {1036, "%s on attribute (after error=%d)\n"},
    {1037, "GEN FMT not present @ F=%s/L=%d\n"},
    {1038, "Invalid numeric field %s (after error=%d)\n"},
    {1039, "Not all fields presents in ERR descriptor=%s\n"},
    {1040, "Invalid SS name for %s (after error=%d)\n"},
    {1041, "Modify the #define C_MAX_ERROR_ENTRIES = %d\n"},
    {1042, "Write ERR descriptor in memory %s\n"},
    {1043, "GET shared adresses failure %s\n"},
    {1044, "Error section full in .xml file %d @ F=%s/L=%d\n"},
    {1045, "Error too many sections in .xml file %d @ F=%s/L=%d\n"},
    {1046, "Internal error for %s @ F=%s/L=%d\n"},
    {1047, "Too many SS=%d @ F=%s/L=%d\n"},
    {1048, "MAGIC number invalid in SB=%lld @ F=%s/L=%d\n"},
    {1049, "MD5 number invalid in SB=%d = %d @ F=%s/L=%d\n"},
    {1050, "MEMORY file not yet read @ %s/L=%d\n"},
    {1051, "MEMORY file not found in config for %s @ F=%s/L=%d\n"},
    {1052, "Sub system not set @ F=%s/L=%d\n"},
    {1053, "Platform %s invalid @ F=%s/L=%d\n"},
    {1054, "Failure reading descriptor for ss=%s @ F=%s/L=%d\n"},
    {1055, "Severity code %d invalid (after err=%d)\n"},
    {1056, "Severity code=%d invalid @ F=%s/L=%d\n"},
    {1057, "Set file error for %s\n"},
    {1058, "Reports %s @ F=%s/L=%d\n"},
    {1059, "Size too big for %s (after error=%d)\n"},
    {1060, "Size too small for %s (after error=%d)\n"},
    {1061, "SS name invalid = %s (after error=%d)\n"},
    {1062, "SS from arg=\"%s\" and SS from XML=\"%s\" are not identical\n"},
    {1063, "Size var too small for %s (after err=%d)\n"},
    {1064, "Index %d invalid for sub system @ F=%s/L=%d\n"},
    {1065, "cat file error for %s @ F=%s/L=%d\n"},
    {1066, "CLOSE file failure for %s @ F=%s/L=%d\n"},
    {1067, "File %s not found @ F=%s/L=%d\n"},
    {1068, "Memory allocation failure for %s @ F=%s/L=%d\n"},
    {1069, "MAP file failure for %s @ F=%s/L=%d\n"},
    {1070, "ptr %s is NULL @ F=%s/L=%d\n"},
    {1071, "Open file failure for %s @ F=%s/L=%d\n"},
    {1072, "Index above size for %s @ F=%s/L=%d\n"},
    {1073, "printf report too many chars for the space for %s @ F=%s/L=%d\n"},
    {1074, "READ file failure for %s @ F=%s/L=%d\n"},
    {1075, "READ MAPPED file failure for %s @ F=%s/L=%d\n"},
    {1076, "Rename error on file %s @ F=%s/L=%d\n"},
    {1077, "String cat overflow %s @ F=%s/L=%d\n"},
    {1078, "Size error on copy found in %s @ F=%s/L=%d\n"},
    {1079, "WRITE file failure for %s @ F=%s/L=%d\n"},
    {1080, "Probem in XML file : %s (non existant, bad chars?) @ F=%s/L=%d\n"},
    {1081, "Test error with %d and %s @ F=%s/L=%d\n"},
    {1082, "TRACE DLL file name not found in config for %s @ F=%s/L=%d\n\n"},
    {1083, "TRACE file not found in config for %s @ F=%s/L=%d\n"},
    {1084, "VERSION number old: GENV=%d, MINV=%d @ F=%s/L=%d\n"},
    {1085, "VERSION number switch to MINV=%d @ F=%s/L=%d\n"},
    {1086, "XML file not found in config for %s @ F=%s/L=%d\n"},
    {1087, "Nbr fields for %s invalid = %s (after error=%d)\n"},
    {1088, "XML parsing error = %d\n"},
    {1089, "Remove quotes error for %s (after error=%d)\n"},
    {1090, "SAX decoding error %s @ F=%s/L=%d\n"},
    {1091, "SAX decoding fatal error %s @ F=%s/L=%d\n"},
    {1092, "SAX decoding warning %s @ F=%s/L=%d\n"},
    {1093, "Syntax error in XML file=%s\n"},
    {1094, "Update dir error (after error=%d)\n"},
    {1095, "Report %d not opened @ F=%s/L=%d\n"},
    {1096, "The field %s is not present in the XML descriptor\n"},
    {1097, "Syntax error in scenario %s @ F=%s/L=%d\n"},
    {1098, "String %s is not defined (length=0) @ F=%s/L=%d\n"},
    {1099, "String severity %s is invalid (not TRACE or DEBUG) @ F=%s/L=%d\n"},
    {1100, "Warning: %s  @ F=%s/L=%d\n"},
    {1101, "?\n"},
};
static_assert(sizeof kExpected / sizeof kExpected[0] == 102, "codes 1000 to 1101");

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

TEST(Catalogue, HoldsEveryCodeInOrderWithItsText) {
    for (const CatalogueText &row : kExpected) {
        const char *text = errm_InternalErrorText(row.code);
        ASSERT_NE(text, nullptr) << row.code;
        EXPECT_STREQ(text, row.text) << row.code;
    }
    for (int code = ERRM_E_FIRST; code <= ERRM_E_LAST; ++code)
        EXPECT_EQ(kExpected[code - ERRM_E_FIRST].code, code);
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
