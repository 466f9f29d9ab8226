// options_test.cpp - ERRM_OPTIONS parsing and the rank of a parallel launch.
#include "base/errm_options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

struct ParseCase {
    const char *text;
    int refused;
    errm_Diagnostics diagnostics;
    int strict;
    const char *json; // expected path, null: records off
    const char *run;
};

const ParseCase kParse[] = {
    {"", 0, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"diagnostics=stderr", 0, errm_Diagnostics::toStderr, 0, nullptr, ""},
    {"diagnostics=off:verify=strict", 0, errm_Diagnostics::off, 1, nullptr, ""},
    {"json=run.%r.json,run=job42", 0, errm_Diagnostics::toStdout, 0, "run.%r.json", "job42"},
    {"json='/a:b,c.json'", 0, errm_Diagnostics::toStdout, 0, "/a:b,c.json", ""},
    {",,json=x::", 0, errm_Diagnostics::toStdout, 0, "x", ""},
    {"colour=yes,diagnostics=stderr", 1, errm_Diagnostics::toStderr, 0, nullptr, ""},
    {"diagnostics=loud", 1, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"verify", 1, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"json=", 1, errm_Diagnostics::toStdout, 0, nullptr, ""},
    {"diagnostics=stderr,diagnostics=off", 0, errm_Diagnostics::off, 0, nullptr, ""},
};

TEST(Options, ParseTable) {
    for (const ParseCase &c : kParse) {
        SCOPED_TRACE(c.text);
        errm_RunOptions o;
        EXPECT_EQ(errm_ParseOptions(c.text, &o), c.refused);
        EXPECT_EQ(o.diagnostics, c.diagnostics);
        EXPECT_EQ(o.verifyStrict, c.strict);
        EXPECT_EQ(o.json, c.json != nullptr ? 1 : 0);
        if (c.json != nullptr) {
            EXPECT_STREQ(o.jsonPath, c.json);
        }
        EXPECT_STREQ(o.run, c.run);
    }
}

TEST(Options, OverlongValuesAreRefusedNotCut) {
    errm_RunOptions o;
    std::string text = "run=" + std::string(ERRM_OPTION_RUN_CAP, 'r');
    EXPECT_EQ(errm_ParseOptions(text.c_str(), &o), 1);
    EXPECT_STREQ(o.run, "");
    text = "json=" + std::string(ERRM_OPTION_PATH_CAP - 1, 'p');
    EXPECT_EQ(errm_ParseOptions(text.c_str(), &o), 0);
    EXPECT_EQ(std::string(o.jsonPath).size(), ERRM_OPTION_PATH_CAP - 1);
}

struct RankCase {
    const char *vars[4][2]; // name, value; null name ends
    int known;
    const char *text;
};

const RankCase kRanks[] = {
    {{{nullptr, nullptr}}, 0, ""},
    {{{"OMPI_COMM_WORLD_RANK", "3"}, {"OMPI_COMM_WORLD_SIZE", "8"}, {nullptr, nullptr}}, 1, "3"},
    {{{"PMI_RANK", "7"}, {"PMI_SIZE", "12"}, {nullptr, nullptr}}, 1, "07"},
    {{{"PMIX_RANK", "5"}, {"PMIX_SIZE", "101"}, {nullptr, nullptr}}, 1, "005"},
    {{{"SLURM_PROCID", "0"}, {"SLURM_NTASKS", "1"}, {nullptr, nullptr}}, 0, ""},
    {{{"SLURM_PROCID", "9"}, {"SLURM_NTASKS", "4"}, {nullptr, nullptr}}, 0, ""},
    {{{"PMI_RANK", "x1"}, {"PMI_SIZE", "4"}, {nullptr, nullptr}}, 0, ""},
    {{{"PMIX_RANK", "2"}, {nullptr, nullptr}}, 0, ""},
    {{{"OMPI_COMM_WORLD_RANK", "1"}, {"OMPI_COMM_WORLD_SIZE", "2"}, {"SLURM_PROCID", "5"},
      {"SLURM_NTASKS", "64"}},
     1,
     "1"},
};

TEST(Options, RankTable) {
    const char *all[] = {"OMPI_COMM_WORLD_RANK", "OMPI_COMM_WORLD_SIZE", "PMI_RANK", "PMI_SIZE",
                         "PMIX_RANK",            "PMIX_SIZE",            "SLURM_PROCID",
                         "SLURM_NTASKS"};
    for (const RankCase &c : kRanks) {
        for (const char *name : all)
            unsetenv(name);
        for (const auto &v : c.vars)
            if (v[0] != nullptr) setenv(v[0], v[1], 1);
        errm_RereadRank();
        char text[16];
        SCOPED_TRACE(c.text);
        EXPECT_EQ(errm_Rank().known, c.known);
        EXPECT_EQ(errm_RankText(text, sizeof text), c.known);
        EXPECT_STREQ(text, c.text);
    }
    char tiny[1];
    EXPECT_EQ(errm_RankText(tiny, sizeof tiny), 0); // "1" does not fit with its terminator
}

} // namespace
