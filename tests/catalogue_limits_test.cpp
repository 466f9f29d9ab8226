// catalogue_limits_test.cpp - where errmc's checks and the library's limits
// meet: a catalogue errmc accepts must be served in full. Both cases were
// found by the catalogue fuzzer.
//  - Environment names: the library records at most 32 distinct names in a
//    process and refuses a message that names another (internal error 1001);
//    errmc now warns about a catalogue that names more than 32.
//  - NUL characters: the library reads every text as a C string, so a "\u0000"
//    in a source's format (or any other text) silently cut the text; errmc
//    now refuses it.
#include "base/errm_interr.h"
#include "descriptor/errm_desc.h"
#include "source.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

using namespace errmtest;

namespace {

// A source of `count` messages; message i names ERRM_ENV_<i % distinct>.
std::string Source(int count, int distinct) {
    std::string s = "subsystem = \"ENV\"\nversion = \"1.0.0\"\nstamp = \"s\"\n";
    for (int i = 0; i < count; ++i)
        s += "\n[[message]]\nnumber = " + std::to_string(i) + "\nname = \"M" + std::to_string(i) +
             "\"\nseverity = \"NOTE\"\nformat = 'n'\nenv = \"ERRM_ENV_" +
             std::to_string(i % distinct) + "\"\n";
    return s;
}

std::vector<errmc::Diagnostic> Warnings(const errmc::Diagnostics &d) {
    std::vector<errmc::Diagnostic> w;
    for (const errmc::Diagnostic &x : d.All())
        if (x.kind == errmc::Diagnostic::Kind::Warning) w.push_back(x);
    return w;
}

} // namespace

TEST(EnvironmentNames, ErrmcWarnsOnceAtTheThirtyThirdDistinctName) {
    errmc::Diagnostics diags;
    const std::string text = Source(40, 35);
    std::optional<errmc::Source> src = errmc::ParseSource(text, "env.toml", diags);
    ASSERT_TRUE(src.has_value()) << "a warning does not stop the compilation";
    const std::vector<errmc::Diagnostic> w = Warnings(diags);
    ASSERT_EQ(w.size(), 1u);
    // Message 32 names the 33rd distinct name. After the 3 header lines each
    // message takes 7 lines, its env line last.
    EXPECT_EQ(w[0].at.line, 3u + 7u * 32u + 7u);
    EXPECT_NE(w[0].message.find("more than 32 distinct environment names"), std::string::npos);
    EXPECT_NE(w[0].message.find("1001"), std::string::npos);
}

TEST(EnvironmentNames, ErrmcIsSilentUpToThirtyTwoNames) {
    errmc::Diagnostics diags;
    // 60 messages, 32 names, each named twice or more.
    ASSERT_TRUE(errmc::ParseSource(Source(60, 32), "env.toml", diags).has_value());
    EXPECT_TRUE(Warnings(diags).empty());
}

TEST(EnvironmentNames, LibraryServesThirtyTwoNamesAndRefusesTheNext) {
    Library lib(true);
    errmc::Diagnostics diags;
    std::optional<errmc::Source> src = errmc::ParseSource(Source(34, 33), "env.toml", diags);
    ASSERT_TRUE(src.has_value());
    const int ss = lib.Load(src->cat);
    ASSERT_EQ(ss, 0);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(errm_LookupEntry(0, i), 0) << i;
    StdoutCapture out;
    const int refused = errm_LookupEntry(0, 32);
    // Message 33 names ERRM_ENV_0 again: known, served.
    const int known = errm_LookupEntry(0, 33);
    const std::string text = out.Text();
    EXPECT_EQ(refused, ERRM_E_TOO_MANY_ENV);
    EXPECT_EQ(known, 0);
    EXPECT_NE(text.find("Too many env vars =32 @ "), std::string::npos) << text;
}

// ------------------------------------------------------------ NUL characters

namespace {

// A source whose one message sets `key` to `value` (TOML text, quoted).
std::string SourceWith(const std::string &key, const std::string &value) {
    std::string s = "subsystem = \"NUL\"\nversion = \"1.0.0\"\nstamp = \"s\"\n";
    s += "\n[[message]]\nnumber = 1\nname = \"ONE\"\nseverity = \"NOTE\"\n";
    return s + key + " = " + value + "\n";
}

} // namespace

TEST(CatalogueTexts, ErrmcRefusesANulInAnyText) {
    for (const char *key : {"format", "id", "env", "see", "cat_file", "command", "comment"}) {
        errmc::Diagnostics diags;
        EXPECT_FALSE(errmc::ParseSource(SourceWith(key, "\"ab\\u0000cd\""), "nul.toml", diags))
            << key;
        ASSERT_EQ(diags.ErrorCount(), 1u) << key;
        const errmc::Diagnostic &d = diags.All().front();
        EXPECT_EQ(d.at.line, 9u) << key;
        EXPECT_NE(d.message.find("must not contain a NUL character"), std::string::npos) << key;
        // The same text without the NUL is accepted (the key's own rules aside).
        errmc::Diagnostics clean;
        errmc::ParseSource(SourceWith(key, "\"abcd\""), "nul.toml", clean);
        for (const errmc::Diagnostic &c : clean.All())
            EXPECT_EQ(c.message.find("NUL"), std::string::npos) << key;
    }
    errmc::Diagnostics diags;
    const std::string display = "subsystem = \"NUL\"\ndisplay_name = \"a\\u0000\"\n";
    EXPECT_FALSE(errmc::ParseSource(display, "nul.toml", diags));
    ASSERT_EQ(diags.ErrorCount(), 1u);
    EXPECT_EQ(diags.All().front().at.line, 2u);
}

TEST(CatalogueTexts, TheLibraryEndsATextAtItsFirstNul) {
    // What errmc now prevents: a format stored with a NUL is read up to it.
    Library lib;
    errmdesc::Message m = Msg(1, kNote, std::string("shown\0lost", 10), {kStdout});
    ASSERT_EQ(lib.Load(Cat("NUL", {m})), 0);
    ASSERT_EQ(errm_LookupEntry(0, 1), 0);
    EXPECT_STREQ(errm_CurrentEntry()->format, "shown");
}
