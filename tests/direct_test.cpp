// direct_test.cpp - ERRM_DirectProcessError: argument checks, the severity
// letter, the trace level read from the environment, the direct line's
// layout and length, and the channels chosen by report letters.
#include "api_support.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <cstdarg>

using namespace errmtest;

namespace {

unsigned DirectV(const char *severity, const char *reports, const char *var, int level,
                 const char *format, ...) {
    va_list args;
    va_start(args, format);
    unsigned rc = ERRM_DirectProcessError_variadic(severity, reports, var, level, format, args);
    va_end(args);
    return rc;
}

// The five pipe lines of a direct TRACE line.
std::string PipeLines(const std::string &line) {
    return "TCL ERR= -1 \nTCL ERR= 5 \nTCL SS = DIRECT \nTCL MSG= " + line + " \nTCL GEN=  \n";
}

// A library with the trace open and echoed, so that internal errors show on
// standard output numbered from 1.
struct TracedLibrary {
    Library lib{true};
    TracedLibrary() { errm_OpenDllTrace(); }
};

} // namespace

TEST(DirectSeverity, FirstLetterDecides) {
    Library lib(true);
    errm_OpenDllTrace();
    ScopedEnv level("DIRECT_LEVEL", "5");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("Tx", "S", "DIRECT_LEVEL", 1, "hello %d", 7), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("TRACE", "S", "DIRECT_LEVEL", 1, "t"), 0u);
    EXPECT_EQ(DirectV("Trace", "S", "DIRECT_LEVEL", 1, "%s", "v"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("Dx", "S", "DIRECT_LEVEL", 1, "never"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("debug", "S", "DIRECT_LEVEL", 1, "never"), 1099u);
    EXPECT_EQ(ERRM_DirectProcessError("trace", "S", "DIRECT_LEVEL", 1, "never"), 1099u);
    EXPECT_EQ(Masked(out.Text()),
              "(Tx-DIRECT_LEVEL-5) hello 7\n"
              "(TRACE-DIRECT_LEVEL-5) t\n"
              "(Trace-DIRECT_LEVEL-5) v\n" +
                  ErrLine(1, "String severity debug is invalid (not TRACE or DEBUG)" + kCore) +
                  ErrLine(2, "String severity trace is invalid (not TRACE or DEBUG)" + kCore));
}

TEST(DirectArguments, MissingTextsAreRefusedInOrder) {
    TracedLibrary traced;
    ScopedEnv level("V", "9");
    struct Case {
        const char *severity;
        const char *reports;
        const char *format;
        unsigned result;
        std::string report;
    } cases[] = {
        {nullptr, "S", "f", 1098, "String severity is not defined (length=0)"},
        {"", "S", "f", 1098, "String severity is not defined (length=0)"},
        {"x", nullptr, nullptr, 1099, "String severity x is invalid (not TRACE or DEBUG)"},
        {"T", nullptr, "f", 1098, "String  report = NULL is not defined (length=0)"},
        {"T", "", "f", 1098, "String  no report is not defined (length=0)"},
        {"T", nullptr, nullptr, 1098, "String  report = NULL is not defined (length=0)"},
        {"T", "S", nullptr, 1098, "String format=NULL is not defined (length=0)"},
        {"D", "S", "", 1098, "String  no format is not defined (length=0)"},
    };
    int number = 0;
    for (const Case &c : cases) {
        StdoutCapture out;
        EXPECT_EQ(ERRM_DirectProcessError(c.severity, c.reports, "V", 0, c.format), c.result)
            << c.report;
        EXPECT_EQ(Masked(out.Text()), ErrLine(++number, c.report + kCore));
    }
}

TEST(DirectDebug, PrintsNothingButStillChecksTheFormat) {
    TracedLibrary traced;
    ScopedEnv level("V", "9");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("D", "SPRDCLT", "V", 0, "x %d", 1), 0u);
    // 48 "%" are estimated at 6144, the limit; 49 exceed it.
    EXPECT_EQ(ERRM_DirectProcessError("D", "S", "V", 0, std::string(48, '%').c_str()), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("D", "S", "V", 0, std::string(49, '%').c_str()), 1073u);
    EXPECT_EQ(ERRM_DirectProcessError("D", "S", "V", 0, "%s", std::string(6145, 'a').c_str()),
              1073u);
    EXPECT_EQ(Masked(out.Text()),
              ErrLine(1, "printf report too many chars for the space for sLine0-sfmt" + kCore) +
                  ErrLine(2, "printf report too many chars for the space for sLine0" + kCore));
    for (const char *name : {"run.tra", "run.dbi", "run.dbg", "run.rep", "run.log"})
        EXPECT_FALSE(FileExists(traced.lib.file(name))) << name;
}

TEST(DirectTrace, FormatEstimateLimitAppliesToTraceToo) {
    Library lib;
    ScopedEnv level("V", "3");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "S", "V", 0, std::string(48, '%').c_str()), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "S", "V", 0, std::string(49, '%').c_str()), 1073u);
    EXPECT_EQ(out.Text(), "(T-V-3) " + std::string(24, '%') + "\n");
}

TEST(DirectLevel, VariableAtThreePrintsLevelsUpToThree) {
    Library lib;
    ScopedEnv level("TRACE_LEVEL", "3");
    StdoutCapture out;
    for (int l = -1; l <= 4; ++l)
        EXPECT_EQ(ERRM_DirectProcessError("TRACE", "S", "TRACE_LEVEL", l, "level %d", l), 0u);
    EXPECT_EQ(out.Text(), "(TRACE-TRACE_LEVEL-3) level -1\n"
                          "(TRACE-TRACE_LEVEL-3) level 0\n"
                          "(TRACE-TRACE_LEVEL-3) level 1\n"
                          "(TRACE-TRACE_LEVEL-3) level 2\n"
                          "(TRACE-TRACE_LEVEL-3) level 3\n");
}

TEST(DirectLevel, ValueMustBeADecimalNumber) {
    TracedLibrary traced;
    struct Case {
        std::optional<std::string> value;
        int level;
        std::string printed;
    } cases[] = {
        {"3a", 0, ""},         {"", 0, ""},
        {std::nullopt, 0, ""}, {" 3", 0, ""},
        {"3.0", 0, ""},        {"+3", 3, "(T-LVL-3) x\n"},
        {"+3", 4, ""},         {"-2", -2, "(T-LVL--2) x\n"},
        {"-2", -1, ""},        {"007", 7, "(T-LVL-7) x\n"},
    };
    for (const Case &c : cases) {
        ScopedEnv level("LVL", c.value);
        StdoutCapture out;
        EXPECT_EQ(ERRM_DirectProcessError("T", "S", "LVL", c.level, "x"), 0u);
        EXPECT_EQ(out.Text(), c.printed) << c.value.value_or("(unset)") << " level " << c.level;
    }
}

TEST(DirectLayout, LineEndOnlyWhenAddNLIsOne) {
    Library lib;
    ScopedEnv level("V", "3");
    StdoutCapture out;
    ERRM_AddNL(0);
    ERRM_DirectProcessError("T", "S", "V", 0, "a");
    ERRM_AddNL(2);
    ERRM_DirectProcessError("T", "S", "V", 0, "b");
    ERRM_AddNL(1);
    ERRM_DirectProcessError("T", "S", "V", 0, "c");
    EXPECT_EQ(out.Text(), "(T-V-3) a(T-V-3) b(T-V-3) c\n");
}

TEST(DirectLayout, LineOf6144CharactersFitsAndOneMoreIsRefused) {
    TracedLibrary traced;
    ScopedEnv level("V", "3");
    // "(TRACE-V-3) " is 12 characters, the line end 1.
    const std::string fits(6144 - 13, 'f');
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("TRACE", "S", "V", 0, "%s", fits.c_str()), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("TRACE", "S", "V", 0, "%s", (fits + "g").c_str()), 1073u);
    EXPECT_EQ(Masked(out.Text()),
              "(TRACE-V-3) " + fits + "\n" +
                  ErrLine(1, "printf report too many chars for the space for sLine" + kCore));
}

TEST(DirectLetters, XStandsForNoChannel) {
    Library lib;
    ScopedEnv level("V", "1");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "XSX", "V", 1, "once"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "X", "V", 1, "never"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "SS", "V", 1, "twice"), 0u);
    EXPECT_EQ(out.Text(), "(T-V-1) once\n(T-V-1) twice\n(T-V-1) twice\n");
}

TEST(DirectLetters, UnknownLetterIsReportedAndFailsTheCall) {
    TracedLibrary traced;
    ScopedEnv level("V", "1");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "SQ", "V", 1, "line"), 1058u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "sS", "V", 1, "case"), 1058u);
    EXPECT_EQ(Masked(out.Text()), "(T-V-1) line\n" +
                                      ErrLine(1, "Reports AddReportDirect" + kReports) +
                                      ErrLine(2, "Reports ReturnError" + kCore) +
                                      ErrLine(3, "Reports AddReportDirect" + kReports) +
                                      "(T-V-1) case\n" + ErrLine(4, "Reports ReturnError" + kCore));
}

TEST(DirectLetters, UnauthorisedChannelIsSkipped) {
    Library lib;
    ScopedEnv level("V", "1");
    ASSERT_EQ(ERRM_Authorize_Printing("STDOUT", 0), 1);
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "S", "V", 1, "hidden"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "P", "V", 1, "piped"), 0u);
    EXPECT_EQ(out.Text(), PipeLines("(T-V-1) piped\n"));
}

TEST(DirectLetters, PipeWritesFiveLines) {
    Library lib;
    ScopedEnv level("V", "3");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("TRACE", "P", "V", 2, "text %s", "here"), 0u);
    EXPECT_EQ(out.Text(), PipeLines("(TRACE-V-3) text here\n"));
}

TEST(DirectLetters, NeitherRepetitionLimitNorVerboseModeApply) {
    Library lib;
    ScopedEnv level("V", "1");
    ERRM_Set_GlobalNbrMaxOfMessages(1);
    ERRM_Set_GlobalVerboseMode(0);
    StdoutCapture out;
    for (int i = 0; i < 4; ++i)
        ERRM_DirectProcessError("T", "S", "V", 1, "again");
    EXPECT_EQ(out.Text(), "(T-V-1) again\n(T-V-1) again\n(T-V-1) again\n(T-V-1) again\n");
}

TEST(DirectLetters, ReportFilesOpenOnFirstUseWithTheirHeader) {
    Library lib;
    ScopedEnv level("V", "1");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "RR", "V", 1, "first"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "R", "V", 1, "second"), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "DCLT", "V", 1, "all"), 0u);
    EXPECT_EQ(out.Text(), "");
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string header = "START report: <date>\n";
    EXPECT_EQ(Masked(lib.Report(".rep")),
              header + "(T-V-1) first\n(T-V-1) first\n(T-V-1) second\n");
    EXPECT_EQ(Masked(lib.Report(".dbi")), header + "(T-V-1) all\n");
    EXPECT_EQ(Masked(lib.Report(".dbg")), header + "(T-V-1) all\n");
    EXPECT_EQ(Masked(lib.Report(".log")), header + "(T-V-1) all\n");
    EXPECT_EQ(Masked(lib.Report(".tra")), header + "(T-V-1) all\n");
}

TEST(DirectLetters, FileThatFailsToOpenGetsHeaderAndLineOnStdout) {
    Library lib;
    ScopedEnv level("V", "1");
    // As in a process that never named its transcript.
    errm_G.TranScriptFileName[0] = '\0';
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "TS", "V", 1, "lost"), 1058u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "T", "V", 1, "again"), 1058u);
    const std::string failed = "FM error open, F= E=1030\nSTART report: <date>\n";
    EXPECT_EQ(Masked(out.Text()),
              failed + "(T-V-1) lost\n(T-V-1) lost\n" + failed + "(T-V-1) again\n");
}

TEST(DirectLetters, FailedOpenIsReportedTwice) {
    TracedLibrary traced;
    ScopedEnv level("V", "1");
    errm_G.TranScriptFileName[0] = '\0';
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "T", "V", 1, "lost"), 1058u);
    EXPECT_EQ(Masked(out.Text()),
              "FM error open, F= E=1030\n" + ErrLine(1, "Open file failure for " + kReports) +
                  ErrLine(2, "Open file failure for opening report : 2" + kReports) +
                  "START report: <date>\n"
                  "DLL(  3): C_REPORT_TRANSCRIPT\n"
                  "(T-V-1) lost\n" +
                  ErrLine(4, "Reports ReturnError" + kCore));
}

TEST(DirectLetters, ChiGetsTheDirectLineOnlyWithAClientStream) {
    Library lib;
    ScopedEnv level("V", "1");
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "processed", {kChi})}));
    ASSERT_EQ(ss, 0);
    StdoutCapture out;
    // Authorised, but no stream: nothing anywhere.
    ASSERT_EQ(ERRM_Authorize_Printing("CHI", 1), 1);
    EXPECT_EQ(ERRM_DirectProcessError("T", "K", "V", 1, "no stream"), 0u);

    std::FILE *chi = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    EXPECT_EQ(ERRM_ProcessError(ss, 1), 0);
    // The Chi line the processed message left behind is not written again.
    EXPECT_EQ(ERRM_DirectProcessError("T", "K", "V", 1, "direct %d", 1), 0u);
    EXPECT_EQ(ERRM_DirectProcessError("T", "KK", "V", 1, "direct %d", 2), 0u);
    ASSERT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    EXPECT_EQ(ERRM_DirectProcessError("T", "K", "V", 1, "after reset"), 0u);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(StreamText(chi),
              "ERROR 1:processed\n(T-V-1) direct 1\n(T-V-1) direct 2\n(T-V-1) direct 2\n");
    std::fclose(chi);
}

TEST(DirectLetters, ReportFFollowsItsAuthorisationAndStream) {
    Library lib;
    ScopedEnv level("V", "1");
    StdoutCapture out;
    EXPECT_EQ(ERRM_DirectProcessError("T", "F", "V", 1, "not authorised"), 0u);
    ASSERT_EQ(ERRM_Authorize_Printing("REPORT_F", 1), 1);
    // Authorised without a stream: its handle is -1, standard output.
    EXPECT_EQ(ERRM_DirectProcessError("T", "F", "V", 1, "on stdout"), 0u);
    std::FILE *reportF = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ReportF_FD(reportF), 0);
    EXPECT_EQ(ERRM_DirectProcessError("T", "F", "V", 1, "on stream"), 0u);
    ASSERT_EQ(ERRM_Reset_ReportF_FD(), 0);
    EXPECT_EQ(ERRM_DirectProcessError("T", "F", "V", 1, "after reset"), 0u);
    EXPECT_EQ(out.Text(), "(T-V-1) on stdout\n");
    EXPECT_EQ(StreamText(reportF), "(T-V-1) on stream\n");
    std::fclose(reportF);
}
