// init_test.cpp - ERRM_Init: the platform check, the debug settings read
// from KOVA_ERRM_LDBG, the byte order, the channel set-up, the Return
// buffer and a second initialisation; and the environment operations
// beneath it (reference expansion, flag words, the flag dump).
#include "base/errm_alloc.h"
#include "base/errm_env.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "errm.h"
#include "frame_support.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "test_support.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/mman.h>

using errmtest::MaskLines;
using errmtest::ReadFile;
using errmtest::ScopedEnv;
using errmtest::StdoutCapture;
using errmtest::SysGuard;
using errmtest::TempDir;

namespace {

struct Flags {
    int consoleOut, debug, debugL2, debugDump, debugMem, traceDLL;
    bool operator==(const Flags &o) const {
        return consoleOut == o.consoleOut && debug == o.debug && debugL2 == o.debugL2 &&
               debugDump == o.debugDump && debugMem == o.debugMem && traceDLL == o.traceDLL;
    }
};

std::ostream &operator<<(std::ostream &os, const Flags &f) {
    return os << f.consoleOut << f.debug << f.debugL2 << f.debugDump << f.debugMem << f.traceDLL;
}

Flags CurrentFlags() {
    return {errm_G.FConsoleOut, errm_G.FDebug,    errm_G.FDebugL2,
            errm_G.FDebugDump,  errm_G.FDebugMem, errm_G.FTraceDLL};
}

void SetFlags(const Flags &f) {
    errm_G.FConsoleOut = f.consoleOut;
    errm_G.FDebug = f.debug;
    errm_G.FDebugL2 = f.debugL2;
    errm_G.FDebugDump = f.debugDump;
    errm_G.FDebugMem = f.debugMem;
    errm_G.FTraceDLL = f.traceDLL;
}

std::string Dump(const Flags &f) {
    return "FConsoleOut=" + std::to_string(f.consoleOut) + "\n" +
           "FDebug     =" + std::to_string(f.debug) + "\n" +
           "FDebugL2   =" + std::to_string(f.debugL2) + "\n" +
           "FDebugDump =" + std::to_string(f.debugDump) + "\n" +
           "FDebugMem  =" + std::to_string(f.debugMem) + "\n" +
           "FTraceDLL  =" + std::to_string(f.traceDLL) + "\n";
}

// A valid platform and a given KOVA_ERRM_LDBG (nullopt: not set).
class Init : public ::testing::Test {
  protected:
    // Runs ERRM_Init with the variable set to value; returns its stdout.
    std::string InitWith(std::optional<std::string> value, int expected = 1) {
        ScopedEnv ldbg("KOVA_ERRM_LDBG", std::move(value));
        StdoutCapture out;
        int result = ERRM_Init();
        std::string text = out.Text();
        EXPECT_EQ(result, expected);
        return text;
    }

    ScopedEnv vco_{"ORV_VCO", "ixl"};
    TempDir dir_;
};

int g_munmaps = 0;
int g_closes = 0;

int CountingMunmap(void *addr, std::size_t len) {
    ++g_munmaps;
    return errm_SysDefault.munmap(addr, len);
}

int CountingClose(int fd) {
    ++g_closes;
    return errm_SysDefault.close(fd);
}

} // namespace

// ------------------------------------------------------------- ERRM_Init

TEST_F(Init, WithoutDebugVariableEverythingIsReset) {
    SetFlags({1, 1, 1, 1, 1, 1});
    EXPECT_EQ(InitWith(std::nullopt), "");
    EXPECT_EQ(CurrentFlags(), (Flags{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(errm_G.NbrOfReports, 9);
    EXPECT_EQ(errm_G.ByteOrder, 1);
    EXPECT_STREQ(errm_G.DebugPath, "");
    EXPECT_STREQ(errm_G.PlatformName, "NIX");
    ASSERT_NE(errm_G.ReturnBuffer, nullptr);
    EXPECT_STREQ(errm_G.ReturnBuffer, "");
    EXPECT_EQ(errm_G.ReturnCapacity, 2048u);
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    EXPECT_EQ(ERRM_FInit(), 1);
}

TEST_F(Init, ChannelTableIsSetUp) {
    errm_Reports[ERRM_CH_LOG].authorised = 0;
    errm_Reports[ERRM_CH_CHI].authorised = 1;
    errm_Reports[ERRM_CH_REPORT].opened = 1;
    errm_Reports[ERRM_CH_REPORT].handle = -1;
    InitWith(std::nullopt);
    for (int id = 0; id < ERRM_CH_COUNT; ++id) {
        EXPECT_EQ(errm_Reports[id].opened, 0) << id;
        EXPECT_EQ(errm_Reports[id].authorised, id == ERRM_CH_CHI || id == ERRM_CH_REPORT_F ? 0 : 1)
            << id;
    }
    EXPECT_EQ(errm_G.NbrOfReports, 9);
}

TEST_F(Init, ByteOrderOfThisHost) {
    EXPECT_EQ(errm_DetectByteOrder(), 1);
    EXPECT_EQ(errm_G.ByteOrder, 1);
}

TEST(InitPlatform, MissingCodeFailsAndChangesNothing) {
    ScopedEnv vco("ORV_VCO", std::nullopt);
    ScopedEnv ldbg("KOVA_ERRM_LDBG", "T:T:T");
    SetFlags({1, 0, 1, 0, 0, 0});
    StdoutCapture out;
    const int result = ERRM_Init();
    EXPECT_EQ(out.Text(), "Error ORV_VCO not set\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(errm_G.NbrOfReports, 0);
    EXPECT_EQ(errm_G.ByteOrder, -1);
    EXPECT_EQ(errm_G.ReturnBuffer, nullptr);
    EXPECT_EQ(errm_G.TraceLineNumber, 1) << "the trace is off: the failure is not reported";
    EXPECT_EQ(ERRM_FInit(), 0);
}

TEST(InitPlatform, UnknownOrEndRowCodeFailsSilently) {
    for (const char *code : {"abc", "???", "IXL"}) {
        ScopedEnv vco("ORV_VCO", code);
        StdoutCapture out;
        EXPECT_EQ(ERRM_Init(), 0) << code;
        EXPECT_EQ(out.Text(), "") << code;
        EXPECT_STREQ(errm_G.PlatformName, "??");
        EXPECT_EQ(errm_G.NbrOfReports, 0);
    }
}

TEST(InitPlatform, FailureIsReportedOnceTheTraceFlagIsOn) {
    TempDir dir;
    {
        ScopedEnv vco("ORV_VCO", "iil");
        ScopedEnv ldbg("KOVA_ERRM_LDBG", dir.path() + ";1:0:0:0:0:1");
        ASSERT_EQ(ERRM_Init(), 1);
    }
    ScopedEnv ldbg("KOVA_ERRM_LDBG", std::nullopt);
    {
        ScopedEnv vco("ORV_VCO", std::nullopt);
        StdoutCapture out;
        EXPECT_EQ(ERRM_Init(), 0);
        EXPECT_EQ(MaskLines(out.Text()), "Error ORV_VCO not set\n"
                                         "DLL-E(  2): DLL-E(  2): Platform ORV_VCO invalid "
                                         "@ F=src/err_mgt/errm_shared/L=#\n");
    }
    {
        ScopedEnv vco("ORV_VCO", "ix");
        StdoutCapture out;
        EXPECT_EQ(ERRM_Init(), 0);
        EXPECT_EQ(MaskLines(out.Text()), "DLL-E(  3): DLL-E(  3): Platform ?? invalid "
                                         "@ F=src/err_mgt/errm_shared/L=#\n");
    }
    // The failed calls changed nothing: the flags of the first call stay.
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(std::string(errm_G.DebugPath), dir.path());
    EXPECT_EQ(ERRM_FInit(), 1);
}

TEST_F(Init, WindowsCodeIsAValidPlatform) {
    ScopedEnv vco("ORV_VCO", "ixn");
    InitWith(std::nullopt);
    EXPECT_STREQ(errm_G.PlatformName, "WIN");
}

// --------------------------------------------------- flag list without path

TEST_F(Init, FlagListWithoutPathAppliesFiveFlagsAndNeverTheTrace) {
    errm_StrCopy(errm_G.DebugPath, sizeof errm_G.DebugPath, "/unchanged");
    EXPECT_EQ(InitWith("T:X:1"), "NO PATH, but vars=T:X:1 \n");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 1, 0, 0, 0}));
    EXPECT_STREQ(errm_G.DebugPath, "/unchanged");

    EXPECT_EQ(InitWith("1:0:0:1:0:1"), "NO PATH, but vars=1:0:0:1:0:1 \n");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 0, 1, 0, 0}));
    EXPECT_STREQ(errm_G.DebugPath, "/unchanged");
}

TEST_F(Init, ValuesOfAnyLengthAreReadWhole) {
    // A flag list far longer than any buffer: printed whole, decoded.
    std::string list = "T:0:1:" + std::string(3000, ':') + "Y";
    EXPECT_EQ(InitWith(list), "NO PATH, but vars=" + list + " \n");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 1, 1, 0, 0}));
    // A directory longer than DebugPath holds keeps what fitted; the flags
    // after it still apply.
    std::string dir(1500, 'd');
    EXPECT_EQ(InitWith(dir + ";T:X:X:X:X:T"), "");
    EXPECT_EQ(std::string(errm_G.DebugPath), std::string(1023, 'd'));
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 0, 0, 0, 1}));
    // A quoted directory of exactly the field's capacity.
    EXPECT_EQ(InitWith("'" + std::string(1023, 'q') + "';X"), "");
    EXPECT_EQ(std::string(errm_G.DebugPath), std::string(1023, 'q'));
}

TEST_F(Init, FlagListWithoutPathDumpsTheFlagsWhenDebugIsSet) {
    EXPECT_EQ(InitWith("T,,T"), "NO PATH, but vars=T,,T \n" + Dump({1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(CurrentFlags(), (Flags{1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(InitWith("n:yes:n:n:vrai:y"),
              "NO PATH, but vars=n:yes:n:n:vrai:y \n" + Dump({0, 1, 0, 0, 1, 0}));
}

TEST_F(Init, MemoryFlagKeepsItsValueUnlessTheListNamesIt) {
    errm_G.FDebugMem = 1;
    InitWith("X:X");
    EXPECT_EQ(CurrentFlags(), (Flags{0, 0, 0, 0, 1, 0}));
    InitWith(dir_.path() + ";1");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 0, 0, 1, 0}));
    InitWith(dir_.path() + ";1:1:1:1:X:1");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 1, 1, 1, 1, 1}));
    InitWith(dir_.path() + ";1:1:1:1:OUI");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 1, 1, 1, 0, 0}));
    errm_G.FDebugMem = 1;
    InitWith("x:x:x:x:0");
    EXPECT_EQ(errm_G.FDebugMem, 0);
    errm_G.FDebugMem = 1;
    InitWith(std::nullopt);
    EXPECT_EQ(errm_G.FDebugMem, 0) << "no variable: all six are cleared";
    errm_G.FDebugMem = 1;
    InitWith(dir_.path() + ";");
    EXPECT_EQ(errm_G.FDebugMem, 0) << "nothing after ';': all six are cleared";
}

// ------------------------------------------------------ path and flag list

TEST_F(Init, LowerCaseWordsAreAcceptedAndTheDumpFollows) {
    const std::string value = dir_.path() + ";x:t:x:x:x:true";
    EXPECT_EQ(InitWith(value), Dump({0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(CurrentFlags(), (Flags{0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(std::string(errm_G.DebugPath), dir_.path());
    EXPECT_EQ(errm_G.FTraceOpened, 0) << "the trace is only prepared";
}

TEST_F(Init, VariableIsParsedFromACopy) {
    const std::string value = "'" + dir_.path() + "';1:0";
    ScopedEnv ldbg("KOVA_ERRM_LDBG", value);
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(std::string(std::getenv("KOVA_ERRM_LDBG")), value);
    EXPECT_EQ(std::string(errm_G.DebugPath), dir_.path());
}

TEST_F(Init, NothingAfterTheSeparatorClearsAllFlags) {
    SetFlags({1, 1, 1, 1, 1, 1});
    EXPECT_EQ(InitWith("/tmp;"), "ALL false\n");
    EXPECT_EQ(CurrentFlags(), (Flags{0, 0, 0, 0, 0, 0}));
    EXPECT_STREQ(errm_G.DebugPath, "/tmp");
}

TEST_F(Init, QuotedDirectory) {
    EXPECT_EQ(InitWith("'/my dir';T"), "");
    EXPECT_STREQ(errm_G.DebugPath, "/my dir");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 0, 0, 0, 0, 0}));
    // The first and the last character go, whatever the last one is.
    InitWith("'/half;T");
    EXPECT_STREQ(errm_G.DebugPath, "/hal");
    InitWith("';T");
    EXPECT_STREQ(errm_G.DebugPath, "");
    // Only a leading quote counts.
    InitWith("/a'b';T");
    EXPECT_STREQ(errm_G.DebugPath, "/a'b'");
}

TEST_F(Init, DirectoryReferencesAreExpanded) {
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(InitWith("${HOME}/log;X:X:X:X:X:1"), "");
    EXPECT_STREQ(errm_G.DebugPath, "/home/u/log");
    EXPECT_EQ(CurrentFlags(), (Flags{0, 0, 0, 0, 0, 1}));
}

TEST_F(Init, MissingReferenceKeepsTheTextBeforeItAndGoesOn) {
    ScopedEnv missing("ERRM_TEST_NO_SUCH_VAR", std::nullopt);
    EXPECT_EQ(InitWith("/pre/${ERRM_TEST_NO_SUCH_VAR}/post;1"),
              "ERROR: \"ERRM_TEST_NO_SUCH_VAR\" not found in env\n");
    EXPECT_STREQ(errm_G.DebugPath, "/pre/");
    EXPECT_EQ(errm_G.FConsoleOut, 1) << "the flags are still decoded";
    EXPECT_NE(errm_G.ReturnBuffer, nullptr);
}

TEST_F(Init, LeadingSeparatorsAreSkipped) {
    InitWith(";;/lead;1:1");
    EXPECT_STREQ(errm_G.DebugPath, "/lead");
    EXPECT_EQ(CurrentFlags(), (Flags{1, 1, 0, 0, 0, 0}));
    // Only the first ';' after the directory separates: the rest is flags.
    InitWith("/d;0:1;x");
    EXPECT_STREQ(errm_G.DebugPath, "/d");
    EXPECT_EQ(errm_G.FDebug, 0) << "\"1;X\" is no known word";
}

TEST_F(Init, SeparatorsOnlyHoldNoWord) {
    SetFlags({1, 1, 1, 1, 1, 1});
    EXPECT_EQ(InitWith("/dir;:,:"), "");
    EXPECT_EQ(CurrentFlags(), (Flags{0, 0, 0, 0, 1, 0}));
    EXPECT_STREQ(errm_G.DebugPath, "/dir");
}

// ------------------------------------------------------- Return buffer

TEST_F(Init, FailedReturnBufferAllocationFailsAfterTheResets) {
    ScopedEnv ldbg("KOVA_ERRM_LDBG", dir_.path() + ";1");
    errm_TestFailAllocation(1);
    StdoutCapture out;
    const int result = ERRM_Init();
    const std::string text = out.Text();
    errm_TestFailAllocation(0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(errm_G.ReturnBuffer, nullptr);
    EXPECT_EQ(errm_G.FConsoleOut, 1);
    EXPECT_EQ(std::string(errm_G.DebugPath), dir_.path());
    EXPECT_EQ(errm_G.ByteOrder, 1);
    EXPECT_EQ(errm_G.NbrOfReports, 9);
    EXPECT_EQ(ERRM_FInit(), 0);
    EXPECT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(ERRM_FInit(), 1);
}

// ------------------------------------------------- second initialisation

TEST_F(Init, SecondInitReleasesWhatTheFirstCycleHeld) {
    SysGuard sys;
    errm_Sys.munmap = CountingMunmap;
    errm_Sys.close = CountingClose;
    errmtest::WriteEmptyDescriptor(dir_.file("errm_desc_ABC.bin"), "ABC");
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(dir_.path().c_str()), 1);
    ASSERT_EQ(ERRM_Set_RootReportFiles(dir_.file("run").c_str()), 1);
    ERRM_Set_GlobalNbrMaxOfMessages(7);
    const int before = errm_AllocationCount();

    InitWith(std::nullopt);
    int index = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("abc", &index), 0);
    ASSERT_EQ(index, 0);
    ASSERT_EQ(errm_Subsystems[0].loaded, 1);
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_LOG), 1);
    const int log = errm_Reports[ERRM_CH_LOG].handle;
    ASSERT_EQ(errm_FM_Puts(log, "first cycle\n"), 0);
    EXPECT_EQ(errm_AllocationCount(), before + 1 + 3 + 1)
        << "Return buffer, three row blocks, the log file name";

    g_munmaps = 0;
    g_closes = 0;
    InitWith(std::nullopt);
    EXPECT_EQ(errm_Subsystems[0].loaded, 0);
    EXPECT_EQ(g_munmaps, 1);
    EXPECT_EQ(g_closes, 0) << "the descriptor file was closed by its load";
    EXPECT_EQ(errm_LoadedCount(), 1) << "the load count is never reset";
    EXPECT_EQ(errm_FM_InUse(log), 0) << "the log file is closed";
    EXPECT_EQ(errm_Reports[ERRM_CH_LOG].opened, 0);
    EXPECT_EQ(ReadFile(dir_.file("run.log")), "first cycle\n");
    EXPECT_EQ(errm_AllocationCount(), before + 1) << "only the new Return buffer";
    EXPECT_EQ(errm_G.GlobalNbrMaxOfMessages, 7);
    EXPECT_STREQ(errm_G.RootReportFiles, dir_.file("run").c_str());

    // The next load takes the next index.
    ASSERT_EQ(ERRM_ReadErrorDescriptor("abc", &index), 0);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_AllocationCount(), before);
    EXPECT_EQ(g_munmaps, 2);
}

// ------------------------------------------------------- flag words

TEST(FlagWords, BooleanWordsCompareExactly) {
    EXPECT_EQ(errm_DecodeBoolean("X"), 2);
    for (const char *word : {"1", "YES", "TRUE", "T", "VRAI", "V", "Y"})
        EXPECT_EQ(errm_DecodeBoolean(word), 1) << word;
    for (const char *word : {"x", "t", "yes", "0", "NO", "F", "FALSE", "ON", "OUI", "", " T", "T ",
                             "TRUEX", "YE", "2", "XX"})
        EXPECT_EQ(errm_DecodeBoolean(word), 0) << '"' << word << '"';
}

TEST(FlagWords, ListDecodesSixWordsAtMost) {
    int values[8];
    std::memset(values, 0x55, sizeof values);
    EXPECT_EQ(errm_DecodeFlagList("x:yes:TRUE:vrai:V:y:0:1", values), 1);
    EXPECT_EQ(values[0], 2);
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(values[i], 1) << i;
    EXPECT_EQ(values[6], 0x55555555) << "only six values are written";
    EXPECT_EQ(values[7], 0x55555555);

    EXPECT_EQ(errm_DecodeFlagList("0,no:f,,false::on,oui", values), 1);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(values[i], 0) << i;

    EXPECT_EQ(errm_DecodeFlagList("t,,t", values), 1);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 1);
    for (int i = 2; i < 6; ++i)
        EXPECT_EQ(values[i], 2) << "a flag without a word keeps its value";
}

TEST(FlagWords, ListWithoutWords) {
    int values[6] = {0, 1, 0, 1, 0, 1};
    for (const char *list : {"", ":", ",:,:,,", "::::::::"}) {
        EXPECT_EQ(errm_DecodeFlagList(list, values), 0) << '"' << list << '"';
        for (int v : values)
            EXPECT_EQ(v, 2) << '"' << list << '"';
    }
}

TEST(FlagWords, ListIsNotModified) {
    char list[] = "t:yes:x";
    int values[6];
    EXPECT_EQ(errm_DecodeFlagList(list, values), 1);
    EXPECT_STREQ(list, "t:yes:x");
    // An overlong word is no known word.
    const std::string longWord = std::string(200, 'T') + ":1";
    EXPECT_EQ(errm_DecodeFlagList(longWord.c_str(), values), 1);
    EXPECT_EQ(values[0], 0);
    EXPECT_EQ(values[1], 1);
}

TEST(FlagWords, DumpShowsTheSixFlags) {
    SetFlags({1, 0, 5, -1, 1, 0});
    StdoutCapture out;
    errm_DumpFlags();
    EXPECT_EQ(out.Text(), "FConsoleOut=1\nFDebug     =0\nFDebugL2   =5\n"
                          "FDebugDump =-1\nFDebugMem  =1\nFTraceDLL  =0\n");
}

TEST(FlagWords, StripQuotesRemovesFirstAndLastCharacter) {
    auto strip = [](const char *text) {
        std::size_t len = std::strlen(text);
        errm_StripQuotes(&text, &len);
        return std::string(text, len);
    };
    EXPECT_EQ(strip("'abc'"), "abc");
    EXPECT_EQ(strip("'"), "");
    EXPECT_EQ(strip("''"), "");
    EXPECT_EQ(strip("'ab"), "a");
    EXPECT_EQ(strip(""), "");
}

// ------------------------------------------------------------ expansion

namespace {

struct Expansion {
    int result;
    std::string text;
};

Expansion Expand(const char *src, std::size_t capacity = 64) {
    std::string dst(capacity + 8, '#');
    int result = errm_ExpandEnvVars(src, dst.data(), capacity);
    return {result, std::string(dst.c_str())};
}

} // namespace

TEST(Expansion, PlainTextAndLoneDollars) {
    EXPECT_EQ(Expand("abc").result, 1);
    EXPECT_EQ(Expand("abc").text, "abc");
    EXPECT_EQ(Expand("").result, 1);
    EXPECT_EQ(Expand("").text, "");
    EXPECT_EQ(Expand("a$b").result, 1);
    EXPECT_EQ(Expand("a$b").text, "a$b");
    EXPECT_EQ(Expand("$$x").text, "$$x");
    EXPECT_EQ(Expand("a$").result, 0);
    EXPECT_EQ(Expand("a$").text, "a$");
    EXPECT_EQ(Expand("a{b}").text, "a{b}");
}

TEST(Expansion, References) {
    ScopedEnv b("ERRM_T_B", "bee");
    ScopedEnv empty("ERRM_T_EMPTY", "");
    ScopedEnv inner("ERRM_T_REF", "${ERRM_T_B}");
    EXPECT_EQ(Expand("a${ERRM_T_B}c").result, 1);
    EXPECT_EQ(Expand("a${ERRM_T_B}c").text, "abeec");
    EXPECT_EQ(Expand("${ERRM_T_B}${ERRM_T_B}").text, "beebee");
    EXPECT_EQ(Expand("[${ERRM_T_EMPTY}]").result, 1);
    EXPECT_EQ(Expand("[${ERRM_T_EMPTY}]").text, "[]");
    // A value is not expanded again.
    EXPECT_EQ(Expand("x${ERRM_T_REF}y").result, 1);
    EXPECT_EQ(Expand("x${ERRM_T_REF}y").text, "x${ERRM_T_B}y");
}

TEST(Expansion, UnclosedAndMissingReferencesFail) {
    Expansion unclosed = Expand("a${B");
    EXPECT_EQ(unclosed.result, 0);
    EXPECT_EQ(unclosed.text, "a");
    ScopedEnv missing("ERRM_T_MISSING", std::nullopt);
    StdoutCapture out;
    Expansion notSet = Expand("${ERRM_T_MISSING}tail");
    Expansion later = Expand("ok/${ERRM_T_MISSING}");
    EXPECT_EQ(out.Text(), "ERROR: \"ERRM_T_MISSING\" not found in env\n"
                          "ERROR: \"ERRM_T_MISSING\" not found in env\n");
    EXPECT_EQ(notSet.result, 0);
    EXPECT_EQ(notSet.text, "");
    EXPECT_EQ(later.result, 0);
    EXPECT_EQ(later.text, "ok/");
}

TEST(Expansion, CapacityIsRespected) {
    EXPECT_EQ(Expand("abcd", 4).result, 0);
    EXPECT_EQ(Expand("abcd", 4).text, "abc");
    EXPECT_EQ(Expand("abc", 4).result, 1);
    EXPECT_EQ(Expand("abc", 4).text, "abc");
    EXPECT_EQ(Expand("ab$c", 4).result, 0);
    ScopedEnv v("ERRM_T_V", "xyzw");
    EXPECT_EQ(Expand("a${ERRM_T_V}", 6).result, 1);
    EXPECT_EQ(Expand("a${ERRM_T_V}", 6).text, "axyzw");
    EXPECT_EQ(Expand("ab${ERRM_T_V}", 6).result, 0) << "a value that does not fit is not cut";
    EXPECT_EQ(Expand("ab${ERRM_T_V}", 6).text, "ab");
}

TEST(Expansion, NamesUpTo511Characters) {
    const std::string longest(511, 'N');
    ScopedEnv var(longest, "long");
    EXPECT_EQ(Expand(("<${" + longest + "}>").c_str()).result, 1);
    EXPECT_EQ(Expand(("<${" + longest + "}>").c_str()).text, "<long>");
    StdoutCapture out;
    Expansion tooLong = Expand(("<${" + longest + "N}>").c_str());
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(tooLong.result, 0);
    EXPECT_EQ(tooLong.text, "<");
}
