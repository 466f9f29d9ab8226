// errmc_library_test.cpp - catalogues compiled by errmc, loaded by the
// library and processed through its exported functions: every message gives
// the line its source describes.
#include "descriptor/errm_desc.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

using namespace errmtest;

namespace {

int Shell(const std::string &command) {
    return std::system(command.c_str());
}

std::string Process(int ss, int number, const char *s = "x", int d = 0) {
    StdoutCapture out;
    ERRM_ProcessError(static_cast<unsigned>(ss), number, s, d);
    return out.Text();
}

const char *kSource = R"(subsystem    = "Flow"
display_name = "Flow solver"
version      = "1.2.3"
stamp        = "test-stamp"

[[message]]
number   = -4
name     = "NEGATIVE"
severity = "NOTE"
format   = 'negative %s %d'
reports  = ["STDOUT", "LOG"]

[[message]]
number   = 1
name     = "OPEN"
severity = "ERROR"
format   = 'cannot open %s (code %d)'
id       = "FLW-1"
reports  = ["STDOUT", "PIPE", "LOG"]
see      = "manual"
rc       = -3

[[message]]
number   = 2
name     = "DELAYED"
severity = "ERROR_DELAYED"
format   = 'late %s'
reports  = ["LOG"]
rc       = 7

[[message]]
number   = 3
name     = "WARN"
severity = "WARNING"
format   = 'warn %s'
reports  = ["STDOUT"]
force_display = true

[[message]]
number   = 4
name     = "FATAL"
severity = "FATAL"
format   = 'fatal'
reports  = ["STDOUT", "CHI"]

[[message]]
number   = 5
name     = "TRACE"
severity = "TRACE"
format   = 'trace %s'
reports  = ["STDOUT"]
env      = "FLOW_LEVEL"

[[message]]
number   = 6
name     = "DEBUG"
severity = "DEBUG"
format   = 'debug'
reports  = ["STDOUT"]

[[message]]
number   = 8
name     = "SHOW"
severity = "DISPLAY"
format   = 'shown %s'
reports  = ["STDOUT"]

[[message]]
number   = 9
name     = "CATTED"
severity = "NOTE"
format   = 'with file'
reports  = ["LOG"]
cat_file = "${ERRMC_T_DIR}/notes.txt"

[[message]]
number   = 10
name     = "COMMAND"
severity = "NOTE"
format   = 'with command'
reports  = ["LOG"]
command  = "true"
comment  = "a command with no output"
)";

} // namespace

TEST(ErrmcToLibrary, EveryMessageGivesItsLine) {
    Library lib;
    ScopedEnv dirVar("ERRMC_T_DIR", lib.dir().path());
    WriteFile(lib.file("flow.toml"), kSource);
    WriteFile(lib.file("notes.txt"), "note text\n");
    ASSERT_EQ(Shell("cd '" + lib.dir().path() +
                    "' && '" ERRMC_PATH "' compile flow.toml -o . > /dev/null"),
              0);
    ASSERT_TRUE(FileExists(lib.file("errm_desc_FLOW.bin")));
    int ss = -1;
    ASSERT_EQ(ERRM_ReadErrorDescriptor("flow", &ss), 0);
    char stamp[13], version[4];
    ASSERT_EQ(ERRM_DisplayInfos("FLOW", stamp, version), 0);
    EXPECT_STREQ(stamp, "test-stamp");
    EXPECT_EQ(version[0], 1);
    EXPECT_EQ(version[1], 2);
    EXPECT_EQ(version[2], 3);

    EXPECT_EQ(Process(ss, -4, "a", 1), "** Note: (Flow solver - -4) negative a 1\n");
    EXPECT_EQ(Process(ss, 1, "f.dat", 9),
              "** Error: (Flow solver - FLW-1) cannot open f.dat (code 9)\n"
              "TCL ERR= 1 \nTCL ERR= 1 \nTCL SS = Flow \n"
              "TCL MSG= ** Error: (Flow solver - FLW-1) cannot open f.dat (code 9)\n \n"
              "TCL GEN=  \n"
              "see manual\n"
              "TCL ERR= 1 \nTCL ERR= 1 \nTCL SS = Flow \nTCL MSG= see manual\n \nTCL GEN=  \n");
    EXPECT_EQ(ERRM_ProcessError(static_cast<unsigned>(ss), 1, "g", 0), -3);
    EXPECT_EQ(ERRM_ProcessError(static_cast<unsigned>(ss), 2, "z"), 7);
    EXPECT_EQ(ERRM_GetNumberOfDelayedErrors(), 1u);
    ERRM_Set_GlobalVerboseMode(0);
    EXPECT_EQ(Process(ss, 3, "w"), "** Warning: (Flow solver - 3) warn w\n") << "forced";
    ERRM_Set_GlobalVerboseMode(1);
    EXPECT_EQ(Process(ss, 4), "** Fatal: (Flow solver - 4) fatal\n");
    EXPECT_EQ(Process(ss, 5, "t"), "** Trace: (Flow solver - 5) trace t\n");
    EXPECT_EQ(Process(ss, 6), "");
    EXPECT_EQ(Process(ss, 8, "s"), "shown s\n");
    EXPECT_EQ(Process(ss, 9), "");
    std::string out;
    {
        std::string cwd = std::filesystem::current_path();
        std::filesystem::current_path(lib.dir().path());
        out = Process(ss, 10);
        std::filesystem::current_path(cwd);
    }
    EXPECT_NE(out.find(" deleted\n"), std::string::npos);
    char *text = ERRM_Get_ErrorMessage(static_cast<unsigned>(ss), 1, "r", 1);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "** Error: (Flow solver - FLW-1) cannot open r (code 1)\n");
    ASSERT_EQ(ERRM_FInit(), 1);

    const std::string log = AfterHeader(lib.Report(".log"));
    EXPECT_EQ(log.substr(0, log.find("-> cmd")),
              "** Note: (Flow solver - -4) negative a 1\n"
              "** Error: (Flow solver - FLW-1) cannot open f.dat (code 9)\nsee manual\n"
              "** Error: (Flow solver - FLW-1) cannot open g (code 0)\nsee manual\n"
              "** Error: (Flow solver - 2) late z\n"
              "** Note: (Flow solver - 9) with file\n-- cat " +
                  lib.file("notes.txt") +
                  " -- \nnote text\n-- EOF -- \n"
                  "** Note: (Flow solver - 10) with command\n");
}

TEST(ErrmcToLibrary, TheExampleCataloguesLoadAndServeEveryMessage) {
    Library lib;
    for (const char *name : {"sim", "solver", "io"}) {
        std::string src = std::string(ERRM_EXAMPLE_DIR) + "/" + name + ".toml";
        ASSERT_EQ(Shell("'" ERRMC_PATH "' compile '" + src + "' -o '" + lib.dir().path() +
                        "' > /dev/null"),
                  0)
            << name;
        int ss = -1;
        ASSERT_EQ(ERRM_ReadErrorDescriptor(name, &ss), 0) << name;
        const errm_SubsystemRow &row = errm_Subsystems[ss];
        for (int i = 0; i < row.entryCount; ++i)
            EXPECT_EQ(errm_LookupEntry(static_cast<unsigned>(ss), row.directory[i].number), 0)
                << name << " " << row.directory[i].number;
    }
}
