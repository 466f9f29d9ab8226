// followup_test.cpp - a message's follow-up actions: a file copied onto
// the reports (found directly, through ${VAR} expansion or the search path)
// and a command whose output is copied, in the order cat, see, command.
#include "base/errm_interr.h"
#include "platform/errm_platform.h"
#include "reports/errm_paths.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <regex>

using namespace errmtest;

namespace {

std::string Process(int ss, int number) {
    StdoutCapture out;
    ERRM_ProcessError(static_cast<unsigned>(ss), number);
    return out.Text();
}

errmdesc::Message CatMsg(int number, const std::string &file,
                         std::vector<std::uint8_t> reports = {kLog}) {
    errmdesc::Message m = Msg(number, kNote, "with file", std::move(reports));
    m.cat = "FILE=" + file;
    return m;
}

// The lines the search prints on stdout before it finds a file.
std::string SearchLines(int before, const std::string &var, const std::vector<std::string> &dirs) {
    std::string s = "errm_FM_FindFileInPath, V_MAX_PATH=" + std::to_string(before) + "\n";
    if (before == 0) {
        s += "errm_FM_GetListOfPaths for " + var + "\n";
        for (const std::string &d : dirs)
            s += "path=" + d + "\n";
    }
    return s;
}

} // namespace

TEST(CatFile, CopiesInPiecesOf1024BetweenMarkers) {
    Library lib;
    std::string content;
    for (int i = 0; i < 2 * 1024 + 452; ++i)
        content += static_cast<char>('a' + i % 26);
    WriteFile(lib.file("big.txt"), content);
    WriteFile(lib.file("exact.txt"), std::string(1024, 'e'));
    WriteFile(lib.file("nolf.txt"), "last line without line feed");
    ASSERT_EQ(lib.Load(Cat("SIM", {CatMsg(1, lib.file("big.txt")), CatMsg(2, lib.file("exact.txt")),
                                   CatMsg(3, lib.file("nolf.txt"))})),
              0);
    EXPECT_EQ(Process(0, 1), "");
    EXPECT_EQ(Process(0, 2), "");
    EXPECT_EQ(Process(0, 3), "");
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string log = AfterHeader(lib.Report(".log"));
    const std::string expected = "** Note: (SIM - 1) with file\n-- cat " + lib.file("big.txt") +
                                 " -- \n" + content + "-- EOF -- \n" +
                                 "** Note: (SIM - 2) with file\n-- cat " + lib.file("exact.txt") +
                                 " -- \n" + std::string(1024, 'e') + "-- EOF -- \n" +
                                 "** Note: (SIM - 3) with file\n-- cat " + lib.file("nolf.txt") +
                                 " -- \nlast line without line feed-- EOF -- \n";
    EXPECT_EQ(log, expected);
}

TEST(CatFile, PiecesAreSeparateWritesOnTheChannels) {
    // On the pipe channel every piece is its own message line: 2 x 1024 + 452
    // characters make three "TCL MSG=" lines between the marker lines.
    Library lib;
    std::string content(2 * 1024 + 452, 'p');
    WriteFile(lib.file("p.txt"), content);
    ASSERT_EQ(lib.Load(Cat("SIM", {CatMsg(1, lib.file("p.txt"), {kPipe})})), 0);
    std::string out = Process(0, 1);
    EXPECT_EQ(Count(out, "TCL MSG= "), 6);
    EXPECT_NE(out.find("TCL MSG= " + std::string(1024, 'p') + " \n"), std::string::npos);
    EXPECT_NE(out.find("TCL MSG= " + std::string(452, 'p') + " \n"), std::string::npos);
    EXPECT_NE(out.find("TCL MSG= -- EOF -- \n \n"), std::string::npos);
}

TEST(CatFile, FoundThroughExpansionAndTheSearchPath) {
    Library lib;
    std::filesystem::create_directories(lib.file("d1"));
    std::filesystem::create_directories(lib.file("d2"));
    WriteFile(lib.file("d2/notes.txt"), "from d2\n");
    WriteFile(lib.file("home.txt"), "from home\n");
    ScopedEnv home("ERRM_T_HOME", lib.dir().path());
    ScopedEnv spath("ERRM_T_SPATH", lib.file("d1") + ":" + lib.file("d2"));
    ASSERT_EQ(ERRM_Set_SearchPath("ERRM_T_SPATH"), 1);
    ASSERT_EQ(lib.Load(Cat("SIM", {CatMsg(1, "notes.txt"), CatMsg(2, "${ERRM_T_HOME}/home.txt")})),
              0);
    std::string out = Process(0, 1);
    EXPECT_EQ(out, SearchLines(0, "ERRM_T_SPATH", {lib.file("d1") + "/", lib.file("d2") + "/"}));
    // The list is built once: the next search prints only its first line.
    EXPECT_EQ(Process(0, 1), SearchLines(2, "", {}));
    EXPECT_EQ(Process(0, 2), "");
    ASSERT_EQ(ERRM_FInit(), 1);
    const std::string log = AfterHeader(lib.Report(".log"));
    EXPECT_EQ(Count(log, "-- cat " + lib.file("d2") + "/notes.txt -- \nfrom d2\n-- EOF -- \n"), 2);
    EXPECT_NE(log.find("-- cat " + lib.file("home.txt") + " -- \nfrom home\n-- EOF -- \n"),
              std::string::npos);
}

TEST(CatFile, MissingAndEmptyFiles) {
    Library lib(true);
    WriteFile(lib.file("empty.txt"), "");
    ASSERT_EQ(lib.Load(Cat("SIM", {CatMsg(1, "nowhere.txt"), CatMsg(2, lib.file("empty.txt")),
                                   CatMsg(3, "${ERRM_T_UNSET_VAR}/x")})),
              0);
    std::string out = Process(0, 1);
    // No search path is set: the variable named by it is the empty name.
    EXPECT_NE(out.find("SPATH not set,  is nul\n"), std::string::npos);
    EXPECT_NE(out.find("File nowhere.txt not found @ F=src/reports/L="), std::string::npos);
    EXPECT_NE(out.find("cat file error for nowhere.txt @ F=src/reports/L="), std::string::npos);
    Process(0, 2);
    out = Process(0, 3);
    EXPECT_NE(out.find("ERROR: \"ERRM_T_UNSET_VAR\" not found in env\n"), std::string::npos);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")),
              "** Note: (SIM - 1) with file\nFile \"nowhere.txt\" not found\n"
              "Error in cat for nowhere.txt\n"
              "** Note: (SIM - 2) with file\nfile " +
                  lib.file("empty.txt") +
                  " empty \n"
                  "** Note: (SIM - 3) with file\nError in cat for ${ERRM_T_UNSET_VAR}/x\n");
}

TEST(Command, OutputIsCopiedAndTheTemporaryFileDeleted) {
    Library lib;
    errmdesc::Message m = Msg(1, kWarning, "ran", {kStdout, kLog});
    m.command = "CMD=printf 'one\\ntwo\\n'";
    m.see = "the manual";
    m.cat = "FILE=" + lib.file("c.txt");
    WriteFile(lib.file("c.txt"), "cat\n");
    ASSERT_EQ(lib.Load(Cat("SIM", {m})), 0);
    std::string out;
    {
        std::string cwd = std::filesystem::current_path();
        std::filesystem::current_path(lib.dir().path());
        out = Process(0, 1);
        std::filesystem::current_path(cwd);
    }
    std::smatch match;
    ASSERT_TRUE(std::regex_search(out, match, std::regex(R"(tmp_\d{2}_\d{2}_\d{2}_(\d+)\.tmp)")))
        << out;
    const std::string tmp = match.str(0);
    EXPECT_EQ(std::stoi(match.str(1)), getpid());
    EXPECT_FALSE(FileExists(lib.file(tmp)));
    // Order: the line, the cat file, the see line, the command.
    EXPECT_EQ(out, "** Warning: (SIM - 1) ran\n-- cat " + lib.file("c.txt") +
                       " -- \ncat\n-- EOF -- \nsee the manual\n-> cmd printf 'one\\ntwo\\n' > " +
                       tmp + " \n-- cat " + tmp + " -- \none\ntwo\n-- EOF -- \n" + tmp +
                       " deleted\n");
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")),
              "** Warning: (SIM - 1) ran\n-- cat " + lib.file("c.txt") +
                  " -- \ncat\n-- EOF -- \nsee the manual\n-> cmd printf 'one\\ntwo\\n' > " + tmp +
                  " \n-- cat " + tmp + " -- \none\ntwo\n-- EOF -- \n");
}

TEST(Command, SilentAndFailingCommands) {
    Library lib;
    errmdesc::Message quiet = Msg(1, kNote, "q", {kLog});
    quiet.command = "CMD=true";
    errmdesc::Message none = Msg(2, kNote, "n", {kLog});
    none.command = "CMD=exit 3";
    ASSERT_EQ(lib.Load(Cat("SIM", {quiet, none})), 0);
    std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(lib.dir().path());
    std::string out = Process(0, 1);
    errm_Sys.system = [](const char *) { return -1; };
    std::string failing = Process(0, 2);
    errm_SysRestore();
    std::filesystem::current_path(cwd);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(out, match, std::regex(R"(tmp_\d{2}_\d{2}_\d{2}_\d+\.tmp)")));
    const std::string tmp1 = match.str(0);
    ASSERT_TRUE(std::regex_search(failing, match, std::regex(R"(tmp_\d{2}_\d{2}_\d{2}_\d+\.tmp)")));
    const std::string tmp2 = match.str(0);
    EXPECT_EQ(failing, tmp2 + " deleted\n");
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")),
              "** Note: (SIM - 1) q\n-> cmd true > " + tmp1 + " \nfile " + tmp1 +
                  " empty \n** Note: (SIM - 2) n\n-> cmd exit 3 > " + tmp2 + " \nexit 3 > " + tmp2 +
                  " failure\n");
}

TEST(SearchPath, NineElementsStoreEight) {
    Library lib;
    ScopedEnv spath("ERRM_T_SP", "a:b:c:d:e:f:g:h:i");
    StdoutCapture out;
    EXPECT_EQ(errm_GetListOfPaths("ERRM_T_SP"), 8);
    EXPECT_EQ(out.Text(),
              "path=a/\npath=b/\npath=c/\npath=d/\npath=e/\npath=f/\npath=g/\npath=h/\n");
    errm_FreeListOfPaths();
}

TEST(SearchPath, ReleasedAtShutdownAndRebuiltInTheNextCycle) {
    Library lib;
    std::filesystem::create_directories(lib.file("lib"));
    WriteFile(lib.file("lib/f.txt"), "x");
    ScopedEnv spath("ERRM_T_SP", lib.file("lib"));
    ASSERT_EQ(ERRM_Set_SearchPath("ERRM_T_SP"), 1);
    char found[1024];
    {
        StdoutCapture out;
        ASSERT_EQ(errm_FindFileInPath("ERRM_T_SP", "f.txt", found), 1);
    }
    EXPECT_EQ(std::string(found), lib.file("lib") + "/f.txt");
    EXPECT_EQ(errm_SearchPathCount(), 1);
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_SearchPathCount(), 0);
    EXPECT_EQ(errm_SearchPathDir(0), nullptr);
    ASSERT_EQ(ERRM_Init(), 1);
    StdoutCapture out;
    ASSERT_EQ(errm_FindFileInPath("ERRM_T_SP", "f.txt", found), 1);
    EXPECT_EQ(out.Text(), SearchLines(0, "ERRM_T_SP", {lib.file("lib") + "/"}));
}

// A follow-up's own failure lines are diagnostics on standard output (where
// diagnostics= sends them) and stay in the report files whatever it says.
class CatDiagnostics : public ::testing::TestWithParam<const char *> {};

TEST_P(CatDiagnostics, FailureLinesFollowTheOption) {
    const std::string setting = GetParam();
    ScopedEnv options("ERRM_OPTIONS", setting);
    Library lib(true);
    ASSERT_EQ(lib.Load(Cat("SIM", {CatMsg(1, "nowhere.txt", {kStdout, kLog})})), 0);
    std::string out, err;
    {
        StdoutCapture errCapture(2);
        StdoutCapture outCapture(1);
        ERRM_ProcessError(0, 1);
        out = outCapture.Text();
        err = errCapture.Text();
    }
    const std::string lines = "File \"nowhere.txt\" not found\nError in cat for nowhere.txt\n";
    EXPECT_NE(out.find("** Note: (SIM - 1) with file\n"), std::string::npos); // the message
    for (const char *line : {"File \"nowhere.txt\" not found\n", "Error in cat for nowhere.txt\n"}) {
        EXPECT_EQ(out.find(line) != std::string::npos, setting == "diagnostics=stdout") << out;
        EXPECT_EQ(err.find(line) != std::string::npos, setting == "diagnostics=stderr") << err;
    }
    ASSERT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(AfterHeader(lib.Report(".log")), "** Note: (SIM - 1) with file\n" + lines);
}

INSTANTIATE_TEST_SUITE_P(Settings, CatDiagnostics,
                         ::testing::Values("diagnostics=stdout", "diagnostics=stderr",
                                           "diagnostics=off"));
