// text_state_test.cpp - bounded texts, the library state record at load,
// the exported setters and getters, the platform table and root defaults.
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "errm.h"
#include "frame_support.h"
#include "test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using errmtest::ScopedEnv;
using errmtest::StdoutCapture;

namespace {

// A text of n copies of c.
std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

} // namespace

// ------------------------------------------------------------ bounded texts

TEST(BoundedText, CopyAcceptsTextsShorterThanTheCapacityAndRefusesTheRest) {
    char dst[16];
    std::memcpy(dst, "keep", 5);
    EXPECT_EQ(errm_StrCopy(dst, 8, "1234567"), 1);
    EXPECT_STREQ(dst, "1234567");
    EXPECT_EQ(errm_StrCopy(dst, 8, "12345678"), 0);
    EXPECT_STREQ(dst, "1234567") << "a refused copy leaves the destination unchanged";
    EXPECT_EQ(errm_StrCopy(dst, 1, ""), 1);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(errm_StrCopy(dst, 1, "a"), 0);
    EXPECT_STREQ(dst, "");
}

TEST(BoundedText, CatAppendsOnlyWhenTheJoinedTextFits) {
    char dst[16] = "abc";
    EXPECT_EQ(errm_StrCat(dst, 8, "defg"), 1);
    EXPECT_STREQ(dst, "abcdefg");
    std::memcpy(dst, "abc", 4);
    EXPECT_EQ(errm_StrCat(dst, 8, "defgh"), 0);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(errm_StrCat(dst, 4, ""), 1);
    EXPECT_STREQ(dst, "abc");
    // A destination already at the capacity takes nothing, not even "".
    EXPECT_EQ(errm_StrCat(dst, 3, ""), 0);
    EXPECT_STREQ(dst, "abc");
}

TEST(BoundedText, AddSlashAppendsOneSlashUnlessPresent) {
    char path[8] = "";
    errm_AddSlash(path);
    EXPECT_STREQ(path, "/");
    errm_AddSlash(path);
    EXPECT_STREQ(path, "/");
    std::memcpy(path, "a/b", 4);
    errm_AddSlash(path);
    EXPECT_STREQ(path, "a/b/");
    errm_AddSlash(path);
    EXPECT_STREQ(path, "a/b/");
    std::memcpy(path, "a\\", 3);
    errm_AddSlash(path);
    EXPECT_STREQ(path, "a\\/") << "a backslash is no directory separator here";
}

TEST(BoundedText, ToUpperChangesOnlyLowerCaseLetters) {
    char text[] = "abz AZ 09:,;{}~`@[";
    errm_ToUpper(text);
    EXPECT_STREQ(text, "ABZ AZ 09:,;{}~`@[");
    char empty[] = "";
    errm_ToUpper(empty);
    EXPECT_STREQ(empty, "");
}

// ------------------------------------------------------------ state at load

TEST(LibraryState, HoldsItsInitialValuesAfterLoading) {
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), 0u);
    EXPECT_EQ(errm_G.GlobalNbrMaxOfMessages, 3);
    EXPECT_EQ(errm_G.GlobalVerboseMode, 1);
    EXPECT_EQ(errm_G.FAddNL, 1);
    EXPECT_EQ(errm_G.NUSKMode, 0);
    EXPECT_EQ(errm_G.FConsoleOut, 0);
    EXPECT_EQ(errm_G.FDebug, 0);
    EXPECT_EQ(errm_G.FDebugL2, 0);
    EXPECT_EQ(errm_G.FDebugDump, 0);
    EXPECT_EQ(errm_G.FDebugMem, 0);
    EXPECT_EQ(errm_G.FTraceDLL, 0);
    EXPECT_STREQ(errm_G.TranScriptFileName, "");
    EXPECT_STREQ(errm_G.RootReportFiles, "");
    EXPECT_STREQ(errm_G.RootForMemoryDescriptor, "");
    EXPECT_STREQ(errm_G.SearchPath, "");
    EXPECT_STREQ(errm_G.DebugPath, "");
    EXPECT_EQ(errm_G.ByteOrder, -1);
    EXPECT_EQ(errm_G.NbrOfReports, 0);
    EXPECT_EQ(errm_G.TraceFileHandle, -1);
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    // The load-time hook adds its DATE line: nothing is written, but the
    // line is counted.
    EXPECT_EQ(errm_G.TraceLineNumber, 1);
    EXPECT_EQ(errm_G.ReturnBuffer, nullptr);
}

TEST(LibraryState, VersionAndDate) {
    unsigned char version[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(ERRM_GetVersion(version), 1);
    EXPECT_EQ(version[0], 1);
    EXPECT_EQ(version[1], 0);
    EXPECT_EQ(version[2], 3);
    EXPECT_EQ(version[3], 0);
    EXPECT_EQ(version[4], 9) << "exactly four bytes are written";

    char date[16];
    std::memset(date, 0x7f, sizeof date);
    EXPECT_EQ(ERRM_GetDate(date), 1);
    EXPECT_EQ(std::string(date, 11), std::string("2007/01/08\0", 11));
    EXPECT_EQ(date[11], 0x7f) << "the date takes 11 bytes with its terminator";
}

// ---------------------------------------------------------- plain setters

TEST(Setters, IntegerSettersStoreTheirValueUnchanged) {
    ERRM_AddNL(0);
    EXPECT_EQ(errm_G.FAddNL, 0);
    ERRM_AddNL(7);
    EXPECT_EQ(errm_G.FAddNL, 7);
    ERRM_Set_GlobalVerboseMode(0);
    EXPECT_EQ(errm_G.GlobalVerboseMode, 0);
    ERRM_Set_GlobalVerboseMode(-4);
    EXPECT_EQ(errm_G.GlobalVerboseMode, -4);
    ERRM_Set_GlobalNbrMaxOfMessages(0);
    EXPECT_EQ(errm_G.GlobalNbrMaxOfMessages, 0);
    ERRM_Set_GlobalNbrMaxOfMessages(-1);
    EXPECT_EQ(errm_G.GlobalNbrMaxOfMessages, -1);
    ERRM_Set_NUSKMode(1);
    EXPECT_EQ(errm_G.NUSKMode, 1);
    ERRM_Set_NUSKMode(42);
    EXPECT_EQ(errm_G.NUSKMode, 42);
}

TEST(Setters, TranscriptNameIsRefusedWhenEmptyNullOrTooLong) {
    EXPECT_EQ(ERRM_Set_TranScriptFileName("run.tra"), 1);
    EXPECT_STREQ(errm_G.TranScriptFileName, "run.tra");
    EXPECT_EQ(ERRM_Set_TranScriptFileName(""), 0);
    EXPECT_STREQ(errm_G.TranScriptFileName, "run.tra");
    EXPECT_EQ(ERRM_Set_TranScriptFileName(nullptr), 0);
    EXPECT_STREQ(errm_G.TranScriptFileName, "run.tra");

    const std::string longest = Repeat('t', 1023);
    EXPECT_EQ(ERRM_Set_TranScriptFileName(longest.c_str()), 1);
    EXPECT_EQ(std::string(errm_G.TranScriptFileName), longest);
    EXPECT_EQ(ERRM_Set_TranScriptFileName(Repeat('u', 1024).c_str()), 0);
    EXPECT_EQ(std::string(errm_G.TranScriptFileName), longest);
}

TEST(Setters, SearchPathNameHoldsAtMost511Characters) {
    EXPECT_EQ(ERRM_Set_SearchPath("MY_PATH"), 1);
    EXPECT_STREQ(errm_G.SearchPath, "MY_PATH");
    const std::string longest = Repeat('S', 511);
    EXPECT_EQ(ERRM_Set_SearchPath(longest.c_str()), 1);
    EXPECT_EQ(std::string(errm_G.SearchPath), longest);
    EXPECT_EQ(ERRM_Set_SearchPath(Repeat('P', 512).c_str()), 0);
    EXPECT_EQ(std::string(errm_G.SearchPath), longest);
    EXPECT_EQ(ERRM_Set_SearchPath(nullptr), 0);
    EXPECT_EQ(std::string(errm_G.SearchPath), longest);
    // An empty name is a name: it is stored.
    EXPECT_EQ(ERRM_Set_SearchPath(""), 1);
    EXPECT_STREQ(errm_G.SearchPath, "");
}

// --------------------------------------------------- platform and roots

TEST(Platform, FamilyOfEveryCodeOfTheTable) {
    const char *nix[] = {"ixl", "aol", "iil", "hpu", "hpw", "ss5", "ssw", "ix5", "so5"};
    for (const char *code : nix) {
        ScopedEnv vco("ORV_VCO", code);
        EXPECT_EQ(errm_GetPlatformFamily(), 1) << code;
    }
    {
        ScopedEnv vco("ORV_VCO", "ixn");
        EXPECT_EQ(errm_GetPlatformFamily(), 2);
    }
    // The end row is never matched, and codes compare exactly.
    for (const char *code : {"???", "IXL", "ixl ", "ix", "", "zzz"}) {
        ScopedEnv vco("ORV_VCO", std::string(code));
        StdoutCapture out;
        EXPECT_EQ(errm_GetPlatformFamily(), -1) << code;
        EXPECT_EQ(out.Text(), "") << code;
    }
}

TEST(Platform, MissingCodePrintsItsLine) {
    ScopedEnv vco("ORV_VCO", std::nullopt);
    StdoutCapture out;
    int family = errm_GetPlatformFamily();
    std::string text = out.Text();
    EXPECT_EQ(family, -1);
    EXPECT_EQ(text, "Error ORV_VCO not set\n");
}

TEST(Platform, CheckKeepsTheFamilyNameForReports) {
    {
        ScopedEnv vco("ORV_VCO", "so5");
        EXPECT_EQ(errm_CheckPlatform(), 1);
        EXPECT_STREQ(errm_G.PlatformName, "NIX");
    }
    {
        ScopedEnv vco("ORV_VCO", "ixn");
        EXPECT_EQ(errm_CheckPlatform(), 1);
        EXPECT_STREQ(errm_G.PlatformName, "WIN");
    }
    {
        ScopedEnv vco("ORV_VCO", "???");
        StdoutCapture out;
        EXPECT_EQ(errm_CheckPlatform(), 0);
        EXPECT_EQ(out.Text(), "");
        EXPECT_STREQ(errm_G.PlatformName, "??");
    }
    {
        ScopedEnv vco("ORV_VCO", std::nullopt);
        StdoutCapture out;
        EXPECT_EQ(errm_CheckPlatform(), 0);
        EXPECT_EQ(out.Text(), "Error ORV_VCO not set\n");
        EXPECT_STREQ(errm_G.PlatformName, "ORV_VCO");
    }
}

namespace {

using RootSetter = int (*)(const char *);

// The two root setters behave alike on their own field; the report root
// leaves room for the report files' extension.
void CheckRootSetter(RootSetter set, const char *field, std::size_t longestLength) {
    {
        ScopedEnv vco("ORV_VCO", std::nullopt);
        EXPECT_EQ(set("run1"), 1);
        EXPECT_STREQ(field, "run1");
        const std::string longest(longestLength, 'r');
        EXPECT_EQ(set(longest.c_str()), 1) << "an explicit root needs no platform";
        EXPECT_EQ(std::string(field), longest);
        EXPECT_EQ(set(std::string(longestLength + 1, 'q').c_str()), 0);
        EXPECT_EQ(std::string(field), longest);
        EXPECT_EQ(set("run1"), 1);
    }
    {
        ScopedEnv vco("ORV_VCO", "ixn");
        EXPECT_EQ(set(nullptr), 1);
        EXPECT_STREQ(field, ".\\");
    }
    {
        ScopedEnv vco("ORV_VCO", "ixl");
        EXPECT_EQ(set(""), 1);
        EXPECT_STREQ(field, "./");
        EXPECT_EQ(set("run2"), 1);
        EXPECT_EQ(set(nullptr), 1);
        EXPECT_STREQ(field, "./");
    }
    {
        ScopedEnv vco("ORV_VCO", "hpw");
        EXPECT_EQ(set("keep"), 1);
        ScopedEnv unknown("ORV_VCO", "xyz");
        StdoutCapture out;
        EXPECT_EQ(set(nullptr), 0);
        EXPECT_EQ(set(""), 0);
        EXPECT_EQ(out.Text(), "") << "an unknown code is refused silently";
        EXPECT_STREQ(field, "keep");
    }
    {
        ScopedEnv vco("ORV_VCO", std::nullopt);
        StdoutCapture out;
        int null_result = set(nullptr);
        int empty_result = set("");
        std::string text = out.Text();
        EXPECT_EQ(null_result, 0);
        EXPECT_EQ(empty_result, 0);
        EXPECT_EQ(text, "Error ORV_VCO not set\nError ORV_VCO not set\n");
        EXPECT_STREQ(field, "keep");
    }
}

} // namespace

TEST(Roots, ReportRootTakesTheTextOrThePlatformDefault) {
    CheckRootSetter(ERRM_Set_RootReportFiles, errm_G.RootReportFiles, 1019);
    EXPECT_STREQ(errm_G.RootForMemoryDescriptor, "") << "the other root is not touched";
}

TEST(Roots, DescriptorRootTakesTheTextOrThePlatformDefault) {
    CheckRootSetter(ERRM_Set_Root_ForMemoryDescriptor, errm_G.RootForMemoryDescriptor, 1023);
    EXPECT_STREQ(errm_G.RootReportFiles, "");
}

// ------------------------------------------------------- settings survive

TEST(Setters, SettingsSurviveInitAndFInit) {
    errmtest::TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", dir.path() + ";1:0:1:0:0:0");
    ERRM_AddNL(0);
    ERRM_Set_GlobalVerboseMode(0);
    ERRM_Set_GlobalNbrMaxOfMessages(9);
    ERRM_Set_NUSKMode(1);
    ASSERT_EQ(ERRM_Set_TranScriptFileName("t.tra"), 1);
    ASSERT_EQ(ERRM_Set_RootReportFiles("root"), 1);
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor("descs/"), 1);
    ASSERT_EQ(ERRM_Set_SearchPath("SP"), 1);

    auto check = [&](const char *when) {
        EXPECT_EQ(errm_G.FAddNL, 0) << when;
        EXPECT_EQ(errm_G.GlobalVerboseMode, 0) << when;
        EXPECT_EQ(errm_G.GlobalNbrMaxOfMessages, 9) << when;
        EXPECT_EQ(errm_G.NUSKMode, 1) << when;
        EXPECT_STREQ(errm_G.TranScriptFileName, "t.tra") << when;
        EXPECT_STREQ(errm_G.RootReportFiles, "root") << when;
        EXPECT_STREQ(errm_G.RootForMemoryDescriptor, "descs/") << when;
        EXPECT_STREQ(errm_G.SearchPath, "SP") << when;
    };
    ASSERT_EQ(ERRM_Init(), 1);
    check("after ERRM_Init");
    EXPECT_EQ(ERRM_FInit(), 1);
    check("after ERRM_FInit");
    // The debug flags, DebugPath and the delayed-error count stay as well.
    EXPECT_EQ(errm_G.FConsoleOut, 1);
    EXPECT_EQ(errm_G.FDebugL2, 1);
    EXPECT_EQ(errm_G.FDebug, 0);
    EXPECT_EQ(std::string(errm_G.DebugPath), dir.path());
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), 0u);
    EXPECT_EQ(ERRM_FInit(), 0);
    check("after a second ERRM_FInit");
}
