// trace_test.cpp - the library trace file: its name, opening, numbered
// lines, echo on standard output, limits, closing and reopening, and the
// date text.
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "base/errm_trace.h"
#include "errm.h"
#include "frame_support.h"
#include "reports/errm_fm.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using errmtest::FileExists;
using errmtest::MaskLines;
using errmtest::ReadFile;
using errmtest::ScopedEnv;
using errmtest::StdoutCapture;
using errmtest::SysGuard;
using errmtest::TempDir;

namespace {

void SetDebugPath(const std::string &path) {
    ASSERT_EQ(errm_StrCopy(errm_G.DebugPath, sizeof errm_G.DebugPath, path.c_str()), 1);
}

// The trace name for the fixed process id 4242.
std::string FixedName(const std::string &dir) {
    return dir + "/errm_dll_trace_4242.txt";
}

} // namespace

// ------------------------------------------------------------------ opening

TEST(Trace, FirstLineOpensTheFileNamedWithTheProcessId) {
    TempDir dir;
    errm_G.FTraceDLL = 1;
    SetDebugPath(dir.path());
    StdoutCapture out;
    errm_TraceAdd("x=%d\n", 5);
    EXPECT_EQ(out.Text(), "");
    const std::string name = dir.path() + "/errm_dll_trace_" + std::to_string(getpid()) + ".txt";
    EXPECT_EQ(std::string(errm_TraceFileName()), name);
    // The file is flushed after every write: its content is there at once.
    EXPECT_EQ(ReadFile(name), "Error, open errm_TraceAdd\nDLL(  1): x=5\n");
    EXPECT_EQ(errm_G.FTraceOpened, 1);
    EXPECT_TRUE(errm_FM_InUse(errm_G.TraceFileHandle));
    EXPECT_EQ(std::string(errm_FM_Name(errm_G.TraceFileHandle)), name);
    errm_TraceAdd("y=%s\n", "z");
    EXPECT_EQ(ReadFile(name), "Error, open errm_TraceAdd\nDLL(  1): x=5\nDLL(  2): y=z\n");
}

TEST(Trace, DirectoryEndingWithSlashGetsNoSecondSlash) {
    SysGuard sys;
    errm_Sys.getpid = errmtest::FixedPid;
    TempDir dir;
    errm_G.FTraceDLL = 1;
    SetDebugPath(dir.path() + "/");
    ASSERT_EQ(errm_OpenDllTrace(), 1);
    EXPECT_EQ(std::string(errm_TraceFileName()), FixedName(dir.path()));
    EXPECT_TRUE(FileExists(FixedName(dir.path())));
}

TEST(Trace, EmptyDirectoryGivesANameInTheWorkingDirectory) {
    SysGuard sys;
    errm_Sys.getpid = errmtest::FixedPid;
    errm_Sys.fopen = errmtest::FailingFopen;
    errm_G.FTraceDLL = 1;
    SetDebugPath("");
    StdoutCapture out;
    EXPECT_EQ(errm_OpenDllTrace(), 0);
    EXPECT_EQ(out.Text(), "FM error open, F=errm_dll_trace_4242.txt E=1030\nDLL-E(  2): ");
}

TEST(Trace, OpeningTwiceKeepsTheOpenFile) {
    TempDir dir;
    errm_G.FTraceDLL = 1;
    SetDebugPath(dir.path());
    ASSERT_EQ(errm_OpenDllTrace(), 1);
    const int handle = errm_G.TraceFileHandle;
    errm_TraceAdd("kept\n");
    EXPECT_EQ(errm_OpenDllTrace(), 1);
    EXPECT_EQ(errm_G.TraceFileHandle, handle);
    errm_TraceAdd("next\n");
    // Opened by errm_OpenDllTrace itself: no "Error, open" line.
    EXPECT_EQ(ReadFile(errm_TraceFileName()), "DLL(  1): kept\nDLL(  2): next\n");
}

TEST(Trace, NotWantedMeansNothingOpened) {
    TempDir dir;
    errm_G.FTraceDLL = 0;
    SetDebugPath(dir.path());
    EXPECT_EQ(errm_OpenDllTrace(), 1);
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    EXPECT_EQ(errm_G.TraceFileHandle, -1);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Trace, MissingDirectoryFailsWith1071AndEveryLaterLineTriesAgain) {
    SysGuard sys;
    errm_Sys.getpid = errmtest::FixedPid;
    TempDir dir;
    const std::string name = FixedName(dir.path() + "/missing");
    errm_G.FTraceDLL = 1;
    errm_G.FConsoleOut = 0;
    SetDebugPath(dir.path() + "/missing");
    {
        StdoutCapture out;
        EXPECT_EQ(errm_OpenDllTrace(), 0);
        EXPECT_EQ(out.Text(), "FM error open, F=" + name + " E=1030\nDLL-E(  2): ");
    }
    EXPECT_EQ(errm_G.TraceFileHandle, -1);
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    errm_G.FConsoleOut = 1;
    {
        StdoutCapture out;
        errm_TraceAdd("lost %d\n", 1);
        EXPECT_EQ(MaskLines(out.Text()),
                  "FM error open, F=" + name + " E=1030\nDLL-E(  3): DLL-E(  3): Open file " +
                      "failure for " + name + " @ F=src/err_mgt/errm_shared/L=#\n");
    }
    EXPECT_EQ(errm_G.TraceLineNumber, 3) << "the dropped line is not counted";
    // A descriptor cannot be loaded while the trace cannot be opened.
    errm_G.FConsoleOut = 0;
    int index = -7;
    {
        StdoutCapture out;
        EXPECT_EQ(ERRM_ReadErrorDescriptor("abc", &index), 1);
        EXPECT_EQ(out.Text(), "FM error open, F=" + name + " E=1030\nDLL-E(  4): ");
    }
    EXPECT_EQ(index, -7);
    EXPECT_FALSE(FileExists(dir.path() + "/missing"));
}

TEST(Trace, NameLengthLimits) {
    SysGuard sys;
    errm_Sys.getpid = errmtest::FixedPid;
    errm_G.FTraceDLL = 1;
    errm_G.FConsoleOut = 1;
    // A directory of L characters ending with '/': the name is L + 14 + 9.
    auto directory = [](std::size_t length) {
        return "/errm-missing-dir/" + std::string(length - 19, 'd') + "/";
    };
    {
        const std::string dir = directory(1000);
        SetDebugPath(dir);
        StdoutCapture out;
        EXPECT_EQ(errm_OpenDllTrace(), 0);
        EXPECT_EQ(MaskLines(out.Text()),
                  "FM error open, F=" + dir + "errm_dll_trace_4242.txt E=1030\n" +
                      "DLL-E(  2): DLL-E(  2): Open file failure for " + dir +
                      "errm_dll_trace_4242.txt @ F=src/err_mgt/errm_shared/L=#\n");
    }
    for (std::size_t length : {1001u, 1008u}) {
        const std::string dir = directory(length);
        SetDebugPath(dir);
        const int number = errm_G.TraceLineNumber + 1;
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "DLL-E(%3d): ", number);
        StdoutCapture out;
        EXPECT_EQ(errm_OpenDllTrace(), 0) << length;
        EXPECT_EQ(MaskLines(out.Text()), std::string(prefix) + prefix +
                                             "TRACE DLL file name not found in config for " + dir +
                                             "errm_dll_trace @ F=src/err_mgt/errm_shared/L=#\n\n")
            << length;
    }
    for (std::size_t length : {1009u, 1022u}) {
        SetDebugPath(directory(length));
        const int number = errm_G.TraceLineNumber;
        StdoutCapture out;
        EXPECT_EQ(errm_OpenDllTrace(), 0) << length;
        EXPECT_EQ(out.Text(), "") << length;
        EXPECT_EQ(errm_G.TraceLineNumber, number);
    }
    // 1022 characters and no final slash: the slash itself no longer fits
    // with the name.
    SetDebugPath(std::string(1022, 'e'));
    StdoutCapture out;
    EXPECT_EQ(errm_OpenDllTrace(), 0);
    EXPECT_EQ(out.Text(), "");
}

// ------------------------------------------------------------- adding lines

TEST(Trace, EchoWithoutFileNumbersFromTheLoadTimeValue) {
    TempDir dir;
    SetDebugPath(dir.path());
    errm_G.FTraceDLL = 0;
    errm_G.FConsoleOut = 1;
    {
        StdoutCapture out;
        errm_TraceAdd("x=%d\n", 5);
        errm_TraceAdd("no line feed");
        EXPECT_EQ(out.Text(), "DLL(  2): x=5\nDLL(  3): no line feed");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // Opening the file restarts the numbering.
    errm_G.FTraceDLL = 1;
    {
        StdoutCapture out;
        errm_TraceAdd("first\n");
        EXPECT_EQ(out.Text(), "DLL(  1): first\n");
    }
    EXPECT_EQ(ReadFile(errm_TraceFileName()), "Error, open errm_TraceAdd\nDLL(  1): first\n");
}

TEST(Trace, LinesAreCountedEvenWhenWrittenNowhere) {
    errm_G.FTraceDLL = 0;
    errm_G.FConsoleOut = 0;
    StdoutCapture out;
    errm_TraceAdd("a\n");
    errm_TraceAdd("b %s\n", "c");
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_G.TraceLineNumber, 3);
}

TEST(Trace, FormatLongerThan2656CharactersIsRefused) {
    TempDir dir;
    SetDebugPath(dir.path());
    errm_G.FTraceDLL = 1;
    errm_G.FConsoleOut = 1;
    const std::string body(2654, 'a');
    const std::string longest = body + "%s"; // 2656 characters
    const std::string tooLong = body + "a%s";
    {
        StdoutCapture out;
        errm_TraceAdd(tooLong.c_str(), "\n");
        EXPECT_EQ(out.Text(), "size too big\n");
    }
    // The file was opened before the size was checked.
    EXPECT_EQ(ReadFile(errm_TraceFileName()), "Error, open errm_TraceAdd\n");
    EXPECT_EQ(errm_G.TraceLineNumber, 0);
    {
        StdoutCapture out;
        errm_TraceAdd(longest.c_str(), "\n");
        EXPECT_EQ(out.Text(), "DLL(  1): " + body + "\n");
    }
    EXPECT_EQ(ReadFile(errm_TraceFileName()),
              "Error, open errm_TraceAdd\nDLL(  1): " + body + "\n");
}

TEST(Trace, TextLongerThanTheLineBufferIsCutAndEndsTheLine) {
    TempDir dir;
    SetDebugPath(dir.path());
    errm_G.FTraceDLL = 1;
    ASSERT_EQ(errm_OpenDllTrace(), 1);
    const std::string exact(2694, 'x');
    errm_TraceAdd("%s\n", exact.c_str()); // 2695 characters: kept whole
    errm_TraceAdd("%s\n", (exact + "y").c_str());
    errm_TraceAdd("%s", std::string(5000, 'z').c_str());
    EXPECT_EQ(ReadFile(errm_TraceFileName()), "DLL(  1): " + exact + "\n" + "DLL(  2): " + exact +
                                                  "\n" + "DLL(  3): " + std::string(2694, 'z') +
                                                  "\n");
}

// ------------------------------------------------------ closing and cycles

TEST(Trace, LinesAfterFInitOnlyEchoAndALaterCycleAppends) {
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", dir.path() + ";X:X:X:X:X:1");
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(errm_G.FTraceOpened, 0) << "ERRM_Init does not open the trace";
    errm_TraceAdd("one\n");
    const std::string name = errm_TraceFileName();
    const std::string first = "Error, open errm_TraceAdd\nDLL(  1): one\n";
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    EXPECT_EQ(errm_FM_InUse(0), 0) << "the trace's file manager entry is released";
    EXPECT_EQ(ReadFile(name), first);

    errm_G.FConsoleOut = 1;
    {
        StdoutCapture out;
        errm_TraceAdd("dropped\n");
        EXPECT_EQ(out.Text(), "DLL(  2): dropped\n") << "the console echo goes on";
    }
    EXPECT_EQ(errm_G.TraceLineNumber, 2);
    EXPECT_EQ(ReadFile(name), first);

    ASSERT_EQ(ERRM_Init(), 1);
    errm_TraceAdd("two\n");
    EXPECT_EQ(ReadFile(name), first + "Error, open errm_TraceAdd\nDLL(  1): two\n");
    // A descriptor load opens the trace in its cycle too, without the
    // "Error, open" line.
    EXPECT_EQ(ERRM_FInit(), 1);
    ASSERT_EQ(ERRM_Init(), 1);
    ASSERT_EQ(ERRM_Set_Root_ForMemoryDescriptor(dir.path().c_str()), 1);
    int index = -1;
    EXPECT_EQ(ERRM_ReadErrorDescriptor("nope", &index), 1071);
    EXPECT_EQ(MaskLines(ReadFile(name)), first + "Error, open errm_TraceAdd\nDLL(  1): two\n" +
                                             "DLL-E(  1): Error DLL: 1071 Open file failure for " +
                                             dir.path() +
                                             "/errm_desc_NOPE.bin @ F=src/descriptor/L=#\n");
    EXPECT_EQ(ERRM_FInit(), 1);
}

TEST(Trace, FailingCloseIsReportedAsFDLLTRACE) {
    SysGuard sys;
    TempDir dir;
    errm_G.FTraceDLL = 1;
    SetDebugPath(dir.path());
    errm_TraceAdd("line\n");
    const std::string name = errm_TraceFileName();
    errm_Sys.fclose = errmtest::FailingFclose;
    StdoutCapture out;
    errm_CloseDllTrace();
    EXPECT_EQ(out.Text(), "FM error close, F=" + name + " E=1027\n");
    EXPECT_EQ(errm_G.FTraceOpened, 0);
    EXPECT_EQ(errm_G.TraceFileHandle, -1);
    // The stream is gone after a failed close: its report cannot follow it.
    EXPECT_EQ(MaskLines(ReadFile(name)), "Error, open errm_TraceAdd\nDLL(  1): line\n");
}

TEST(Trace, FInitClosesTheTraceAndReportsAFailingClose) {
    SysGuard sys;
    TempDir dir;
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", dir.path() + ";1:0:0:0:0:1");
    ASSERT_EQ(ERRM_Init(), 1);
    errm_TraceAdd("last\n");
    const std::string name = errm_TraceFileName();
    errm_Sys.fclose = errmtest::FailingFclose;
    StdoutCapture out;
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(MaskLines(out.Text()), "FM error close, F=" + name +
                                         " E=1027\n"
                                         "DLL-E(  2): CLOSE file failure for FDLLTRACE "
                                         "@ F=src/err_mgt/errm_shared/L=#\n");
    EXPECT_EQ(errm_G.FTraceOpened, 0);
}

// ---------------------------------------------------------------- date text

TEST(DateText, AsctimeLayoutWithABlankForTheLineFeed) {
    SysGuard sys;
    ScopedEnv tz("TZ", "UTC0");
    tzset();
    errm_Sys.time = errmtest::FixedTime;
    char buf[33];
    errm_GetDateTime(buf, sizeof buf);
    EXPECT_STREQ(buf, "Mon Jan  8 09:05:07 2007 ");
    char smallest[26];
    errm_GetDateTime(smallest, sizeof smallest);
    EXPECT_STREQ(smallest, "Mon Jan  8 09:05:07 2007 ");
    char tooSmall[25] = "untouched";
    errm_GetDateTime(tooSmall, sizeof tooSmall);
    EXPECT_STREQ(tooSmall, "untouched") << "a text that does not fit is refused";
}

TEST(DateText, UnknownLocalTimeStillGivesTheLayout) {
    SysGuard sys;
    errm_Sys.localtime_r = errmtest::FailingLocaltime;
    struct tm t;
    EXPECT_EQ(errm_PL_LocalTime(&t), 0);
    char buf[33];
    errm_GetDateTime(buf, sizeof buf);
    EXPECT_TRUE(errmtest::HasShape(buf, "Aaa Aaa #9 99:99:99 9999 ")) << buf;
}
