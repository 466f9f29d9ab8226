// client_life_test.cpp - a whole client life through the exported API: two
// cycles of initialisation, three descriptors each, a few hundred messages
// of every kind, client streams handed in and taken back, and shutdown; at
// the end every block is released and every file closed, and the reports
// hold what the messages put there. Runs as one test, also under valgrind.
#include "api_support.h"
#include "base/errm_alloc.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace errmtest;

namespace {

// Number of lines of text that start with prefix.
int LinesStartingWith(const std::string &text, const std::string &prefix) {
    int n = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t eol = text.find('\n', at);
        if (eol == std::string::npos) eol = text.size();
        if (text.compare(at, prefix.size(), prefix) == 0) ++n;
        at = eol + 1;
    }
    return n;
}

std::string Notice(const std::string &label, const std::string &id) {
    return "Note: message (" + label + " - " + id +
           ") has been displayed 3 times and will not be printed anymore \n";
}

// Changes the working directory for a scope (commands write their output
// into a temporary file there).
class ScopedCwd {
  public:
    explicit ScopedCwd(const std::string &dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() { std::filesystem::current_path(old_); }
    ScopedCwd(const ScopedCwd &) = delete;
    ScopedCwd &operator=(const ScopedCwd &) = delete;

  private:
    std::filesystem::path old_;
};

std::vector<errmdesc::Catalogue> Catalogues() {
    errmdesc::Message warn = Msg(3, kWarning, "warn %d", {kStdout, kTranscript, kChi});
    warn.id = "SIM-W3";
    errmdesc::Message fatal = Msg(4, kFatal, "fatal %s", {kLog, kReport, kReportF, kChi});
    fatal.rc = 4;
    errmdesc::Message note = Msg(7, kNote, "note %d", {kStdout, kPipe});
    note.see = "manual page 7";
    errmdesc::Catalogue sim =
        Cat("SIM",
            {Msg(1, kError, "cannot open %s", {kStdout, kLog, kChi}),
             Msg(2, kErrorDelayed, "late %d", {kStdout, kReport, kChi}), warn, fatal,
             Msg(5, kTrace, "trace %d", {kDbgI}), Msg(6, kDebug, "debug %d", {kStdout, kLog}), note,
             Msg(8, kDisplay, "display %d", {kStdout, kDbgC})},
            "Simulator");
    errmdesc::Message cat = Msg(10, kError, "cat follows", {kLog});
    cat.cat = "FILE=notes.txt";
    errmdesc::Message command = Msg(11, kNote, "cmd follows", {kLog});
    command.command = "CMD=printf 'x\\ny\\n'";
    errmdesc::Message warning = Msg(12, kWarning, "%s", {kReport});
    warning.rc = -3;
    errmdesc::Catalogue net = Cat("NET", {cat, command, warning});
    errmdesc::Message ioError = Msg(21, kError, "io error %d", {kStdout});
    ioError.rc = 1000;
    errmdesc::Catalogue io = Cat("IO", {Msg(20, kDisplay, "io %d", {kReportF, kLog}), ioError});
    return {sim, net, io};
}

} // namespace

TEST(ClientLife, TwoCyclesOfEveryKindOfMessage) {
    const int blocks = errm_AllocationCount();
    const unsigned delayed = ERRM_GetNumberOfDelayedErrors();
    TempDir dir;
    const std::string descDir = dir.file("desc"), docs1 = dir.file("docs1"),
                      docs2 = dir.file("docs2");
    for (const std::string &d : {descDir, docs1, docs2})
        std::filesystem::create_directories(d);
    WriteFile(docs2 + "/notes.txt", "notes from docs2\n");
    for (const errmdesc::Catalogue &c : Catalogues())
        WriteDescriptor(c, descDir);
    ScopedCwd cwd(dir.path());
    ScopedEnv platform("ORV_VCO", "ixl");
    ScopedEnv debug("KOVA_ERRM_LDBG", dir.path() + ";F:F:F:F:F:T");
    ScopedEnv searchPath("LIFE_PATH", docs1 + ":" + docs2);
    ScopedEnv level("LIFE_LEVEL", "2");
    const int fds = OpenFdCount();

    unsigned char version[4];
    char date[12];
    ASSERT_EQ(ERRM_GetVersion(version), 1);
    ASSERT_EQ(ERRM_GetDate(date), 1);
    EXPECT_STREQ(date, "2007/01/08");
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(descDir.c_str()), 1);
    ASSERT_EQ(ERRM_Set_RootReportFiles(dir.file("cycle1").c_str()), 1);
    ASSERT_EQ(ERRM_Set_TranScriptFileName(dir.file("cycle1.tra").c_str()), 1);
    ASSERT_EQ(ERRM_Set_SearchPath("LIFE_PATH"), 1);

    // ------------------------------------------------------------ cycle 1
    ASSERT_EQ(ERRM_Init(), 1);
    int sim = -1, net = -1, io = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("sim", &sim), 0);
    ASSERT_EQ(ERRM_ReadErrorDescriptor("net", &net), 0);
    ASSERT_EQ(ERRM_ReadErrorDescriptor("io", &io), 0);
    ASSERT_EQ(sim, 0);
    ASSERT_EQ(net, 1);
    ASSERT_EQ(io, 2);
    char stamp[13];
    char descVersion[4];
    ASSERT_EQ(ERRM_DisplayInfos("net", stamp, descVersion), 0);
    EXPECT_STREQ(stamp, "202612071200");

    std::FILE *chi1 = std::tmpfile();
    std::FILE *chi2 = std::tmpfile();
    std::FILE *reportF = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi1), 0);
    ASSERT_EQ(ERRM_Set_ReportF_FD(reportF), 0);
    std::string expectChi1, expectChi2, expectReportF;

    StdoutCapture out;
    for (int i = 0; i < 200; ++i) {
        const std::string n = std::to_string(i);
        if (i == 50 || i == 100 || i == 150) {
            ASSERT_EQ(ERRM_ResetMessageCounter(sim, 1, 0), 1);
        }
        if (i == 100) {
            ASSERT_EQ(ERRM_Reset_ChiFileHandle(), 0);
            ASSERT_EQ(ERRM_Authorize_Printing("DBG_I", 0), 1);
        }
        if (i == 120) {
            ASSERT_EQ(ERRM_Reset_ReportF_FD(), 0);
        }
        if (i == 150) {
            ASSERT_EQ(ERRM_Set_ChiFileHandle(chi2), 0);
            ASSERT_EQ(ERRM_Authorize_Printing("DBG_I", 1), 1);
        }
        EXPECT_EQ(ERRM_ProcessError(sim, 1, ("f" + n).c_str()), 0);
        EXPECT_EQ(ERRM_ProcessError(sim, 2, i), 0);
        EXPECT_EQ(ERRM_ProcessError(sim, 3, i), 0);
        EXPECT_EQ(ERRM_ProcessError(sim, 4, "x"), 4);
        EXPECT_EQ(ERRM_ProcessError(sim, 5, i), 0);
        EXPECT_EQ(ERRM_ProcessError(sim, 6, i), 0);
        EXPECT_EQ(ERRM_ProcessError(sim, 7, i), 0);
        EXPECT_EQ(ERRM_ProcessError(sim, 8, i), 0);
        EXPECT_EQ(ERRM_ProcessError(io, 20, i), 0);
        const std::string chi = "ERROR 1:cannot open f" + n + "\nERROR 2:late " + n +
                                "\nWarning SIM-W3:warn " + n + "\nERROR 4:fatal x\n";
        if (i < 100) expectChi1 += chi;
        if (i >= 150) expectChi2 += chi;
        if (i < 120) expectReportF += "** Fatal: (Simulator - 4) fatal x\nio " + n + "\n";
        if (i % 10 == 0) {
            EXPECT_EQ(ERRM_ProcessError(io, 21, i), 1000);
            const char *text = ERRM_Get_ErrorMessage(sim, 2, i);
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(std::string(text), "** Error: (Simulator - 2) late " + n + "\n");
            EXPECT_EQ(ERRM_Get_ErrorMessage(io, 21, i), nullptr);
        }
        if (i % 20 == 0) {
            EXPECT_EQ(ERRM_ProcessError(net, 10), 0);
            EXPECT_EQ(ERRM_ProcessError(net, 11), 0);
            EXPECT_EQ(ERRM_ProcessError(net, 12, "w"), -3);
        }
        if (i % 25 == 0) {
            EXPECT_EQ(ERRM_DisplayUserMessage(900, 3, "SIM-USER", nullptr, 0x20 | 0x80 | 0x2, "gen",
                                              "user %d\\n", i),
                      0xA2u);
            EXPECT_EQ(ERRM_DirectProcessError("TRACE", "SLR", "LIFE_LEVEL", 1, "direct %d", i), 0u);
            EXPECT_EQ(ERRM_DirectProcessError("DEBUG", "SLR", "LIFE_LEVEL", 1, "hidden"), 0u);
        }
    }
    ASSERT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    ERRM_Set_NUSKMode(1);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(sim, 1, "z"), "ERROR 1:cannot open z\n");
    ERRM_Set_NUSKMode(0);
    EXPECT_EQ(ERRM_FInit(), 1);
    const std::string console = out.Text();

    // Four rounds of three lines and a notice after the counter resets.
    EXPECT_EQ(LinesStartingWith(console, "** Error: (Simulator - 1) cannot open f"), 12);
    EXPECT_EQ(Count(console, Notice("Simulator", "1")), 4);
    EXPECT_EQ(LinesStartingWith(console, "** Error: (Simulator - 2) late "), 3);
    EXPECT_EQ(LinesStartingWith(console, "** Warning: (Simulator - SIM-W3) warn "), 3);
    EXPECT_EQ(Count(console, Notice("Simulator", "SIM-W3")), 1);
    EXPECT_EQ(LinesStartingWith(console, "** Debug"), 0);
    EXPECT_EQ(LinesStartingWith(console, "display "), 200);
    EXPECT_EQ(LinesStartingWith(console, "** Error: (IO - 21) io error "), 3);
    // The pipe takes every occurrence, and the see line too.
    EXPECT_EQ(Count(console, "TCL MSG= ** Note: (Simulator - 7) note "), 200);
    EXPECT_EQ(Count(console, "TCL SS = SIM \nTCL MSG= see manual page 7\n \n"), 200);
    EXPECT_EQ(Count(console, "TCL ERR= 900 \nTCL ERR= 3 \nTCL SS = SIM-USER \nTCL MSG= user 0\r\n "
                             "\nTCL GEN= gen \n"),
              1);
    EXPECT_EQ(LinesStartingWith(console, "(TRACE-LIFE_LEVEL-2) direct "), 8);
    EXPECT_EQ(LinesStartingWith(console, "(DEBUG"), 0);
    EXPECT_EQ(LinesStartingWith(console, "tmp_"), 10) << "each command's output file deleted";

    EXPECT_EQ(StreamText(chi1), expectChi1);
    EXPECT_EQ(StreamText(chi2), expectChi2);
    EXPECT_EQ(StreamText(reportF), expectReportF);
    EXPECT_EQ(AfterHeader(ReadFile(dir.file("cycle1.tra"))),
              "** Warning: (Simulator - SIM-W3) warn 0\n** Warning: (Simulator - SIM-W3) warn 1\n"
              "** Warning: (Simulator - SIM-W3) warn 2\n" +
                  Notice("Simulator", "SIM-W3"));
    const std::string log = AfterHeader(ReadFile(dir.file("cycle1.log")));
    EXPECT_EQ(log.rfind("** Error: (Simulator - 1) cannot open f0\n"
                        "** Fatal: (Simulator - 4) fatal x\n"
                        "io 0\n"
                        "** Error: (NET - 10) cat follows\n"
                        "-- cat " +
                            docs2 + "/notes.txt -- \nnotes from docs2\n-- EOF -- \n",
                        0),
              0u);
    EXPECT_EQ(LinesStartingWith(log, "** Error: (Simulator - 1) cannot open f"), 200);
    EXPECT_EQ(LinesStartingWith(log, "** Fatal: (Simulator - 4) fatal x"), 200);
    EXPECT_EQ(LinesStartingWith(log, "io "), 200);
    EXPECT_EQ(Count(log, "/notes.txt -- \nnotes from docs2\n-- EOF -- \n"), 10);
    EXPECT_EQ(Count(log, "** Note: (NET - 11) cmd follows\n-> cmd printf 'x\\ny\\n' > tmp_"), 10);
    EXPECT_EQ(Count(log, ".tmp -- \nx\ny\n-- EOF -- \n"), 10);
    EXPECT_EQ(Count(log, "user 175\r\n"), 1);
    EXPECT_EQ(Count(log, "(TRACE-LIFE_LEVEL-2) direct 175\n"), 1);
    const std::string rep = AfterHeader(ReadFile(dir.file("cycle1.rep")));
    EXPECT_EQ(LinesStartingWith(rep, "** Error: (Simulator - 2) late "), 200);
    EXPECT_EQ(LinesStartingWith(rep, "** Warning: (NET - 12) w"), 10);
    EXPECT_EQ(LinesStartingWith(rep, "user "), 8);
    EXPECT_EQ(LinesStartingWith(rep, "(TRACE-LIFE_LEVEL-2) direct "), 8);
    // DBG_I was silenced for fifty rounds.
    EXPECT_EQ(LinesStartingWith(ReadFile(dir.file("cycle1.dbi")), "** Trace: (Simulator - 5)"),
              150);
    EXPECT_EQ(LinesStartingWith(ReadFile(dir.file("cycle1.dbg")), "display "), 200);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), delayed + 220);

    // ------------------------------------------------------------ cycle 2
    ASSERT_EQ(ERRM_Set_RootReportFiles(dir.file("cycle2").c_str()), 1);
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(ERRM_ReadErrorDescriptor("SIM", &sim), 0);
    ASSERT_EQ(ERRM_ReadErrorDescriptor("NET", &net), 0);
    ASSERT_EQ(ERRM_ReadErrorDescriptor("IO", &io), 0);
    EXPECT_EQ(sim, 3);
    EXPECT_EQ(net, 4);
    EXPECT_EQ(io, 5);
    ASSERT_EQ(ERRM_Set_ReportF_FD(reportF), 0);
    // A failing message writes its line on the channels of the one before.
    const std::string notPresent =
        "ERROR : errm error message number 1 not present in .bin, exit anyway.\n";
    StdoutCapture again;
    EXPECT_EQ(ERRM_ProcessError(sim, 1, "again"), 0);
    EXPECT_EQ(ERRM_ProcessError(net, 10), 0);
    EXPECT_EQ(ERRM_ProcessError(io, 20, 1), 0);
    EXPECT_EQ(ERRM_ProcessError(0, 1, "gone"), 1050);
    ASSERT_EQ(ERRM_Reset_ReportF_FD(), 0);
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(LinesStartingWith(again.Text(), "** Error: (Simulator - 1) cannot open again"), 1);
    EXPECT_EQ(AfterHeader(ReadFile(dir.file("cycle2.log"))),
              "** Error: (Simulator - 1) cannot open again\n"
              "** Error: (NET - 10) cat follows\n"
              "-- cat " +
                  docs2 + "/notes.txt -- \nnotes from docs2\n-- EOF -- \nio 1\n" + notPresent);
    EXPECT_EQ(StreamText(reportF), expectReportF + "io 1\n" + notPresent);

    std::fclose(chi1);
    std::fclose(chi2);
    std::fclose(reportF);
    EXPECT_EQ(errm_AllocationCount(), blocks);
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_TRUE(FileExists(dir.file("errm_dll_trace_" + std::to_string(getpid()) + ".txt")));
}
