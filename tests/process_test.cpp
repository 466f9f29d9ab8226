// process_test.cpp - ERRM_ProcessError from lookup to the report channels:
// layouts, Chi lines, NUSK mode, the writers, the repetition gate, counters,
// the "not present" line and the buffer limits. Exact bytes everywhere.
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <regex>

using namespace errmtest;

namespace {

// Processes one message and returns what it wrote on stdout.
template <class... Args> std::string Process(int ss, int number, int *rc, Args... args) {
    StdoutCapture out;
    *rc = ERRM_ProcessError(static_cast<unsigned>(ss), number, args...);
    return out.Text();
}

template <class... Args> std::string Process(int ss, int number, Args... args) {
    int rc = 0;
    return Process(ss, number, &rc, args...);
}

// A client stream for CHI or REPORT_F whose content the test reads back.
class ClientStream {
  public:
    ClientStream() : f_(std::tmpfile()) {}
    ~ClientStream() { std::fclose(f_); }
    std::FILE *get() { return f_; }
    std::string Text() {
        std::fflush(f_);
        std::rewind(f_);
        std::string s;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f_)) > 0)
            s.append(buf, n);
        return s;
    }

  private:
    std::FILE *f_;
};

} // namespace

// ------------------------------------------------------------------ layouts

TEST(Layouts, EverySeverityWithAndWithoutIdentifier) {
    Library lib;
    errmdesc::Message withId = Msg(9, kWarning, "id %s");
    withId.id = "SIM-9";
    int ss = lib.Load(
        Cat("SIM", {Msg(1, kError, "cannot open %s"), Msg(2, kErrorDelayed, "delayed"),
                    Msg(3, kWarning, "warn"), Msg(4, kFatal, "fatal"), Msg(5, kTrace, "trace"),
                    Msg(7, kNote, "note"), Msg(8, kDisplay, "bare text"), withId}));
    ASSERT_EQ(ss, 0);
    EXPECT_EQ(Process(ss, 1, "x"), "** Error: (SIM - 1) cannot open x\n");
    EXPECT_EQ(Process(ss, 2), "** Error: (SIM - 2) delayed\n");
    EXPECT_EQ(Process(ss, 3), "** Warning: (SIM - 3) warn\n");
    int rc = -1;
    EXPECT_EQ(Process(ss, 4, &rc), "** Fatal: (SIM - 4) fatal\n");
    EXPECT_EQ(rc, 0) << "FATAL returns like any other message";
    EXPECT_EQ(Process(ss, 5), "** Trace: (SIM - 5) trace\n");
    EXPECT_EQ(Process(ss, 7), "** Note: (SIM - 7) note\n");
    EXPECT_EQ(Process(ss, 8), "bare text\n");
    EXPECT_EQ(Process(ss, 9, "a"), "** Warning: (SIM - SIM-9) id a\n");
}

TEST(Layouts, DisplayNameEmptyFormatAndNoLineFeed) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(37, kError, ""), Msg(8, kDisplay, "d")}, "Simulator")), 0);
    ASSERT_EQ(lib.Load(Cat("OTHER", {Msg(1, kNote, "n")})), 1);
    EXPECT_EQ(Process(0, 37), "** Error: (Simulator - 37) \n");
    EXPECT_EQ(Process(1, 1), "** Note: (OTHER - 1) n\n");
    ERRM_AddNL(0);
    EXPECT_EQ(Process(0, 37), "** Error: (Simulator - 37) ");
    EXPECT_EQ(Process(0, 8), "d");
    // DISPLAY takes its line feed only for the value 1; the others for any
    // non-zero value.
    ERRM_AddNL(2);
    EXPECT_EQ(Process(0, 37), "** Error: (Simulator - 37) \n");
    EXPECT_EQ(Process(0, 8), "d");
}

TEST(Layouts, DateStamps) {
    Library lib;
    std::vector<errmdesc::Message> msgs;
    for (std::uint8_t kind : {1, 2, 3, 7}) {
        errmdesc::Message m = Msg(kind, kError, "dated");
        m.dateKind = kind;
        msgs.push_back(m);
    }
    errmdesc::Message d = Msg(20, kDisplay, "shown");
    d.dateKind = 2;
    msgs.push_back(d);
    errmdesc::Message undated = Msg(21, kDisplay, "plain");
    msgs.push_back(undated);
    ASSERT_EQ(lib.Load(Cat("SIM", msgs)), 0);
    const std::string date = R"(\d{4}/\d{2}/\d{2})", time = R"(\d{2}:\d{2}:\d{2})";
    EXPECT_TRUE(std::regex_match(Process(0, 1), std::regex(R"(\*\* Error: \(SIM - 1 - )" + date +
                                                           " " + time + R"(\) dated\n)")));
    EXPECT_TRUE(std::regex_match(
        Process(0, 2), std::regex(R"(\*\* Error: \(SIM - 2 - )" + date + R"(\) dated\n)")));
    EXPECT_TRUE(std::regex_match(
        Process(0, 3), std::regex(R"(\*\* Error: \(SIM - 3 - )" + time + R"(\) dated\n)")));
    EXPECT_EQ(Process(0, 7), "** Error: (SIM - 7 - ) dated\n")
        << "an unknown kind has an empty stamp";
    EXPECT_TRUE(std::regex_match(Process(0, 20), std::regex(R"(\()" + date + R"(\) shown\n)")));
    EXPECT_EQ(Process(0, 21), "plain\n");
}

// ----------------------------------------------------------- Chi and NUSK

TEST(ChiLine, OnlyChiSeveritiesReachTheClientStream) {
    Library lib;
    errmdesc::Message withId = Msg(9, kNote, "noted");
    withId.id = "N-9";
    ASSERT_EQ(
        lib.Load(Cat("SIM", {Msg(1, kError, "e %d", {kChi, kStdout}),
                             Msg(2, kErrorDelayed, "ed", {kChi}), Msg(3, kWarning, "w", {kChi}),
                             Msg(4, kFatal, "f", {kChi}), Msg(5, kTrace, "t", {kChi}),
                             Msg(6, kDebug, "d", {kChi}), Msg(8, kDisplay, "s", {kChi}), withId})),
        0);
    // Without a client stream the CHI channel stays silent.
    EXPECT_EQ(Process(0, 1, 1), "** Error: (SIM - 1) e 1\n");
    ClientStream chi;
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi.get()), 0);
    for (int n : {1, 2, 3, 4, 5, 6, 8})
        Process(0, n, 2);
    EXPECT_EQ(chi.Text(), "ERROR 1:e 2\nERROR 2:ed\nWarning 3:w\nERROR 4:f\n");
    // The identifier replaces the number in the prefix; the Chi line is not
    // written where the list has no CHI.
    Process(0, 9);
    EXPECT_EQ(chi.Text(), "ERROR 1:e 2\nERROR 2:ed\nWarning 3:w\nERROR 4:f\n");
    ASSERT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    Process(0, 1, 3);
    EXPECT_EQ(chi.Text(), "ERROR 1:e 2\nERROR 2:ed\nWarning 3:w\nERROR 4:f\n");
}

TEST(ChiLine, NuskModePutsTheChiLineOnStdoutOnly) {
    Library lib;
    errmdesc::Message note = Msg(7, kNote, "n %s", {kStdout, kTranscript, kLog});
    note.id = "N7";
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "cannot open x", {kStdout, kTranscript, kLog}),
                                   note, Msg(5, kTrace, "tr"), Msg(8, kDisplay, "di")})),
              0);
    ERRM_Set_NUSKMode(1);
    EXPECT_EQ(Process(0, 1), "ERROR 1:cannot open x\n");
    EXPECT_EQ(Process(0, 7, "a"), "Note N7:n a\n");
    EXPECT_EQ(Process(0, 5), "tr\n") << "TRACE, DEBUG and DISPLAY have no prefix";
    EXPECT_EQ(Process(0, 8), "di\n");
    // Any non-zero value acts as 1.
    ERRM_Set_NUSKMode(2);
    EXPECT_EQ(Process(0, 1), "ERROR 1:cannot open x\n");
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")), "** Error: (SIM - 1) cannot open x\n"
                                               "** Note: (SIM - N7) n a\n"
                                               "** Error: (SIM - 1) cannot open x\n");
    EXPECT_EQ(AfterHeader(ReadFile(lib.file("run.tra"))), "** Error: (SIM - 1) cannot open x\n"
                                                          "** Note: (SIM - N7) n a\n"
                                                          "** Error: (SIM - 1) cannot open x\n");
}

TEST(ChiLine, OverflowFailsTheWholeMessage) {
    Library lib;
    errmdesc::Message m = Msg(1, kError, "%s", {kStdout, kLog});
    m.id = std::string(1000, 'I');
    ASSERT_EQ(lib.Load(Cat("SIM", {m})), 0);
    ERRM_Set_NUSKMode(1);
    // "ERROR " + 1000 + ":" + text + "\n" must stay below 6175 characters.
    int rc = 0;
    std::string fits(6175 - 1 - 6 - 1000 - 1 - 1, 't');
    EXPECT_EQ(Process(0, 1, &rc, fits.c_str()), "ERROR " + m.id + ":" + fits + "\n");
    EXPECT_EQ(rc, 0);
    std::string over = fits + "t";
    EXPECT_EQ(Process(0, 1, &rc, over.c_str()), "");
    EXPECT_EQ(rc, ERRM_E_PRINTF);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(Count(lib.Report(".log"), "\n"), 2) << "header and the one line that fitted";
}

// ------------------------------------------------------------------ writers

TEST(Writers, ReportFilesOpenOnFirstUseWithOneHeader) {
    Library lib;
    ASSERT_EQ(
        lib.Load(Cat("SIM", {Msg(1, kError, "one", {kLog, kReport, kDbgI, kDbgC, kTranscript}),
                             Msg(2, kError, "two", {kLog})})),
        0);
    EXPECT_FALSE(FileExists(lib.file("run.log")));
    Process(0, 2);
    Process(0, 1);
    Process(0, 2);
    ASSERT_EQ(ERRM_FInit(), 1);
    std::string log = lib.Report(".log");
    EXPECT_TRUE(std::regex_match(
        log, std::regex(R"(START report: \w{3} \w{3} [ \d]\d \d{2}:\d{2}:\d{2} \d{4} \n)"
                        R"(\*\* Error: \(SIM - 2\) two\n)"
                        R"(\*\* Error: \(SIM - 1\) one\n)"
                        R"(\*\* Error: \(SIM - 2\) two\n)")))
        << log;
    for (const char *ext : {".rep", ".dbi", ".dbg", ".tra"})
        EXPECT_EQ(AfterHeader(lib.Report(ext)), "** Error: (SIM - 1) one\n") << ext;
}

TEST(Writers, ListOrderDuplicatesEmptyListsAndStrayIds) {
    Library lib;
    errmdesc::Message twice = Msg(1, kError, "twice", {kLog, kLog, 17, 9, 16, 200, kStdout});
    ASSERT_EQ(lib.Load(Cat("SIM", {twice, Msg(2, kError, "nowhere", {})})), 0);
    EXPECT_EQ(Process(0, 1), "** Error: (SIM - 1) twice\n");
    EXPECT_EQ(Process(0, 2), "");
    for (int i = 0; i < 5; ++i)
        Process(0, 2);
    EXPECT_EQ(*errm_CurrentEntry()->counter, 0u);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")),
              "** Error: (SIM - 1) twice\n** Error: (SIM - 1) twice\n");
}

TEST(Writers, PipeLines) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(12, kWarning, "pipe %d", {kPipe})}, "Shown")), 0);
    EXPECT_EQ(Process(0, 12, 5), "TCL ERR= 12 \nTCL ERR= 3 \nTCL SS = SIM \n"
                                 "TCL MSG= ** Warning: (Shown - 12) pipe 5\n \nTCL GEN=  \n");
}

TEST(Writers, UnauthorisedChannelsAreNeitherWrittenNorOpened) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "x", {kStdout, kLog, kReportF})})), 0);
    EXPECT_EQ(ERRM_Authorize_Printing("LOG", 0), 1);
    EXPECT_EQ(ERRM_Authorize_Printing("STDOUT", 5), 1);
    EXPECT_EQ(Process(0, 1), "");
    EXPECT_FALSE(FileExists(lib.file("run.log")));
    // REPORT_F authorised without a client stream writes on stdout.
    EXPECT_EQ(ERRM_Authorize_Printing("REPORT_F", 1), 1);
    EXPECT_EQ(Process(0, 1), "** Error: (SIM - 1) x\n");
    ClientStream f;
    ASSERT_EQ(ERRM_Set_ReportF_FD(f.get()), 0);
    EXPECT_EQ(Process(0, 1), "");
    EXPECT_EQ(f.Text(), "** Error: (SIM - 1) x\n");
}

TEST(Writers, FailingReportFileDoesNotSilenceTheOthers) {
    Library lib(true);
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "x", {kStdout, kLog, kTranscript, kReport}),
                                   Msg(2, kError, "y", {kStdout})})),
              0);
    ERRM_Set_RootReportFiles((lib.dir().path() + "/missing/run").c_str());
    int rc = 0;
    std::string out = Process(0, 1, &rc);
    EXPECT_EQ(rc, ERRM_E_REPORTS);
    EXPECT_NE(out.find("** Error: (SIM - 1) x\n"), std::string::npos)
        << "written before the failure";
    EXPECT_NE(out.find("FM error open, F=" + lib.dir().path() + "/missing/run.log E=1030\n"),
              std::string::npos);
    EXPECT_NE(out.find("Open file failure for " + lib.dir().path() +
                       "/missing/run.log @ F=src/reports/L="),
              std::string::npos);
    EXPECT_NE(out.find("Reports PutOnReports @ F=src/err_mgt/errm_shared/L="), std::string::npos);
    // The channels after the failed one still get the line; the counter
    // follows the line shown on standard output.
    EXPECT_NE(out.find("missing/run.rep E=1030\n"), std::string::npos);
    EXPECT_EQ(*errm_CurrentEntry()->counter, 1u);
    // The library goes on working.
    EXPECT_EQ(Process(0, 2, &rc), "** Error: (SIM - 2) y\n");
    EXPECT_EQ(rc, 0);
    ERRM_FInit();
    EXPECT_EQ(AfterHeader(ReadFile(lib.file("run.tra"))), "** Error: (SIM - 1) x\n");
}

// -------------------------------------------------------- repetition gate

TEST(Repetition, ThreePrintsThenNoticeThenSilenceWhileFilesGetAll) {
    Library lib;
    errmdesc::Message m = Msg(37, kError, "n=%d", {kStdout, kLog});
    ASSERT_EQ(lib.Load(Cat("SIM", {m}, "Simulator")), 0);
    std::string out;
    for (int i = 1; i <= 6; ++i)
        out += Process(0, 37, i);
    EXPECT_EQ(out, "** Error: (Simulator - 37) n=1\n** Error: (Simulator - 37) n=2\n"
                   "** Error: (Simulator - 37) n=3\n"
                   "Note: message (Simulator - 37) has been displayed 3 times and will not be "
                   "printed anymore \n");
    EXPECT_EQ(errm_Subsystems[0].counters[0], 4u);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(Count(lib.Report(".log"), "** Error"), 6);
}

TEST(Repetition, SeeLineSharesTheGateAndCountsNothing) {
    Library lib;
    errmdesc::Message m = Msg(5, kError, "msg", {kStdout});
    m.see = "manual";
    m.id = "ID-5";
    ASSERT_EQ(lib.Load(Cat("SIM", {m})), 0);
    const std::string line = "** Error: (SIM - ID-5) msg\n";
    const std::string notice =
        "Note: message (SIM - ID-5) has been displayed 3 times and will not be printed anymore \n";
    EXPECT_EQ(Process(0, 5), line + "see manual\n");
    EXPECT_EQ(Process(0, 5), line + "see manual\n");
    // The third occurrence brings the counter to 3: its see line is replaced.
    EXPECT_EQ(Process(0, 5), line + notice);
    EXPECT_EQ(Process(0, 5), notice);
    EXPECT_EQ(Process(0, 5), "");
}

TEST(Repetition, LimitSettingsVerboseModeAndDisplay) {
    Library lib;
    errmdesc::Message forced = Msg(2, kError, "forced");
    forced.force = 1;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "plain"), forced, Msg(8, kDisplay, "disp")})), 0);
    ERRM_Set_GlobalNbrMaxOfMessages(0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Process(0, 1), "** Error: (SIM - 1) plain\n");
    EXPECT_EQ(errm_Subsystems[0].counters[0], 5u);

    ERRM_Set_GlobalNbrMaxOfMessages(-1);
    EXPECT_EQ(Process(0, 1), "");
    EXPECT_EQ(Process(0, 8), "disp\n");
    EXPECT_EQ(errm_Subsystems[0].counters[0], 5u);
    EXPECT_EQ(errm_Subsystems[0].counters[2], 1u);

    ERRM_Set_GlobalNbrMaxOfMessages(3);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Process(0, 8), "disp\n") << "DISPLAY is never limited";
    EXPECT_EQ(errm_Subsystems[0].counters[2], 11u);

    ERRM_Set_GlobalVerboseMode(0);
    EXPECT_EQ(ERRM_ResetMessageCounter(0, 1, 0), 1);
    EXPECT_EQ(Process(0, 1), "");
    EXPECT_EQ(errm_Subsystems[0].counters[0], 0u) << "unprinted occurrences do not count";
    EXPECT_EQ(Process(0, 2), "** Error: (SIM - 2) forced\n");
    EXPECT_EQ(errm_Subsystems[0].counters[1], 1u);
}

TEST(Repetition, StdoutAndTranscriptCountOncePerOccurrence) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kNote, "both", {kStdout, kTranscript})})), 0);
    Process(0, 1);
    EXPECT_EQ(errm_Subsystems[0].counters[0], 1u);
    Process(0, 1);
    Process(0, 1);
    Process(0, 1);
    Process(0, 1);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(ReadFile(lib.file("run.tra"))),
              "** Note: (SIM - 1) both\n** Note: (SIM - 1) both\n** Note: (SIM - 1) both\n"
              "Note: message (SIM - 1) has been displayed 3 times and will not be printed anymore "
              "\n");
}

TEST(Repetition, ResetMessageCounter) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "a"), Msg(2, kError, "b")})), 0);
    ASSERT_EQ(lib.Load(Cat("OTH", {Msg(1, kError, "o")})), 1);
    for (int i = 0; i < 4; ++i)
        Process(0, 1);
    EXPECT_EQ(Process(0, 1), "");
    // The cached copy takes the new value at once.
    EXPECT_EQ(ERRM_ResetMessageCounter(0, 1, 0), 1);
    EXPECT_EQ(Process(0, 1), "** Error: (SIM - 1) a\n");
    EXPECT_EQ(ERRM_ResetMessageCounter(0, 1, 3), 1);
    EXPECT_EQ(
        Process(0, 1),
        "Note: message (SIM - 1) has been displayed 3 times and will not be printed anymore \n");
    EXPECT_EQ(ERRM_ResetMessageCounter(0, 2, 99), 1);
    EXPECT_EQ(Process(0, 2), "");
    // Another subsystem's message of the same number keeps its own counter.
    EXPECT_EQ(ERRM_ResetMessageCounter(1, 1, 50), 1);
    EXPECT_EQ(ERRM_ResetMessageCounter(0, 1, 0), 1);
    EXPECT_EQ(Process(0, 1), "** Error: (SIM - 1) a\n");
    EXPECT_EQ(Process(1, 1), "");
    EXPECT_EQ(ERRM_ResetMessageCounter(0, 3, 0), 0);
    EXPECT_EQ(ERRM_ResetMessageCounter(2, 1, 0), 0);
    EXPECT_EQ(ERRM_ResetMessageCounter(99, 1, 0), 0);
}

// ------------------------------------------------------ "not present" line

TEST(NotPresent, WrittenOnThePreviousMessagesChannels) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "first", {kStdout, kLog})})), 0);
    int rc = 0;
    // Before any message there is no current entry: the line goes nowhere.
    EXPECT_EQ(Process(0, 99, &rc), "");
    EXPECT_EQ(rc, ERRM_E_NOT_FOUND);
    Process(0, 1);
    const std::string line =
        "ERROR : errm error message number 99 not present in .bin, exit anyway.\n";
    EXPECT_EQ(Process(0, 99, &rc), line);
    EXPECT_EQ(rc, ERRM_E_NOT_FOUND);
    EXPECT_EQ(Process(5, 1, &rc),
              "ERROR : errm error message number 1 not present in .bin, exit anyway.\n");
    EXPECT_EQ(rc, ERRM_E_NOT_LOADED);
    // The line passes the repetition gate of the previous message: this is
    // its fourth occurrence on stdout.
    EXPECT_EQ(
        Process(16, 1, &rc),
        "Note: message (SIM - 1) has been displayed 3 times and will not be printed anymore \n");
    EXPECT_EQ(rc, ERRM_E_BAD_INDEX);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")),
              "** Error: (SIM - 1) first\n" + line +
                  "ERROR : errm error message number 1 not present in .bin, exit anyway.\n"
                  "ERROR : errm error message number 1 not present in .bin, exit anyway.\n");
}

TEST(NotPresent, CounterGoesOnlyToTheEntrysOwner) {
    Library lib;
    std::vector<errmdesc::Message> many;
    for (int i = 1; i <= 40; ++i)
        many.push_back(Msg(i, kError, "m"));
    ASSERT_EQ(lib.Load(Cat("BIG", many)), 0);
    ASSERT_EQ(lib.Load(Cat("SMALL", {Msg(1, kError, "s")})), 1);
    Process(0, 40);
    EXPECT_EQ(errm_Subsystems[0].counters[39], 1u);
    // A failed lookup in SMALL writes the line on BIG's message 40 channels;
    // its counter belongs to BIG, never to SMALL's smaller arrays.
    Process(1, 7);
    EXPECT_EQ(errm_Subsystems[0].counters[39], 2u);
    EXPECT_EQ(errm_Subsystems[1].counters[0], 0u);
    EXPECT_EQ(errm_Subsystems[1].counters[1], 0u);
}

// ------------------------------------------------------- limits and codes

TEST(Limits, FormatEstimateAndTextLength) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, std::string(48, '%'), {kLog}),
                                   Msg(2, kError, std::string(49, '%'), {kLog}),
                                   Msg(3, kError, "%s", {kLog})})),
              0);
    int rc = -1;
    Process(0, 1, &rc);
    EXPECT_EQ(rc, 0) << "48 percent signs estimate to exactly 6144";
    EXPECT_EQ(Process(0, 2, &rc), "");
    EXPECT_EQ(rc, ERRM_E_PRINTF);
    std::string exact(6144, 'x');
    Process(0, 3, &rc, exact.c_str());
    EXPECT_EQ(rc, 0);
    std::string over(6145, 'x');
    EXPECT_EQ(Process(0, 3, &rc, over.c_str()), "");
    EXPECT_EQ(rc, ERRM_E_PRINTF);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")), "** Error: (SIM - 1) " + std::string(24, '%') +
                                                   "\n** Error: (SIM - 3) " + exact + "\n");
}

TEST(Limits, LimitFailuresAreReported) {
    Library lib(true);
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(2, kError, std::string(49, '%')), Msg(3, kError, "%s")})),
              0);
    std::string out = Process(0, 2);
    EXPECT_NE(out.find("printf report too many chars for the space for sLine0-sfmt @ "
                       "F=src/err_mgt/errm_shared/L="),
              std::string::npos);
    std::string over(6145, 'x');
    out = Process(0, 3, over.c_str());
    EXPECT_NE(out.find("printf report too many chars for the space for sLine0 @"),
              std::string::npos);
}

TEST(Codes, ReturnCodesDelayedCountAndDebug) {
    Library lib;
    errmdesc::Message neg = Msg(1, kError, "neg");
    neg.rc = -7;
    errmdesc::Message delayed = Msg(2, kErrorDelayed, "late", {kStdout});
    delayed.rc = 1058;
    errmdesc::Message debug = Msg(6, kDebug, "dbg", {kStdout, kLog});
    debug.rc = 3;
    debug.see = "never";
    ASSERT_EQ(lib.Load(Cat("SIM", {neg, delayed, debug})), 0);
    int rc = 0;
    Process(0, 1, &rc);
    EXPECT_EQ(rc, -7);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), 0u);
    for (int i = 0; i < 6; ++i)
        Process(0, 2, &rc);
    EXPECT_EQ(rc, 1058) << "a descriptor code looks like a library code";
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), 6u) << "hidden occurrences count too";
    EXPECT_EQ(Process(0, 6, &rc), "");
    EXPECT_EQ(rc, 3);
    EXPECT_FALSE(FileExists(lib.file("run.log")));
    // The count survives the end of the cycle.
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), 6u);
}

TEST(Alternation, TwoSubsystemsProcessedAlternately) {
    Library lib;
    std::vector<errmdesc::Message> a, b;
    for (int i = 1; i <= 20; ++i) {
        a.push_back(Msg(i, kNote, "a%d", {kLog}));
        b.push_back(Msg(i, kWarning, "b%d", {kLog}));
    }
    ASSERT_EQ(lib.Load(Cat("AAA", a, "Alpha")), 0);
    ASSERT_EQ(lib.Load(Cat("BBB", b)), 1);
    std::string expected;
    for (int round = 0; round < 3; ++round) {
        for (int i = 1; i <= 20; ++i) {
            int rc = 1;
            Process(0, i, &rc, i);
            EXPECT_EQ(rc, 0);
            Process(1, i, &rc, i);
            EXPECT_EQ(rc, 0);
            expected += "** Note: (Alpha - " + std::to_string(i) + ") a" + std::to_string(i) + "\n";
            expected +=
                "** Warning: (BBB - " + std::to_string(i) + ") b" + std::to_string(i) + "\n";
        }
    }
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")), expected);
}

TEST(ChiLine, ANewCycleKeepsTheClientStreams) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "e", {kChi, kReportF})})), 0);
    ClientStream chi, rf;
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi.get()), 0);
    ASSERT_EQ(ERRM_Set_ReportF_FD(rf.get()), 0);
    Process(0, 1);
    ASSERT_EQ(ERRM_FInit(), 1);
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "e", {kChi, kReportF})})), 1);
    // Switched off by ERRM_Init, still registered: authorised again, the
    // channels write on the client's streams until they are reset.
    EXPECT_EQ(Process(1, 1), "");
    EXPECT_EQ(ERRM_Authorize_Printing("CHI", 1), 1);
    EXPECT_EQ(ERRM_Authorize_Printing("REPORT_F", 1), 1);
    EXPECT_EQ(Process(1, 1), "");
    EXPECT_EQ(chi.Text(), "ERROR 1:e\nERROR 1:e\n");
    EXPECT_EQ(rf.Text(), "** Error: (SIM - 1) e\n** Error: (SIM - 1) e\n");
    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    EXPECT_EQ(ERRM_Reset_ReportF_FD(), 0);
    // The streams can be handed in again.
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi.get()), 0);
    Process(1, 1);
    EXPECT_EQ(chi.Text(), "ERROR 1:e\nERROR 1:e\nERROR 1:e\n");
}
