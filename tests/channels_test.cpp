// channels_test.cpp - the report channel table: authorising channels by
// name, report letters and bits, the library's report files, the client
// streams of CHI and REPORT_F, and closing at shutdown.
#include "base/errm_alloc.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "errm.h"
#include "frame_support.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using errmtest::FileExists;
using errmtest::MaskLines;
using errmtest::ReadFile;
using errmtest::ScopedEnv;
using errmtest::StdoutCapture;
using errmtest::SysGuard;
using errmtest::TempDir;

namespace {

// An initialised library with its report root in a temporary directory.
class Channels : public ::testing::Test {
  protected:
    void SetUp() override {
        ScopedEnv ldbg("KOVA_ERRM_LDBG", ldbg_);
        ASSERT_EQ(ERRM_Init(), 1);
        ASSERT_EQ(ERRM_Set_RootReportFiles(dir_.file("run1").c_str()), 1);
    }
    void TearDown() override { ERRM_FInit(); }

    ScopedEnv vco_{"ORV_VCO", "ixl"};
    TempDir dir_;
    std::optional<std::string> ldbg_; // KOVA_ERRM_LDBG for ERRM_Init
};

// Same, with the trace flag and the console echo on (the trace file itself
// is not opened, so internal errors show on standard output).
class ChannelsReported : public Channels {
  protected:
    void SetUp() override {
        ldbg_ = dir_.path() + ";1:0:0:0:0:1";
        Channels::SetUp();
    }
};

} // namespace

// ----------------------------------------------------- authorising by name

TEST(Authorize, EveryCallFailsBeforeInit) {
    for (const char *name : {"STDOUT", "CHI", "LOG", "REPORT_F"})
        EXPECT_EQ(ERRM_Authorize_Printing(name, 1), 0) << name;
    for (int id = 0; id < ERRM_CH_COUNT; ++id)
        EXPECT_EQ(errm_Reports[id].authorised, 0) << id;
}

TEST_F(Channels, AuthorizeFindsEachChannelByItsExactName) {
    const char *names[] = {"STDOUT", "PIPE", "TRANSCRIPT", "DBG_I",   "DBG_C",
                           "REPORT", "CHI",  "LOG",        "REPORT_F"};
    for (int id = 0; id < ERRM_CH_COUNT; ++id) {
        EXPECT_EQ(ERRM_Authorize_Printing(names[id], 100 + id), 1) << names[id];
        for (int other = id + 1; other < ERRM_CH_COUNT; ++other)
            EXPECT_NE(errm_Reports[other].authorised, 100 + other) << "only its own row changes";
        EXPECT_EQ(errm_Reports[id].authorised, 100 + id) << names[id];
    }
    for (const char *name : {"chi", "Log", "", "$", "LOG ", "REPORT_", "REPORT_FF", "STDOUT\n"})
        EXPECT_EQ(ERRM_Authorize_Printing(name, 0), 0) << '"' << name << '"';
    EXPECT_EQ(ERRM_Authorize_Printing(nullptr, 0), 0);
    for (int id = 0; id < ERRM_CH_COUNT; ++id)
        EXPECT_EQ(errm_Reports[id].authorised, 100 + id) << "unchanged by refused names";
}

TEST_F(Channels, AuthorizeStoresTheFlagAndInitResetsIt) {
    EXPECT_EQ(ERRM_Authorize_Printing("LOG", 5), 1);
    EXPECT_EQ(errm_Reports[ERRM_CH_LOG].authorised, 5);
    EXPECT_EQ(ERRM_Authorize_Printing("CHI", 1), 1);
    EXPECT_EQ(errm_Reports[ERRM_CH_CHI].authorised, 1);
    EXPECT_EQ(ERRM_Authorize_Printing("STDOUT", 0), 1);
    EXPECT_EQ(errm_Reports[ERRM_CH_STDOUT].authorised, 0);
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(errm_Reports[ERRM_CH_LOG].authorised, 1);
    EXPECT_EQ(errm_Reports[ERRM_CH_CHI].authorised, 0);
    EXPECT_EQ(errm_Reports[ERRM_CH_STDOUT].authorised, 1);
}

// ------------------------------------------------------ letters and bits

TEST(Letters, EachReportLetterNamesItsChannel) {
    const struct {
        char letter;
        int id;
    } letters[] = {{'S', 0}, {'P', 1}, {'T', 2}, {'D', 3}, {'C', 4},
                   {'R', 5}, {'K', 6}, {'L', 7}, {'F', 8}};
    for (const auto &l : letters)
        EXPECT_EQ(errm_ReportLetterToId(errm_ReportLetters, l.letter), l.id) << l.letter;
    // 'X' stands for no channel in report strings, but it is not a letter of
    // the table; '$' ends the table.
    for (int letter : {int{'X'}, int{'$'}, int{'s'}, int{'k'}, int{'A'}, int{' '}, 0})
        EXPECT_EQ(errm_ReportLetterToId(errm_ReportLetters, letter), 1010) << letter;
}

TEST(Letters, ScanStopsAtTheEndPairOrAfter257Pairs) {
    std::vector<errm_ReportLetter> table(300, errm_ReportLetter{'Q', 1});
    table[256] = {'Z', 7};
    table[257] = {'W', 8};
    EXPECT_EQ(errm_ReportLetterToId(table.data(), 'Q'), 1);
    EXPECT_EQ(errm_ReportLetterToId(table.data(), 'Z'), 7) << "the 257th pair is scanned";
    EXPECT_EQ(errm_ReportLetterToId(table.data(), 'W'), 1010) << "the 258th is not";
    table[0] = {'$', 9};
    EXPECT_EQ(errm_ReportLetterToId(table.data(), 'Q'), 1010) << "'$' first ends the scan";
}

TEST(Bits, EachChannelIdHasItsBit) {
    for (int id = 0; id <= 10; ++id)
        EXPECT_EQ(errm_ChannelBit(id), 1u << id) << id;
}

// ------------------------------------------------------------ report files

TEST_F(Channels, ReportFilesAreNamedFromTheRoot) {
    const struct {
        int id;
        const char *ext;
    } files[] = {{ERRM_CH_DBG_I, ".dbi"},
                 {ERRM_CH_DBG_C, ".dbg"},
                 {ERRM_CH_REPORT, ".rep"},
                 {ERRM_CH_LOG, ".log"}};
    errmtest::WriteFile(dir_.file("run1.log"), "old content\n");
    ERRM_Authorize_Printing("LOG", 0);
    StdoutCapture out;
    for (const auto &f : files) {
        ASSERT_EQ(errm_OpenReportFile(f.id), 1) << f.ext;
        const errm_ReportChannel &row = errm_Reports[f.id];
        EXPECT_TRUE(FileExists(dir_.file(std::string("run1") + f.ext))) << f.ext;
        EXPECT_EQ(errm_FM_InUse(row.handle), 1) << f.ext;
        EXPECT_EQ(std::string(errm_FM_Name(row.handle)), dir_.file(std::string("run1") + f.ext));
        EXPECT_EQ(row.opened, 1) << f.ext;
        EXPECT_EQ(row.authorised, 1) << f.ext;
    }
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(ReadFile(dir_.file("run1.log")), "") << "an existing file is emptied";
}

TEST_F(Channels, TranscriptIsNamedByItsSetting) {
    ASSERT_EQ(ERRM_Set_TranScriptFileName(dir_.file("t.tra").c_str()), 1);
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_TRANSCRIPT), 1);
    const errm_ReportChannel &row = errm_Reports[ERRM_CH_TRANSCRIPT];
    EXPECT_EQ(std::string(errm_FM_Name(row.handle)), dir_.file("t.tra"));
    EXPECT_EQ(row.opened, 1);
    EXPECT_TRUE(FileExists(dir_.file("t.tra")));
}

TEST_F(Channels, EmptyRootGivesBareNamesInTheCurrentDirectory) {
    errmtest::ScopedCwd cwd(dir_.path());
    errm_G.RootReportFiles[0] = '\0';
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_REPORT), 1);
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_DBG_I), 1);
    EXPECT_TRUE(FileExists(dir_.file(".rep")));
    EXPECT_TRUE(FileExists(dir_.file(".dbi")));
}

TEST_F(Channels, OnlyReportFileChannelsAreOpened) {
    StdoutCapture out;
    for (int id : {int{ERRM_CH_STDOUT}, int{ERRM_CH_PIPE}, int{ERRM_CH_CHI}, int{ERRM_CH_REPORT_F},
                   9, -1, 17})
        EXPECT_EQ(errm_OpenReportFile(id), 0) << id;
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_FM_InUse(0), 0) << "no file manager entry was taken";
}

TEST_F(Channels, NamesTooLongAreRefusedWithoutReport) {
    // Root and extension must fit 1024 bytes with the terminator.
    const std::string root =
        dir_.path() + "/missing/" + std::string(1020 - dir_.path().size() - 9, 'r');
    ASSERT_EQ(root.size(), 1020u);
    EXPECT_EQ(ERRM_Set_RootReportFiles(root.c_str()), 0) << "the setter refuses it";
    // A root that does not fit is refused by the open as well.
    ASSERT_EQ(errm_StrCopy(errm_G.RootReportFiles, ERRM_NAME_CAP, root.c_str()), 1);
    {
        StdoutCapture out;
        EXPECT_EQ(errm_OpenReportFile(ERRM_CH_LOG), 0);
        EXPECT_EQ(out.Text(), "");
    }
    EXPECT_EQ(errm_FM_InUse(0), 0);
    // One character less fits: the open is tried (and fails in a directory
    // that does not exist).
    const std::string shorter = root.substr(0, 1019);
    ASSERT_EQ(ERRM_Set_RootReportFiles(shorter.c_str()), 1);
    StdoutCapture out;
    EXPECT_EQ(errm_OpenReportFile(ERRM_CH_LOG), 0);
    EXPECT_EQ(out.Text(), "FM error open, F=" + shorter + ".log E=1030\n");
}

TEST_F(ChannelsReported, FailedOpenReports1071) {
    const std::string root = dir_.path() + "/missing/run1";
    ASSERT_EQ(ERRM_Set_RootReportFiles(root.c_str()), 1);
    {
        StdoutCapture out;
        EXPECT_EQ(errm_OpenReportFile(ERRM_CH_REPORT), 0);
        EXPECT_EQ(MaskLines(out.Text()), "FM error open, F=" + root +
                                             ".rep E=1030\n"
                                             "DLL-E(  2): DLL-E(  2): Open file failure for " +
                                             root + ".rep @ F=src/reports/L=#\n");
    }
    EXPECT_EQ(errm_Reports[ERRM_CH_REPORT].opened, 0);
    EXPECT_EQ(errm_FM_InUse(0), 0);
}

TEST_F(ChannelsReported, EmptyTranscriptNameFailsToOpen) {
    ASSERT_STREQ(errm_G.TranScriptFileName, "");
    StdoutCapture out;
    EXPECT_EQ(errm_OpenReportFile(ERRM_CH_TRANSCRIPT), 0);
    EXPECT_EQ(MaskLines(out.Text()), "FM error open, F= E=1030\n"
                                     "DLL-E(  2): DLL-E(  2): Open file failure for  "
                                     "@ F=src/reports/L=#\n");
}

// ---------------------------------------------------------- client streams

TEST_F(Channels, ChiStreamIsRecordedAndGivenBack) {
    std::FILE *chi = std::fopen(dir_.file("chi.txt").c_str(), "w");
    ASSERT_NE(chi, nullptr);
    EXPECT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    const errm_ReportChannel &row = errm_Reports[ERRM_CH_CHI];
    const int handle = row.handle;
    EXPECT_EQ(errm_FM_InUse(handle), 1);
    EXPECT_EQ(errm_FM_Stream(handle), chi);
    EXPECT_EQ(std::string(errm_FM_Name(handle)), "REPORT_CHI");
    EXPECT_EQ(row.opened, 1);
    EXPECT_EQ(row.authorised, 1);
    EXPECT_EQ(errm_FChiFileHandle, 1);
    EXPECT_EQ(errm_FM_Puts(handle, "chi line\n"), 0);

    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    EXPECT_EQ(row.handle, -1);
    EXPECT_EQ(row.opened, 0);
    EXPECT_EQ(row.authorised, 0);
    EXPECT_EQ(errm_FChiFileHandle, 0);
    EXPECT_EQ(errm_FM_InUse(handle), 0);
    EXPECT_GE(std::fputs("client line\n", chi), 0) << "the stream stays the client's";
    EXPECT_EQ(std::fclose(chi), 0);
    EXPECT_EQ(ReadFile(dir_.file("chi.txt")), "chi line\nclient line\n");
}

TEST_F(Channels, ReportFStreamLeavesTheChiFlagAlone) {
    std::FILE *rf = std::tmpfile();
    EXPECT_EQ(ERRM_Set_ReportF_FD(rf), 0);
    const errm_ReportChannel &row = errm_Reports[ERRM_CH_REPORT_F];
    EXPECT_EQ(std::string(errm_FM_Name(row.handle)), "REPORT_F");
    EXPECT_EQ(row.opened, 1);
    EXPECT_EQ(row.authorised, 1);
    EXPECT_EQ(errm_FChiFileHandle, 0);
    EXPECT_EQ(ERRM_Reset_ReportF_FD(), 0);
    EXPECT_EQ(row.handle, -1);
    EXPECT_EQ(row.opened, 0);
    EXPECT_EQ(row.authorised, 0);
    std::fclose(rf);
}

TEST_F(Channels, NullStreamChangesNothing) {
    StdoutCapture out;
    EXPECT_EQ(ERRM_Set_ChiFileHandle(nullptr), 1);
    EXPECT_EQ(ERRM_Set_ReportF_FD(nullptr), 1);
    EXPECT_EQ(out.Text(), "");
    for (int id : {ERRM_CH_CHI, ERRM_CH_REPORT_F}) {
        EXPECT_EQ(errm_Reports[id].handle, -1);
        EXPECT_EQ(errm_Reports[id].opened, 0);
        EXPECT_EQ(errm_Reports[id].authorised, 0);
    }
    EXPECT_EQ(errm_FChiFileHandle, 0);
    EXPECT_EQ(errm_FM_InUse(0), 0);
}

TEST_F(Channels, SecondChiStreamTakesAFurtherEntry) {
    std::FILE *first = std::tmpfile();
    std::FILE *second = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(first), 0);
    const int firstHandle = errm_Reports[ERRM_CH_CHI].handle;
    ASSERT_EQ(ERRM_Set_ChiFileHandle(second), 0);
    const int secondHandle = errm_Reports[ERRM_CH_CHI].handle;
    EXPECT_NE(secondHandle, firstHandle);
    EXPECT_EQ(errm_FM_Stream(secondHandle), second);
    EXPECT_EQ(errm_FM_InUse(firstHandle), 1) << "the first entry stays taken";
    EXPECT_EQ(errm_FM_Stream(firstHandle), first);
    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    EXPECT_EQ(errm_FM_InUse(secondHandle), 0);
    EXPECT_EQ(errm_FM_InUse(firstHandle), 1);
    std::fclose(first);
    std::fclose(second);
}

TEST_F(ChannelsReported, ResetWithoutAStreamReports1071) {
    StdoutCapture out;
    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 1);
    EXPECT_EQ(ERRM_Reset_ReportF_FD(), 1);
    EXPECT_EQ(MaskLines(out.Text()),
              "DLL-E(  2): DLL-E(  2): Open file failure for  @ F=src/reports/L=#\n"
              "DLL-E(  3): DLL-E(  3): Open file failure for  @ F=src/reports/L=#\n");
}

TEST_F(ChannelsReported, StreamReportsNameTheLastReportFileBuilt) {
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_LOG), 1);
    std::FILE *chi = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    ASSERT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    StdoutCapture out;
    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 1) << "a second reset finds no stream";
    EXPECT_EQ(MaskLines(out.Text()), "DLL-E(  2): DLL-E(  2): Open file failure for " +
                                         dir_.file("run1.log") + " @ F=src/reports/L=#\n");
    std::fclose(chi);
}

TEST_F(ChannelsReported, SetWithAFullFileManagerChangesNothing) {
    std::vector<int> handles;
    for (int i = 0; i < 16; ++i) {
        int h = -1;
        ASSERT_EQ(errm_FM_Open(dir_.file("f" + std::to_string(i)).c_str(), 'w', 0, &h), 0);
        handles.push_back(h);
    }
    std::FILE *chi = std::tmpfile();
    {
        StdoutCapture out;
        EXPECT_EQ(ERRM_Set_ChiFileHandle(chi), 1);
        EXPECT_EQ(ERRM_Set_ReportF_FD(chi), 1);
        EXPECT_EQ(MaskLines(out.Text()),
                  "FM error, no entry found F=REPORT_CHI E=1028\n"
                  "DLL-E(  2): DLL-E(  2): Open file failure for  @ F=src/reports/L=#\n"
                  "FM error, no entry found F=REPORT_F E=1028\n"
                  "DLL-E(  3): DLL-E(  3): Open file failure for  @ F=src/reports/L=#\n");
    }
    EXPECT_EQ(errm_Reports[ERRM_CH_CHI].handle, -1);
    EXPECT_EQ(errm_Reports[ERRM_CH_CHI].opened, 0);
    EXPECT_EQ(errm_Reports[ERRM_CH_REPORT_F].opened, 0);
    EXPECT_EQ(errm_FChiFileHandle, 0);
    for (int h : handles)
        EXPECT_EQ(errm_FM_Close(h), 0);
    std::fclose(chi);
}

TEST_F(Channels, SetWithoutMemoryForTheNameGivesTheEntryBack) {
    const int before = errm_AllocationCount();
    std::FILE *chi = std::tmpfile();
    errm_TestFailAllocation(1);
    EXPECT_EQ(ERRM_Set_ChiFileHandle(chi), 1);
    errm_TestFailAllocation(0);
    EXPECT_EQ(errm_FM_InUse(0), 0);
    EXPECT_EQ(errm_Reports[ERRM_CH_CHI].handle, -1);
    EXPECT_EQ(errm_FChiFileHandle, 0);
    EXPECT_EQ(errm_AllocationCount(), before);
    std::fclose(chi);
}

TEST_F(Channels, ResettingReportFKeepsChiWorking) {
    std::FILE *chi = std::fopen(dir_.file("chi.txt").c_str(), "w");
    std::FILE *rf = std::tmpfile();
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    ASSERT_EQ(ERRM_Set_ReportF_FD(rf), 0);
    ASSERT_EQ(ERRM_Reset_ReportF_FD(), 0);
    const errm_ReportChannel &row = errm_Reports[ERRM_CH_CHI];
    EXPECT_EQ(errm_FChiFileHandle, 1);
    EXPECT_EQ(row.opened, 1);
    EXPECT_EQ(row.authorised, 1);
    EXPECT_EQ(std::string(errm_FM_Name(row.handle)), "REPORT_CHI");
    EXPECT_EQ(errm_FM_Puts(row.handle, "still\n"), 0);
    EXPECT_EQ(ERRM_Reset_ChiFileHandle(), 0);
    std::fclose(chi);
    std::fclose(rf);
    EXPECT_EQ(ReadFile(dir_.file("chi.txt")), "still\n");
}

// ------------------------------------------------------------------ shutdown

TEST_F(Channels, FInitClosesLibraryFilesAndLeavesClientStreams) {
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_LOG), 1);
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_REPORT), 1);
    const int log = errm_Reports[ERRM_CH_LOG].handle;
    const int rep = errm_Reports[ERRM_CH_REPORT].handle;
    ASSERT_EQ(errm_FM_Puts(log, "log line\n"), 0);
    ASSERT_EQ(errm_FM_Puts(rep, "rep line\n"), 0);
    std::FILE *chi = std::fopen(dir_.file("chi.txt").c_str(), "w");
    ASSERT_EQ(ERRM_Set_ChiFileHandle(chi), 0);
    const int before = errm_AllocationCount();

    StdoutCapture out;
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(out.Text(), "");
    EXPECT_EQ(errm_Reports[ERRM_CH_LOG].opened, 0);
    EXPECT_EQ(errm_Reports[ERRM_CH_REPORT].opened, 0);
    EXPECT_EQ(errm_FM_InUse(log), 0);
    EXPECT_EQ(errm_FM_InUse(rep), 0);
    EXPECT_EQ(ReadFile(dir_.file("run1.log")), "log line\n");
    EXPECT_EQ(ReadFile(dir_.file("run1.rep")), "rep line\n");
    // The client's stream is neither closed nor forgotten by the channel.
    EXPECT_EQ(errm_Reports[ERRM_CH_CHI].opened, 1);
    EXPECT_GE(std::fputs("after\n", chi), 0);
    EXPECT_EQ(std::fclose(chi), 0);
    EXPECT_EQ(ReadFile(dir_.file("chi.txt")), "after\n");
    // Two file names, the Return buffer and the recorded CHI name.
    EXPECT_EQ(errm_AllocationCount(), before - 4);
}

TEST_F(ChannelsReported, FailingCloseAtShutdownReportsTheRow) {
    SysGuard sys;
    ASSERT_EQ(errm_OpenReportFile(ERRM_CH_REPORT), 1);
    errm_Sys.fclose = errmtest::FailingFclose;
    StdoutCapture out;
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(MaskLines(out.Text()), "FM error close, F=" + dir_.file("run1.rep") +
                                         " E=1027\n"
                                         "DLL-E(  2): DLL-E(  2): CLOSE file failure for REP=  5 "
                                         "@ F=src/reports/L=#\n");
    EXPECT_EQ(errm_Reports[ERRM_CH_REPORT].opened, 0) << "marked closed all the same";
}
