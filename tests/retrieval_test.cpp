// retrieval_test.cpp - ERRM_Get_ErrorMessage: the text handed back in the
// Return buffer, what it leaves untouched (channels, follow-up actions,
// counters), its refusals, the growth of the buffer, and its life cycle.
#include "api_support.h"
#include "base/errm_alloc.h"
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>

using namespace errmtest;

namespace {

const std::vector<std::uint8_t> kEveryChannel = {kStdout, kPipe,   kChi, kTranscript, kDbgI,
                                                 kDbgC,   kReport, kLog, kReportF};

char *GetV(unsigned subsystem, int number, ...) {
    va_list args;
    va_start(args, number);
    char *text = ERRM_Get_ErrorMessage_variadic(subsystem, number, args);
    va_end(args);
    return text;
}

// The decorated line of an ERROR message without identifier or stamp.
std::string ErrorLine(const std::string &label, int number, const std::string &text) {
    return "** Error: (" + label + " - " + std::to_string(number) + ") " + text + "\n";
}

} // namespace

TEST(Retrieval, HandsBackTheDecoratedLineAndWritesNowhere) {
    Library lib;
    WriteFile(lib.file("notes.txt"), "note line\n");
    errmdesc::Message m = Msg(37, kError, "cannot open %s (code %d)", kEveryChannel);
    m.see = "user guide";
    m.cat = "FILE=" + lib.file("notes.txt");
    m.command = "CMD=echo ran";
    m.rc = -2;
    int ss = lib.Load(Cat("SIM", {m}));
    ASSERT_EQ(ss, 0);
    std::FILE *chi = std::tmpfile();
    std::FILE *reportF = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    ASSERT_EQ(ERRM_Set_ReportF_FD(reportF), 0);
    const unsigned delayed = ERRM_GetNumberOfDelayedErrors();

    StdoutCapture out;
    char *text = ERRM_Get_ErrorMessage(ss, 37, "x.dat", 5);
    char *again = GetV(ss, 37, "y.dat", 6);
    EXPECT_EQ(out.Text(), "") << "no channel, no see line, no cat, no command";

    ASSERT_NE(text, nullptr);
    EXPECT_EQ(again, text) << "one Return buffer, overwritten";
    EXPECT_STREQ(again, ErrorLine("SIM", 37, "cannot open y.dat (code 6)").c_str());
    EXPECT_EQ(StreamText(chi), "");
    EXPECT_EQ(StreamText(reportF), "");
    for (const char *name : {"run.tra", "run.dbi", "run.dbg", "run.rep", "run.log"})
        EXPECT_FALSE(FileExists(lib.file(name))) << name;
    EXPECT_EQ(errm_Subsystems[ss].counters[0], 0u);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), delayed);
    ERRM_Reset_ChiFileHandle();
    ERRM_Reset_ReportF_FD();
    std::fclose(chi);
    std::fclose(reportF);
}

TEST(Retrieval, LeavesTheRepetitionCountAlone) {
    Library lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kWarning, "w%d")}));
    ERRM_Set_GlobalNbrMaxOfMessages(1);
    for (int i = 0; i < 4; ++i)
        ASSERT_NE(ERRM_Get_ErrorMessage(ss, 1, i), nullptr);
    StdoutCapture out;
    ERRM_ProcessError(ss, 1, 7);
    ERRM_ProcessError(ss, 1, 8);
    // Had the retrievals counted, the first occurrence would be the notice.
    EXPECT_EQ(out.Text(), "** Warning: (SIM - 1) w7\n"
                          "Note: message (SIM - 1) has been displayed 1 times and will not be "
                          "printed anymore \n");
}

TEST(Retrieval, LayoutsFollowTheSettings) {
    Library lib;
    errmdesc::Message withId = Msg(2, kNote, "n");
    withId.id = "SIM-0002";
    int ss = lib.Load(
        Cat("SIM", {Msg(1, kError, "e %d"), withId, Msg(3, kDisplay, "bare")}, "Simulator"));
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1, 4), "** Error: (Simulator - 1) e 4\n");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 2), "** Note: (Simulator - SIM-0002) n\n");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 3), "bare\n");
    ERRM_AddNL(0);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1, 4), "** Error: (Simulator - 1) e 4");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 3), "bare");
}

TEST(Retrieval, NuskModeHandsBackTheChiLine) {
    Library lib;
    errmdesc::Message warning = Msg(2, kWarning, "w %s");
    warning.id = "W-2";
    int ss =
        lib.Load(Cat("SIM", {Msg(1, kError, "cannot open %s"), warning, Msg(3, kFatal, "f"),
                             Msg(4, kNote, "n"), Msg(5, kErrorDelayed, "d"), Msg(6, kTrace, "t")}));
    ERRM_Set_NUSKMode(1);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1, "x"), "ERROR 1:cannot open x\n");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 2, "y"), "Warning W-2:w y\n");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 3), "ERROR 3:f\n");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 4), "Note 4:n\n");
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 5), "ERROR 5:d\n");
    // Severities without a Chi prefix keep the bare text.
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 6), "t\n");
    // The Chi line always ends its line.
    ERRM_AddNL(0);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1, "z"), "ERROR 1:cannot open z\n");
    // Any other non-zero mode builds the Chi line it hands back.
    ERRM_Set_NUSKMode(2);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1, "w"), "ERROR 1:cannot open w\n");
}

TEST(Retrieval, MissingMessageGivesNullWithoutTheNotPresentLine) {
    Library lib(true);
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "one")}));
    ASSERT_EQ(ss, 0);
    // A processed message makes STDOUT the current entry's channel, where a
    // "not present" line would go.
    StdoutCapture first;
    ERRM_ProcessError(ss, 1);
    ASSERT_EQ(first.Text(), ErrorLine("SIM", 1, "one"));
    char *text = ERRM_Get_ErrorMessage(ss, 1);
    ASSERT_NE(text, nullptr);

    StdoutCapture out;
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 99), nullptr);
    EXPECT_EQ(ERRM_Get_ErrorMessage(5, 1), nullptr);
    EXPECT_EQ(ERRM_Get_ErrorMessage(16, 1), nullptr);
    EXPECT_EQ(Masked(out.Text()),
              ErrLine(1, "Error number 99 not found" + kDescriptor) +
                  ErrLine(2, "MEMORY file not yet read @ src/descriptor/L=#\n") +
                  ErrLine(3, "Index 16 invalid for sub system" + kDescriptor));
    EXPECT_STREQ(text, "") << "the buffer is emptied before the lookup";
}

TEST(Retrieval, DebugMessageGivesAnEmptyText) {
    Library lib;
    errmdesc::Message high = Msg(3, kDebug, "never");
    high.rc = 1000;
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "one"), Msg(2, kDebug, "debug %d"), high}));
    char *text = ERRM_Get_ErrorMessage(ss, 1);
    ASSERT_NE(text, nullptr);
    StdoutCapture out;
    char *debug = ERRM_Get_ErrorMessage(ss, 2, 5);
    EXPECT_EQ(debug, text);
    EXPECT_STREQ(debug, "");
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 3), nullptr) << "its return code still counts";
    EXPECT_EQ(out.Text(), "");
}

TEST(Retrieval, ReturnCodesFromOneThousandUpGiveNullThoughTheTextIsBuilt) {
    Library lib;
    const std::int16_t codes[] = {0, -1, -32768, 999, 1000, 32767};
    std::vector<errmdesc::Message> messages;
    for (int i = 0; i < 6; ++i) {
        messages.push_back(Msg(i + 1, kError, "rc %d"));
        messages.back().rc = codes[i];
    }
    int ss = lib.Load(Cat("RC", messages));
    char *buffer = ERRM_Get_ErrorMessage(ss, 1, 0);
    ASSERT_NE(buffer, nullptr);
    for (int i = 0; i < 6; ++i) {
        char *text = ERRM_Get_ErrorMessage(ss, i + 1, static_cast<int>(codes[i]));
        const std::string line = ErrorLine("RC", i + 1, "rc " + std::to_string(codes[i]));
        if (codes[i] >= 1000)
            EXPECT_EQ(text, nullptr) << codes[i];
        else
            EXPECT_EQ(text, buffer) << codes[i];
        EXPECT_EQ(std::string(buffer), line) << codes[i];
    }
}

TEST(Retrieval, ErrorDelayedRaisesTheDelayedCount) {
    Library lib;
    errmdesc::Message high = Msg(2, kErrorDelayed, "high");
    high.rc = 1000;
    int ss = lib.Load(Cat("SIM", {Msg(1, kErrorDelayed, "delayed %s"), high, Msg(3, kError, "e"),
                                  Msg(4, kErrorDelayed, "%s")}));
    const unsigned before = ERRM_GetNumberOfDelayedErrors();
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1, "a"), "** Error: (SIM - 1) delayed a\n");
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), before + 1);
    ERRM_Get_ErrorMessage(ss, 1, "b");
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), before + 2);
    // Dispatched, so counted, although the caller gets null.
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 2), nullptr);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), before + 3);
    ERRM_Get_ErrorMessage(ss, 3);
    ERRM_Get_ErrorMessage(ss, 99);
    // Refused before dispatch: not counted.
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 4, std::string(6145, 'x').c_str()), nullptr);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), before + 3);
}

TEST(Retrieval, FormatSizeEstimateIsNotApplied) {
    Library lib(true);
    // 25 "%%" pairs: 50 characters, which processing estimates at 6400.
    std::string percents;
    for (int i = 0; i < 25; ++i)
        percents += "%%";
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, percents)}));
    StdoutCapture out;
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1), ErrorLine("SIM", 1, std::string(25, '%')).c_str());
    EXPECT_EQ(out.Text(), "");

    StdoutCapture processed;
    EXPECT_EQ(ERRM_ProcessError(ss, 1), 1073);
    EXPECT_EQ(Masked(processed.Text()),
              ErrLine(1, "printf report too many chars for the space for sLine0-sfmt" + kCore));
}

TEST(Retrieval, TextOfMoreThan6144CharactersGivesNull) {
    Library lib(true);
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "%s")}));
    const std::string longest(6144, 'a');
    char *text = ERRM_Get_ErrorMessage(ss, 1, longest.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), ErrorLine("SIM", 1, longest));

    StdoutCapture out;
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 1, (longest + "b").c_str()), nullptr);
    EXPECT_EQ(Masked(out.Text()),
              ErrLine(1, "printf report too many chars for the space for sLine0" + kCore));
    EXPECT_STREQ(errm_G.ReturnBuffer, "");
}

TEST(Retrieval, ChiLineMustStayBelow6175Characters) {
    Library lib(true);
    errmdesc::Message fits = Msg(1, kError, "%s");
    fits.id = std::string(22, 'i');
    errmdesc::Message over = Msg(2, kError, "%s");
    over.id = std::string(23, 'j');
    int ss = lib.Load(Cat("SIM", {fits, over}));
    ERRM_Set_NUSKMode(1);
    const std::string text(6144, 't');
    // "ERROR " + 22 + ":" + 6144 + "\n" = 6174 characters.
    char *chi = ERRM_Get_ErrorMessage(ss, 1, text.c_str());
    ASSERT_NE(chi, nullptr);
    EXPECT_EQ(std::string(chi), "ERROR " + fits.id + ":" + text + "\n");

    StdoutCapture out;
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 2, text.c_str()), nullptr);
    EXPECT_EQ(Masked(out.Text()),
              ErrLine(1, "printf report too many chars for the space for sLineChi" + kCore));
}

TEST(Retrieval, ReturnBufferGrowsInSteps) {
    Library lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "%s")}));
    const int blocks = errm_AllocationCount();
    // The decoration around the text: "** Error: (SIM - 1) " and "\n".
    const std::size_t decoration = ErrorLine("SIM", 1, "").size();
    EXPECT_EQ(errm_G.ReturnCapacity, 2048u);
    struct Step {
        std::size_t length;   // characters kept
        std::size_t capacity; // capacity afterwards
    } steps[] = {{2046, 2048}, {2047, 2048}, {3000, 3072}, {100, 3072},
                 {3070, 3072}, {3071, 3072}, {3072, 3584}};
    char fill = 'a';
    for (const Step &s : steps) {
        const std::string body(s.length - decoration, fill++);
        char *text = ERRM_Get_ErrorMessage(ss, 1, body.c_str());
        ASSERT_NE(text, nullptr) << s.length;
        EXPECT_EQ(std::string(text), ErrorLine("SIM", 1, body)) << s.length;
        EXPECT_EQ(errm_G.ReturnCapacity, s.capacity) << s.length;
    }
    EXPECT_EQ(errm_AllocationCount(), blocks) << "growing reallocates the one block";
}

TEST(Retrieval, FailedGrowthGivesNullAndKeepsTheBuffer) {
    Library lib(true);
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "%s")}));
    const std::string body(3000, 'g');
    StdoutCapture out;
    errm_TestFailAllocation(1);
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 1, body.c_str()), nullptr);
    errm_TestFailAllocation(0);
    EXPECT_EQ(Masked(out.Text()), ErrLine(1, "Reports ReturnError" + kCore));
    EXPECT_EQ(errm_G.ReturnCapacity, 2048u);
    char *text = ERRM_Get_ErrorMessage(ss, 1, body.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), ErrorLine("SIM", 1, body));
}

TEST(Retrieval, NullOutsideAnInitFInitCycle) {
    ScopedEnv platform("ORV_VCO", "ixl");
    ScopedEnv debug("KOVA_ERRM_LDBG", std::nullopt);
    TempDir dir;
    WriteDescriptor(Cat("SIM", {Msg(1, kError, "one")}), dir.path());
    ERRM_Set_Root_ForMemoryDescriptor((dir.path() + "/").c_str());
    // Nothing has been set up in this process yet.
    EXPECT_EQ(ERRM_Get_ErrorMessage(0, 1), nullptr);

    ASSERT_EQ(ERRM_Init(), 1);
    int ss = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("SIM", &ss), 0);
    EXPECT_STREQ(ERRM_Get_ErrorMessage(ss, 1), ErrorLine("SIM", 1, "one").c_str());
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(ERRM_Get_ErrorMessage(ss, 1), nullptr);
    EXPECT_EQ(GetV(ss, 1), nullptr);

    // A new cycle hands texts back again.
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(ERRM_ReadErrorDescriptor("SIM", &ss), 0);
    EXPECT_STREQ(GetV(ss, 1), ErrorLine("SIM", 1, "one").c_str());
    ERRM_FInit();
}
