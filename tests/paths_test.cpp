// paths_test.cpp - file utilities (existence, size, deletion, temporary
// names) and the search path: building the directory list from its
// variable and finding files through it.
#include "base/errm_alloc.h"
#include "errm.h"
#include "frame_support.h"
#include "reports/errm_paths.h"
#include "test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using errmtest::ReadFile;
using errmtest::ScopedEnv;
using errmtest::StdoutCapture;
using errmtest::SysGuard;
using errmtest::TempDir;
using errmtest::WriteFile;

namespace {

constexpr const char *kVar = "ERRM_TEST_SPATH";

// The directories of the list, as texts.
std::vector<std::string> ListedPaths(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i)
        paths.emplace_back(errm_SearchPathDir(i) != nullptr ? errm_SearchPathDir(i) : "<null>");
    return paths;
}

struct Built {
    int result;
    std::string out;
    std::vector<std::string> paths;
};

// Builds the list from a value of the variable (nullopt: not set), then
// releases it; checks that the release gives back every block.
Built Build(std::optional<std::string> value) {
    ScopedEnv var(kVar, std::move(value));
    const int before = errm_AllocationCount();
    StdoutCapture out;
    Built b;
    b.result = errm_GetListOfPaths(kVar);
    b.out = out.Text();
    b.paths = ListedPaths(b.result);
    errm_FreeListOfPaths();
    EXPECT_EQ(errm_AllocationCount(), before) << "the release frees every stored directory";
    return b;
}

int g_failedOpens = 0;
int FailingOpen(const char *, int) {
    ++g_failedOpens;
    errno = EACCES;
    return -1;
}

} // namespace

// ---------------------------------------------------------- directory list

TEST(PathList, SingleDirectoryGetsItsSlash) {
    Built b = Build("data");
    EXPECT_EQ(b.result, 1);
    EXPECT_EQ(b.out, "path=data/\n");
    EXPECT_EQ(b.paths, std::vector<std::string>{"data/"});
    b = Build("data/");
    EXPECT_EQ(b.out, "path=data/\n");
}

TEST(PathList, AtMostEightDirectoriesAreStored) {
    Built b = Build("a:b:c:d:e:f:g:h:i");
    EXPECT_EQ(b.result, 8);
    EXPECT_EQ(b.out, "path=a/\npath=b/\npath=c/\npath=d/\npath=e/\npath=f/\npath=g/\npath=h/\n");
    EXPECT_EQ(b.paths, (std::vector<std::string>{"a/", "b/", "c/", "d/", "e/", "f/", "g/", "h/"}));
}

TEST(PathList, EmptyElementsBecomeTheRootDirectory) {
    Built b = Build("a::b");
    EXPECT_EQ(b.result, 3);
    EXPECT_EQ(b.out, "path=a/\npath=/\npath=b/\n");
    b = Build(":a");
    EXPECT_EQ(b.result, 2);
    EXPECT_EQ(b.paths, (std::vector<std::string>{"/", "a/"}));
    // The separator is the colon, even after a drive letter.
    b = Build("C:/x");
    EXPECT_EQ(b.result, 2);
    EXPECT_EQ(b.paths, (std::vector<std::string>{"C/", "/x/"}));
}

TEST(PathList, ColonAtTheEndGivesNoList) {
    Built b = Build("a:b:");
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, "path=a/\npath=b/\n");
    b = Build(":");
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, "path=/\n");
}

TEST(PathList, VariableNotSetOrEmpty) {
    Built b = Build(std::nullopt);
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, std::string("SPATH not set, ") + kVar + " is nul\n");
    b = Build("");
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, "");
}

TEST(PathList, ReferencesAreExpandedOnce) {
    ScopedEnv home("ERRM_TEST_HOME", "/home/u");
    ScopedEnv ref("ERRM_TEST_REF", "${ERRM_TEST_HOME}");
    Built b = Build("${ERRM_TEST_HOME}/lib:x${ERRM_TEST_REF}");
    EXPECT_EQ(b.result, 2);
    EXPECT_EQ(b.out, "path=/home/u/lib/\npath=x${ERRM_TEST_HOME}/\n");
    ScopedEnv missing("ERRM_TEST_MISSING", std::nullopt);
    b = Build("a:${ERRM_TEST_MISSING}/b:c");
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, "path=a/\nERROR: \"ERRM_TEST_MISSING\" not found in env\n");
}

TEST(PathList, ElementsAndTheirTotalAreBounded) {
    // An element of 1022 characters takes its slash; one of 1023 does not
    // fit the working buffer and is left out.
    const std::string longest(1022, 'L');
    Built b = Build(longest + ":" + std::string(1023, 'M') + ":z");
    EXPECT_EQ(b.result, 2);
    EXPECT_EQ(b.paths, (std::vector<std::string>{longest + "/", "z/"}));

    // The elements before a colon may hold up to 4095 characters together.
    const std::string k(1000, 'k');
    b = Build(k + ":" + k + ":" + k + ":" + k + ":" + std::string(95, 'n') + ":x");
    EXPECT_EQ(b.result, 6);
    EXPECT_EQ(b.paths.back(), "x/");
    b = Build(k + ":" + k + ":" + k + ":" + k + ":" + std::string(96, 'n') + ":x");
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(errmtest::Count(b.out, "path="), 5) << "x is not reached";
    // The last element is not counted.
    b = Build(k + ":" + k + ":" + k + ":" + k + ":" + std::string(1000, 'l'));
    EXPECT_EQ(b.result, 5);
}

TEST(PathList, AllocationFailureGivesNoList) {
    errm_TestFailAllocation(1);
    Built b = Build("a:b");
    errm_TestFailAllocation(0);
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, "");
    errm_TestFailAllocation(2);
    b = Build("a:b:c");
    errm_TestFailAllocation(0);
    EXPECT_EQ(b.result, 0);
    EXPECT_EQ(b.out, "path=a/\n");
}

// ------------------------------------------------------------- searching

class Search : public ::testing::Test {
  protected:
    std::string Dir(const std::string &name) {
        std::filesystem::create_directories(dir_.file(name));
        return dir_.file(name);
    }
    // Searches and returns what was printed; *found and dst_ hold the result.
    std::string Find(const std::string &file, int *found) {
        StdoutCapture out;
        *found = errm_FindFileInPath(kVar, file.c_str(), dst_);
        return out.Text();
    }

    TempDir dir_;
    char dst_[1024] = "";
};

TEST_F(Search, FileInTheSecondDirectoryAndTheListIsBuiltOnce) {
    const std::string one = Dir("one");
    const std::string two = Dir("two");
    WriteFile(two + "/wanted.txt", "x");
    WriteFile(one + "/both.txt", "1");
    WriteFile(two + "/both.txt", "2");
    ScopedEnv var(kVar, one + ":" + two);
    int found = -1;
    EXPECT_EQ(Find("wanted.txt", &found), std::string("errm_FM_FindFileInPath, V_MAX_PATH=0\n") +
                                              "errm_FM_GetListOfPaths for " + kVar + "\n" +
                                              "path=" + one + "/\n" + "path=" + two + "/\n");
    EXPECT_EQ(found, 1);
    EXPECT_EQ(std::string(dst_), two + "/wanted.txt");
    EXPECT_EQ(errm_SearchPathCount(), 2);

    EXPECT_EQ(Find("both.txt", &found), "errm_FM_FindFileInPath, V_MAX_PATH=2\n");
    EXPECT_EQ(found, 1);
    EXPECT_EQ(std::string(dst_), one + "/both.txt") << "directories are searched in order";

    EXPECT_EQ(Find("absent.txt", &found), "errm_FM_FindFileInPath, V_MAX_PATH=2\n");
    EXPECT_EQ(found, 0);

    // A later change of the variable does not rebuild the list.
    ScopedEnv changed(kVar, dir_.path());
    EXPECT_EQ(Find("one", &found), "errm_FM_FindFileInPath, V_MAX_PATH=2\n");
    EXPECT_EQ(found, 0);
    errm_FreeListOfPaths();
}

TEST_F(Search, NinthDirectoryIsNeverSearched) {
    std::string value;
    for (int i = 1; i <= 9; ++i)
        value += (i > 1 ? ":" : "") + Dir("d" + std::to_string(i));
    WriteFile(dir_.file("d9/nine.txt"), "9");
    WriteFile(dir_.file("d8/eight.txt"), "8");
    ScopedEnv var(kVar, value);
    int found = -1;
    const std::string out = Find("nine.txt", &found);
    EXPECT_EQ(errmtest::Count(out, "path="), 8);
    EXPECT_EQ(errmtest::Count(out, "/d9/"), 0);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(errm_SearchPathCount(), 8);
    Find("eight.txt", &found);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(std::string(dst_), dir_.file("d8/eight.txt"));
    errm_FreeListOfPaths();
}

TEST_F(Search, VariableNotSetMakesEverySearchFail) {
    ScopedEnv var(kVar, std::nullopt);
    int found = -1;
    EXPECT_EQ(Find("x", &found), std::string("errm_FM_FindFileInPath, V_MAX_PATH=0\n") +
                                     "errm_FM_GetListOfPaths for " + kVar + "\n" +
                                     "SPATH not set, " + kVar + " is nul\n");
    EXPECT_EQ(found, 0);
    ScopedEnv set(kVar, dir_.path());
    EXPECT_EQ(Find("x", &found), "errm_FM_FindFileInPath, V_MAX_PATH=0\n");
    EXPECT_EQ(found, 0);
}

TEST_F(Search, FailedBuildKeepsNoDirectory) {
    const int before = errm_AllocationCount();
    ScopedEnv var(kVar, Dir("a") + ":");
    WriteFile(dir_.file("a/f"), "");
    int found = -1;
    EXPECT_EQ(Find("f", &found), std::string("errm_FM_FindFileInPath, V_MAX_PATH=0\n") +
                                     "errm_FM_GetListOfPaths for " + kVar +
                                     "\npath=" + dir_.file("a") + "/\n");
    EXPECT_EQ(found, 0);
    EXPECT_EQ(errm_SearchPathCount(), 0);
    EXPECT_EQ(errm_AllocationCount(), before);
}

TEST_F(Search, DirectoryAndNameThatDoNotFitAreSkipped) {
    // A real directory of more than 1000 characters, in pieces the file
    // system accepts.
    std::string deep = dir_.path();
    while (deep.size() < 1000) {
        const std::size_t piece = std::min<std::size_t>(200, 1000 - deep.size() - 1);
        deep += "/" + std::string(piece, 'p');
    }
    ASSERT_EQ(deep.size(), 1000u);
    std::filesystem::create_directories(deep);
    const std::string shortDir = Dir("s");
    const std::string name(1023 - deep.size(), 'f'); // with the slash: 1024 characters
    WriteFile(shortDir + "/" + name, "");
    ScopedEnv var(kVar, deep + ":" + shortDir);
    int found = -1;
    EXPECT_EQ(Find(name, &found), std::string("errm_FM_FindFileInPath, V_MAX_PATH=0\n") +
                                      "errm_FM_GetListOfPaths for " + kVar + "\npath=" + deep +
                                      "/\npath=" + shortDir + "/\n");
    EXPECT_EQ(found, 1);
    EXPECT_EQ(std::string(dst_), shortDir + "/" + name);
    errm_FreeListOfPaths();
}

TEST_F(Search, ShutdownReleasesTheListAndTheNextCycleBuildsItAgain) {
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", std::nullopt);
    const std::string a = Dir("a");
    ScopedEnv var(kVar, a + ":" + a);
    const int before = errm_AllocationCount();
    ASSERT_EQ(ERRM_Init(), 1);
    int found = -1;
    Find("none", &found);
    EXPECT_EQ(errm_AllocationCount(), before + 3) << "Return buffer and two directories";
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_AllocationCount(), before);
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(Find("none", &found), std::string("errm_FM_FindFileInPath, V_MAX_PATH=0\n") +
                                        "errm_FM_GetListOfPaths for " + kVar + "\npath=" + a +
                                        "/\npath=" + a + "/\n");
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_AllocationCount(), before);
}

// ---------------------------------------------------------- file utilities

TEST(FileUtilities, ExistenceAndSize) {
    TempDir dir;
    WriteFile(dir.file("five"), "hello");
    WriteFile(dir.file("empty"), "");
    EXPECT_EQ(errm_FileExists(dir.file("five").c_str()), 1);
    EXPECT_EQ(errm_FileExists(dir.path().c_str()), 0) << "only regular files exist";
    EXPECT_EQ(errm_FileExists(dir.file("missing").c_str()), 0);
    EXPECT_EQ(errm_FileSizeByName(dir.file("five").c_str()), 5u);
    EXPECT_EQ(errm_FileSizeByName(dir.file("empty").c_str()), 0u);
    EXPECT_EQ(errm_FileSizeByName(dir.file("missing").c_str()), 0u);
    EXPECT_EQ(errm_FileSizeByName(dir.path().c_str()), 0u) << "a directory has no size";

    SysGuard sys;
    g_failedOpens = 0;
    errm_Sys.open = FailingOpen;
    EXPECT_EQ(errm_FileSizeByName(dir.file("five").c_str()), 0u);
    EXPECT_EQ(g_failedOpens, 1);
}

TEST(FileUtilities, DeleteAlwaysPrintsItsLine) {
    TempDir dir;
    const std::string name = dir.file("gone.tmp");
    WriteFile(name, "x");
    StdoutCapture out;
    EXPECT_EQ(errm_DeleteFile(name.c_str()), 1);
    EXPECT_EQ(errm_DeleteFile(name.c_str()), 1) << "a missing file is no failure";
    EXPECT_EQ(out.Text(), name + " deleted\n" + name + " deleted\n");
    EXPECT_FALSE(errmtest::FileExists(name));
}

TEST(FileUtilities, TemporaryNameFromTimeAndProcess) {
    char name[64];
    errm_TempFileName(name);
    const std::string pid = std::to_string(getpid());
    EXPECT_TRUE(errmtest::HasShape(name, "tmp_99_99_99_" + std::string(pid.size(), '9') + ".tmp"))
        << name;
    EXPECT_EQ(std::string(name).substr(13), pid + ".tmp");

    SysGuard sys;
    ScopedEnv tz("TZ", "UTC0");
    tzset();
    errm_Sys.time = errmtest::FixedTime;
    errm_Sys.getpid = errmtest::FixedPid;
    errm_TempFileName(name);
    EXPECT_STREQ(name, "tmp_09_05_07_4242.tmp");
    char again[64];
    errm_TempFileName(again);
    EXPECT_STREQ(again, name) << "two names in the same second are equal";

    errm_Sys.localtime_r = errmtest::FailingLocaltime;
    errm_TempFileName(name);
    EXPECT_TRUE(errmtest::HasShape(name, "tmp_99_99_99_4242.tmp")) << name;
}
