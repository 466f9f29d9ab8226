// user_test.cpp - ERRM_DisplayUserMessage: the conversion of the caller's
// format (backslash sequences, XML references), its limits, and the channels
// of the bit mask with the verbose and force rule and the result bits.
#include "api_support.h"
#include "base/errm_trace.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <cstdarg>

using namespace errmtest;

namespace {

constexpr int kStdoutBit = 0x1, kPipeBit = 0x2, kTranscriptBit = 0x4, kDbgIBit = 0x8,
              kDbgCBit = 0x10, kReportBit = 0x20, kChiBit = 0x40, kLogBit = 0x80,
              kReportFBit = 0x100;

int forceOn = 1;
const void *const kForce = &forceOn;

// A user message on STDOUT only, not forced.
unsigned Show(const char *format, ...) {
    va_list args;
    va_start(args, format);
    unsigned rc =
        ERRM_DisplayUserMessage_variadic(7, 3, "SIM", nullptr, kStdoutBit, "gen", format, args);
    va_end(args);
    return rc;
}

std::string Replaced(char c) {
    return std::string("IsXMLEscapeSequence replaced -") + c + "-\n";
}

std::string PipeLines(int number, int severity, const std::string &subsystem,
                      const std::string &line, const std::string &generic) {
    return "TCL ERR= " + std::to_string(number) + " \nTCL ERR= " + std::to_string(severity) +
           " \nTCL SS = " + subsystem + " \nTCL MSG= " + line + " \nTCL GEN= " + generic + " \n";
}

struct TracedLibrary {
    Library lib{true};
    TracedLibrary() { errm_OpenDllTrace(); }
};

} // namespace

TEST(UserFormat, BackslashSequencesBecomeControlCharacters) {
    Library lib;
    StdoutCapture out;
    EXPECT_EQ(Show("Value %d\\n", 5), 1u);
    EXPECT_EQ(Show("a\\tb|"), 1u);
    EXPECT_EQ(Show("a\\qb|"), 1u);
    EXPECT_EQ(Show("\\\\n|"), 1u);
    EXPECT_EQ(Show("end\\"), 1u);
    EXPECT_EQ(out.Text(), "Value 5\r\na\tb|a\\qb|\\\r\n|end\\");
}

TEST(UserFormat, XmlReferencesAreReplacedAndAnnounced) {
    Library lib;
    StdoutCapture out;
    EXPECT_EQ(Show("&lt;b&gt;|"), 1u);
    EXPECT_EQ(Show("&lt;&gt;&#38;&apos;&quot;|"), 1u);
    EXPECT_EQ(out.Text(), Replaced('<') + Replaced('>') + "<b>|" + Replaced('<') + Replaced('>') +
                              Replaced('&') + Replaced('\'') + Replaced('"') + "<>&'\"|");
}

TEST(UserFormat, OtherAmpersandsAreCopiedUnchanged) {
    Library lib;
    StdoutCapture out;
    EXPECT_EQ(Show("&amp; &LT; &#60; & x|"), 1u);
    // Cut off by the end of the format: fewer characters left than the
    // reference is long.
    EXPECT_EQ(Show("x&lt"), 1u);
    EXPECT_EQ(Show("|&quot"), 1u);
    // Exactly as many left as the reference is long.
    EXPECT_EQ(Show("|y&gt;"), 1u);
    EXPECT_EQ(out.Text(), "&amp; &LT; &#60; & x|x&lt|&quot" + Replaced('>') + "|y>");
}

TEST(UserFormat, ConversionHappensBeforeTheChannelsAreChosen) {
    Library lib;
    StdoutCapture out;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, 0, "", "&lt;%d&gt;", 4), 0u);
    EXPECT_EQ(out.Text(), Replaced('<') + Replaced('>'));
}

// The line is printf's text, whether its conversions are the common ones
// (formatted without printf) or not (a flag, a width, another conversion, a
// null %s): every format takes a text and three ints.
TEST(UserFormat, LinesAreWhatPrintfGives) {
    const char *const formats[] = {"%s=%d|%i|%u|100%%|", "%5s|%-4d|%x|%c|", "%s %d %d %05d|",
                                   "%s|%d|%i|%u"};
    for (const char *text : {"ab", static_cast<const char *>(nullptr)}) {
        for (const char *format : formats) {
            SCOPED_TRACE(format);
            Library lib;
            StdoutCapture out;
            EXPECT_EQ(Show(format, text, -2147483647 - 1, 65, 4294967295u), 1u);
            char expected[128];
            std::snprintf(expected, sizeof expected, format, text, -2147483647 - 1, 65,
                          4294967295u);
            EXPECT_EQ(out.Text(), expected);
        }
    }
}

TEST(UserFormat, EmptyFormatGivesAnEmptyLine) {
    Library lib;
    StdoutCapture out;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kStdoutBit | kPipeBit, "g", ""), 3u);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kStdoutBit | kPipeBit, "g", nullptr),
              3u);
    EXPECT_EQ(out.Text(), PipeLines(1, 3, "SIM", "", "g") + PipeLines(1, 3, "SIM", "", "g"));
}

TEST(UserLimits, FormattedTextOf6143IsWrittenAnd6144Refused) {
    TracedLibrary traced;
    const std::string fits(6143, 'u');
    StdoutCapture out;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kStdoutBit | kPipeBit, "", "%s",
                                      fits.c_str()),
              3u);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kStdoutBit | kPipeBit, "", "%s",
                                      (fits + "v").c_str()),
              0u);
    EXPECT_EQ(Masked(out.Text()),
              fits + PipeLines(1, 3, "SIM", fits, "") +
                  ErrLine(1, "printf report too many chars for the space for sLine" + kCore));
}

TEST(UserLimits, FormatOf4096IsConvertedAnd4097Refused) {
    TracedLibrary traced;
    const std::string longest(4096, 'f');
    StdoutCapture out;
    EXPECT_EQ(Show(longest.c_str()), 1u);
    EXPECT_EQ(Show((longest + "g").c_str()), 0u);
    // Backslash sequences shorten nothing on input: 4097 characters fail too.
    std::string pairs;
    while (pairs.size() < 4096)
        pairs += "\\n";
    EXPECT_EQ(Show((pairs + "x").c_str()), 0u);
    EXPECT_EQ(out.Text(), longest + ErrLine(1, "Size too small for FMT size (after error=1023)\n") +
                              ErrLine(2, "Size too small for FMT size (after error=1023)\n"));
}

TEST(UserChannels, QuietModeLeavesOnlyThePipeUnlessForced) {
    Library lib;
    ERRM_Set_GlobalVerboseMode(0);
    StdoutCapture out;
    EXPECT_EQ(ERRM_DisplayUserMessage(5, 7, "SIM", nullptr, kStdoutBit | kPipeBit, "g", "quiet"),
              static_cast<unsigned>(kPipeBit));
    EXPECT_EQ(ERRM_DisplayUserMessage(5, 7, "SIM", kForce, kStdoutBit | kPipeBit, "g", "forced"),
              3u);
    EXPECT_EQ(out.Text(), PipeLines(5, 7, "SIM", "quiet", "g") + "forced" +
                              PipeLines(5, 7, "SIM", "forced", "g"));
}

TEST(UserChannels, PipeWritesFiveLinesAndAddsItsBit) {
    Library lib;
    StdoutCapture out;
    EXPECT_EQ(
        ERRM_DisplayUserMessage(42, 3, "SIM", nullptr, kPipeBit, "generic text", "a %s\\n", "b"),
        static_cast<unsigned>(kPipeBit));
    // Missing names show as empty texts.
    EXPECT_EQ(ERRM_DisplayUserMessage(43, 1, nullptr, nullptr, kPipeBit, nullptr, "c"),
              static_cast<unsigned>(kPipeBit));
    EXPECT_EQ(out.Text(),
              PipeLines(42, 3, "SIM", "a b\r\n", "generic text") + PipeLines(43, 1, "", "c", ""));
}

TEST(UserChannels, NoRepetitionLimit) {
    Library lib;
    ERRM_Set_GlobalNbrMaxOfMessages(1);
    StdoutCapture out;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Show("same|"), 1u);
    EXPECT_EQ(out.Text(), "same|same|same|same|");
}

TEST(UserChannels, UnauthorisedChannelsAreIgnoredWithoutReport) {
    TracedLibrary traced;
    ASSERT_EQ(ERRM_Authorize_Printing("STDOUT", 0), 1);
    StdoutCapture out;
    EXPECT_EQ(Show("hidden"), 0u);
    // CHI and REPORT_F are not authorised until a stream is handed in.
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", kForce, kChiBit | kReportFBit, "", "none"), 0u);
    EXPECT_EQ(out.Text(), "");
}

TEST(UserChannels, EveryChannelInTableOrder) {
    TracedLibrary traced;
    StdoutCapture out;
    // Bits above REPORT_F name no channel.
    EXPECT_EQ(ERRM_DisplayUserMessage(9, 1, "SIM", nullptr, 0xFFFF, "g", "all|"), 3u);
    const std::string notOpened = " not opened" + kCore;
    EXPECT_EQ(Masked(out.Text()),
              "all|" + PipeLines(9, 1, "SIM", "all|", "g") + ErrLine(1, "Report 2" + notOpened) +
                  ErrLine(2, "Report 3" + notOpened) + ErrLine(3, "Report 4" + notOpened) +
                  ErrLine(4, "Report 5" + notOpened) + ErrLine(5, "Report 7" + notOpened));
    for (const char *name : {"run.tra", "run.dbi", "run.dbg", "run.rep", "run.log"})
        EXPECT_FALSE(FileExists(traced.lib.file(name))) << "user messages open no file: " << name;
}

TEST(UserChannels, ReportIsWrittenOnceAProcessedMessageOpenedIt) {
    TracedLibrary traced;
    Library &lib = traced.lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "processed", {kReport})}));
    StdoutCapture before;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kReportBit, "", "early\n"), 0u);
    EXPECT_EQ(Masked(before.Text()), ErrLine(1, "Report 5 not opened" + kCore));
    EXPECT_FALSE(FileExists(lib.file("run.rep")));

    StdoutCapture after;
    EXPECT_EQ(ERRM_ProcessError(ss, 1), 0);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kReportBit, "", "late %d\n", 2),
              static_cast<unsigned>(kReportBit));
    // Verbose mode 0 without force holds back REPORT as well.
    ERRM_Set_GlobalVerboseMode(0);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kReportBit, "", "held\n"), 0u);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", kForce, kReportBit, "", "forced\n"),
              static_cast<unsigned>(kReportBit));
    EXPECT_EQ(after.Text(), "");
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".rep")), "** Error: (SIM - 1) processed\nlate 2\nforced\n");
}

TEST(UserChannels, ChiGetsOnlyTheUserLineUnderTheVerboseRule) {
    TracedLibrary traced;
    Library &lib = traced.lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "processed", {kChi})}));
    std::FILE *chi = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    StdoutCapture out;
    // Before any processed message, and after one that left its Chi line.
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kChiBit, "", "first\n"),
              static_cast<unsigned>(kChiBit));
    EXPECT_EQ(ERRM_ProcessError(ss, 1), 0);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kChiBit, "", "user %d\n", 2),
              static_cast<unsigned>(kChiBit));
    ERRM_Set_GlobalVerboseMode(0);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kChiBit, "", "quiet\n"), 0u);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", kForce, kChiBit, "", "forced\n"),
              static_cast<unsigned>(kChiBit));
    ASSERT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", kForce, kChiBit, "", "after reset\n"), 0u);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(StreamText(chi), "first\nERROR 1:processed\nuser 2\nforced\n");
    std::fclose(chi);
}

TEST(UserChannels, ReportFWithAClientStream) {
    Library lib;
    std::FILE *reportF = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ReportF_FD(reportF), 0);
    StdoutCapture out;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kReportFBit, "", "to F %s\n", "x"),
              static_cast<unsigned>(kReportFBit));
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(StreamText(reportF), "to F x\n");
    ASSERT_EQ(ERRM_Reset_ReportF_FD(), 0);
    std::fclose(reportF);
}

TEST(UserChannels, FailedWriteAddsNoBit) {
    Library lib;
    WriteFile(lib.file("readonly.txt"), "");
    std::FILE *readOnly = std::fopen(lib.file("readonly.txt").c_str(), "r");
    ASSERT_NE(readOnly, nullptr);
    ASSERT_EQ(ERRM_Set_ReportF_FD(readOnly), 0);
    StdoutCapture out;
    EXPECT_EQ(ERRM_DisplayUserMessage(1, 3, "SIM", nullptr, kStdoutBit | kReportFBit, "", "w|"),
              static_cast<unsigned>(kStdoutBit));
    EXPECT_EQ(out.Text(), "w|FM error write, F=REPORT_F E=1032\n");
    ASSERT_EQ(ERRM_Reset_ReportF_FD(), 0);
    std::fclose(readOnly);
}

TEST(UserChannels, BitsOfTheWrittenChannelsAreSummed) {
    Library lib;
    int ss = lib.Load(Cat("SIM", {Msg(1, kError, "opens", {kReport, kLog, kDbgI})}));
    std::FILE *chi = std::tmpfile();
    std::FILE *reportF = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    ASSERT_EQ(ERRM_Set_ReportF_FD(reportF), 0);
    ASSERT_EQ(ERRM_ProcessError(ss, 1), 0);
    StdoutCapture out;
    const int written =
        kStdoutBit | kPipeBit | kDbgIBit | kReportBit | kChiBit | kLogBit | kReportFBit;
    EXPECT_EQ(ERRM_DisplayUserMessage(2, 1, "SIM", nullptr, written | 0x600, "", "all\n"),
              static_cast<unsigned>(0x1 + 0x2 + 0x8 + 0x20 + 0x40 + 0x80 + 0x100));
    // The DBG_C and TRANSCRIPT bits name channels not opened: no bit for them.
    EXPECT_EQ(ERRM_DisplayUserMessage(2, 1, "SIM", nullptr, kDbgCBit | kTranscriptBit | kLogBit, "",
                                      "log\n"),
              static_cast<unsigned>(kLogBit));
    EXPECT_EQ(out.Text(), "all\n" + PipeLines(2, 1, "SIM", "all\n", ""));
    EXPECT_EQ(StreamText(chi), "all\n") << "not in the processed message's list";
    EXPECT_EQ(StreamText(reportF), "all\n");
    ERRM_Reset_ChiFileHandle();
    ERRM_Reset_ReportF_FD();
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".rep")), "** Error: (SIM - 1) opens\nall\n");
    EXPECT_EQ(AfterHeader(lib.Report(".log")), "** Error: (SIM - 1) opens\nall\nlog\n");
    EXPECT_EQ(AfterHeader(lib.Report(".dbi")), "** Error: (SIM - 1) opens\nall\n");
    std::fclose(chi);
    std::fclose(reportF);
}
