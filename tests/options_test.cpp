// options_test.cpp - ERRM_OPTIONS parsing and the rank of a parallel launch.
#include "base/errm_options.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "reports/errm_fm.h"
#include "reports/errm_paths.h"
#include "reports/errm_user.h"
#include "reports/errm_writers.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct ParseCase {
    const char *text;
    int refused;
    errm_Diagnostics diagnostics;
    int strict;
    const char *json; // expected path, null: records off
    const char *run;
};

const ParseCase kParse[] = {
    {"", 0, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"diagnostics=stderr", 0, errm_Diagnostics::toStderr, 0, nullptr, ""},
    {"diagnostics=off:verify=strict", 0, errm_Diagnostics::off, 1, nullptr, ""},
    {"json=run.%r.json,run=job42", 0, errm_Diagnostics::toStdout, 0, "run.%r.json", "job42"},
    {"json='/a:b,c.json'", 0, errm_Diagnostics::toStdout, 0, "/a:b,c.json", ""},
    {",,json=x::", 0, errm_Diagnostics::toStdout, 0, "x", ""},
    {"colour=yes,diagnostics=stderr", 1, errm_Diagnostics::toStderr, 0, nullptr, ""},
    {"diagnostics=loud", 1, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"verify", 1, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"json=", 1, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"diagnostics=stderr,diagnostics=off", 0, errm_Diagnostics::off, 0, nullptr, ""},
};

TEST(Options, ParseTable) {
    for (const ParseCase &c : kParse) {
        SCOPED_TRACE(c.text);
        errm_RunOptions o;
        EXPECT_EQ(errm_ParseOptions(c.text, &o), c.refused);
        EXPECT_EQ(o.diagnostics, c.diagnostics);
        EXPECT_EQ(o.verifyStrict, c.strict);
        EXPECT_EQ(o.json, c.json != nullptr ? 1 : 0);
        if (c.json != nullptr) {
            EXPECT_STREQ(o.jsonPath, c.json);
        }
        EXPECT_STREQ(o.run, c.run);
    }
}

TEST(Options, OverlongValuesAreRefusedNotCut) {
    errm_RunOptions o;
    std::string text = "run=" + std::string(ERRM_OPTION_RUN_CAP, 'r');
    EXPECT_EQ(errm_ParseOptions(text.c_str(), &o), 1);
    EXPECT_STREQ(o.run, "");
    text = "json=" + std::string(ERRM_OPTION_PATH_CAP - 1, 'p');
    EXPECT_EQ(errm_ParseOptions(text.c_str(), &o), 0);
    EXPECT_EQ(std::string(o.jsonPath).size(), ERRM_OPTION_PATH_CAP - 1);
}

struct RankCase {
    const char *vars[4][2]; // name, value; null name ends
    int known;
    const char *text;
};

const RankCase kRanks[] = {
    {{{nullptr, nullptr}}, 0, ""},
    {{{"OMPI_COMM_WORLD_RANK", "3"}, {"OMPI_COMM_WORLD_SIZE", "8"}, {nullptr, nullptr}}, 1, "3"},
    {{{"PMI_RANK", "7"}, {"PMI_SIZE", "12"}, {nullptr, nullptr}}, 1, "07"},
    {{{"PMIX_RANK", "5"}, {"PMIX_SIZE", "101"}, {nullptr, nullptr}}, 1, "005"},
    {{{"SLURM_PROCID", "0"}, {"SLURM_NTASKS", "1"}, {nullptr, nullptr}}, 0, ""},
    {{{"SLURM_PROCID", "9"}, {"SLURM_NTASKS", "4"}, {nullptr, nullptr}}, 0, ""},
    {{{"PMI_RANK", "x1"}, {"PMI_SIZE", "4"}, {nullptr, nullptr}}, 0, ""},
    {{{"PMIX_RANK", "2"}, {nullptr, nullptr}}, 0, ""},
    {{{"OMPI_COMM_WORLD_RANK", "1"}, {"OMPI_COMM_WORLD_SIZE", "2"}, {"SLURM_PROCID", "5"},
      {"SLURM_NTASKS", "64"}},
     1,
     "1"},
};

TEST(Options, RankTable) {
    const char *all[] = {"OMPI_COMM_WORLD_RANK", "OMPI_COMM_WORLD_SIZE", "PMI_RANK", "PMI_SIZE",
                         "PMIX_RANK",            "PMIX_SIZE",            "SLURM_PROCID",
                         "SLURM_NTASKS"};
    for (const RankCase &c : kRanks) {
        for (const char *name : all)
            unsetenv(name);
        for (const auto &v : c.vars)
            if (v[0] != nullptr) setenv(v[0], v[1], 1);
        errm_RereadRank();
        char text[16];
        SCOPED_TRACE(c.text);
        EXPECT_EQ(errm_Rank().known, c.known);
        EXPECT_EQ(errm_RankText(text, sizeof text), c.known);
        EXPECT_STREQ(text, c.text);
    }
    char tiny[1];
    EXPECT_EQ(errm_RankText(tiny, sizeof tiny), 0); // "1" does not fit with its terminator
}

// Each kind of the library's own lines goes where diagnostics= says; the pipe
// lines of a message stay on standard output whatever it says.
struct LineKind {
    const char *name;
    const char *expected; // a text of the line
    bool diagnostic;      // false: a pipe line
    void (*write)();
};

const LineKind kKinds[] = {
    {"platform", "Error ORV_VCO not set\n", true, [] { errm_CheckPlatform(); }},
    {"trace echo", "): echo line\n", true, [] { errm_TraceAdd("echo line\n"); }},
    {"internal error echo", "Sub system not set @ F=src/t/L=1\n", true,
     [] { errm_ReportInternalError(1052, "src/t", 1); }},
    {"search", "errm_FM_FindFileInPath, V_MAX_PATH=", true,
     [] {
         char found[ERRM_NAME_CAP];
         errm_ForgetListOfPaths();
         errm_FindFileInPath("ERRM_TEST_NO_SUCH_PATH", "x", found);
     }},
    {"search path unset", "SPATH not set, ERRM_TEST_NO_SUCH_PATH is nul\n", true,
     [] {
         char found[ERRM_NAME_CAP];
         errm_ForgetListOfPaths();
         errm_FindFileInPath("ERRM_TEST_NO_SUCH_PATH", "x", found);
     }},
    {"search path", "path=/nonexistent-a/\n", true,
     [] {
         char found[ERRM_NAME_CAP];
         errm_ForgetListOfPaths();
         errm_FindFileInPath("ERRM_TEST_PATH", "x", found);
     }},
    {"temporary file", "tmp_none.tmp deleted\n", true, [] { errm_DeleteFile("tmp_none.tmp"); }},
    {"file manager", "FM error open, F=/nonexistent-a/f E=1030\n", true,
     [] {
         int handle = -1;
         if (errm_FM_Open("/nonexistent-a/f", 'w', 0, &handle) == 0) errm_FM_Close(handle);
     }},
    {"XML reference", "IsXMLEscapeSequence replaced -<-\n", true,
     [] {
         int consumed = 0;
         IsXMLEscapeSequence("&lt;", 4, &consumed);
     }},
    {"pipe line", "TCL MSG= text \n", false,
     [] { errm_PrintTclLines(1, 1, "SS", "text", "gen"); }},
};

TEST(Options, DiagnosticsGoWhereTheyAreSent) {
    errmtest::ScopedEnv platform("ORV_VCO", std::nullopt);
    errmtest::ScopedEnv path("ERRM_TEST_PATH", std::string("/nonexistent-a"));
    errmtest::ScopedEnv noPath("ERRM_TEST_NO_SUCH_PATH", std::nullopt);
    errm_G.FConsoleOut = 1;
    errm_G.FTraceDLL = 1;
    errm_G.FTraceClosedByFInit = 1; // echo only: no trace file
    const char *settings[] = {"diagnostics=stdout", "diagnostics=stderr", "diagnostics=off"};
    for (const char *setting : settings) {
        ASSERT_EQ(errm_ParseOptions(setting, &errm_Opt), 0);
        for (const LineKind &k : kKinds) {
            SCOPED_TRACE(std::string(setting) + ": " + k.name);
            std::string out, err;
            {
                errmtest::StdoutCapture errCapture(2);
                errmtest::StdoutCapture outCapture(1);
                k.write();
                out = outCapture.Text();
                err = errCapture.Text();
            }
            const bool toOut = !k.diagnostic || errm_Opt.diagnostics == errm_Diagnostics::toStdout;
            const bool toErr = k.diagnostic && errm_Opt.diagnostics == errm_Diagnostics::toStderr;
            EXPECT_EQ(out.find(k.expected) != std::string::npos, toOut) << out;
            EXPECT_EQ(err.find(k.expected) != std::string::npos, toErr) << err;
            if (!toOut && k.diagnostic) {
                EXPECT_EQ(out, "");
            }
            if (!toErr) {
                EXPECT_EQ(err, "");
            }
        }
    }
    errm_ParseOptions(nullptr, &errm_Opt);
}

} // namespace
