// errmc_catalogue_test.cpp - catalogues over their life: the diff rules as a
// table of changes (in-process), then the built errmc on the golden
// catalogue (reference documents, --json forms, diff), its exit statuses, and
// the catalogues the Fortran generator refuses.
#include "diff.h"
#include "errm_descwriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using errmdesc::Catalogue;
using errmdesc::Message;

// ------------------------------------------------------------- diff rules

Catalogue Base() {
    Catalogue c;
    c.subsystem = "SIM";
    Message a;
    a.number = 10;
    a.name = "OPEN";
    a.format = "cannot open %s (%hd)";
    a.reports = {0, 7};
    Message b;
    b.number = 20;
    b.name = "STEP";
    b.format = "step %d";
    c.messages = {a, b};
    return c;
}

struct DiffCase {
    const char *what;
    std::function<void(Catalogue &)> change;
    std::vector<std::string> kinds; // in report order
    bool breaking;
    bool headers = true;
};

TEST(errmc_diff, each_kind_of_change_is_classified) {
    auto m0 = [](Catalogue &c) -> Message & { return c.messages[0]; };
    const DiffCase cases[] = {
        {"nothing", [](Catalogue &) {}, {}, false},
        {"removed", [](Catalogue &c) { c.messages.pop_back(); }, {"removed"}, true},
        {"added",
         [](Catalogue &c) {
             Message m;
             m.number = 30;
             m.name = "NEW";
             c.messages.push_back(m);
         },
         {"added"},
         false},
        {"renumbered", [](Catalogue &c) { c.messages[1].number = 25; }, {"renumbered"}, true},
        {"renamed", [&](Catalogue &c) { m0(c).name = "OPENED"; }, {"name"}, true},
        {"renamed, no headers", [&](Catalogue &c) { m0(c).name = "OPENED"; }, {"name"}, false,
         false},
        {"parameter added", [&](Catalogue &c) { m0(c).format += " %f"; },
         {"parameter-added", "format"}, true},
        {"parameter removed", [&](Catalogue &c) { m0(c).format = "cannot open %s"; },
         {"parameter-removed", "format"}, true},
        {"parameter type", [&](Catalogue &c) { m0(c).format = "cannot open %s (%ld)"; },
         {"parameter-type", "format"}, true},
        {"star width", [](Catalogue &c) { c.messages[1].format = "step %*d"; },
         {"parameter-added", "format"}, true},
        {"same promoted type", [&](Catalogue &c) { m0(c).format = "cannot open %s (%d)"; },
         {"format"}, false},
        {"wording", [&](Catalogue &c) { m0(c).format = "could not open %s (%hd)"; }, {"format"},
         false},
        {"severity", [&](Catalogue &c) { m0(c).severity = 3; }, {"severity"}, false},
        {"channels", [&](Catalogue &c) { m0(c).reports = {0}; }, {"channels"}, false},
        {"see", [&](Catalogue &c) { m0(c).see = "manual"; }, {"see"}, false},
        {"id, env, date, force", [&](Catalogue &c) {
             m0(c).id = "X-1";
             m0(c).env = "E";
             m0(c).dateKind = 2;
             m0(c).force = 1;
         },
         {"id", "env", "date", "force-display"}, false},
        {"follow-ups, comment", [&](Catalogue &c) {
             m0(c).cat = "FILE=a";
             m0(c).command = "CMD=b";
             m0(c).second = "c";
         },
         {"cat", "command", "comment"}, false},
        {"return code", [&](Catalogue &c) { m0(c).rc = 3; }, {"rc"}, true},
        {"subsystem", [](Catalogue &c) { c.subsystem = "SIM2"; }, {"subsystem"}, true},
        {"version, display name",
         [](Catalogue &c) {
             c.version = {1, 1, 0, 0};
             c.displayName = "Sim";
         },
         {"display-name", "version"}, false},
    };
    for (const DiffCase &t : cases) {
        Catalogue after = Base();
        t.change(after);
        const std::vector<errmc::Change> changes =
            errmc::DiffCatalogues(Base(), after, errmc::DiffOptions{t.headers});
        std::vector<std::string> kinds;
        bool breaking = false;
        for (const errmc::Change &c : changes) {
            kinds.push_back(c.kind);
            breaking |= c.breaking;
        }
        EXPECT_EQ(kinds, t.kinds) << t.what;
        EXPECT_EQ(breaking, t.breaking) << t.what;
    }
}

// ------------------------------------------------------------ errmc itself

class errmc_catalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *root = std::getenv("ERRM_TEST_TMP");
        fs::path base = root ? root : fs::temp_directory_path();
        fs::create_directories(base);
        std::string pattern = (base / "errmc-cat-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        for (const char *f : {"small.toml", "small_v2.toml", "broken.toml"})
            fs::copy_file(fs::path(ERRM_GOLDEN_DIR) / f, dir_ / f);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    struct Result {
        int status = -1;
        std::string out;
    };

    // Runs errmc in the test directory; standard error is dropped.
    Result Run(const std::string &args) const {
        return Shell(std::string("'") + ERRMC_PATH + "' " + args);
    }

    // Runs a command in the test directory; standard error is dropped.
    Result Shell(const std::string &command) const {
        Result r;
        const std::string cmd = "cd '" + dir_.string() + "' && " + command + " 2>/dev/null";
        FILE *p = popen(cmd.c_str(), "r");
        if (!p) return r;
        char buf[4096];
        for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            r.out.append(buf, n);
        const int raw = pclose(p);
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return r;
    }

    void WriteFile(const std::string &name, const std::string &text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }

    fs::path dir_;
};

// Outputs name the errmc version that wrote them; goldens hold a placeholder
// so that they do not change with the version.
std::string VersionFree(std::string text) {
    const std::string stamp = std::string("errmc ") + ERRMC_VERSION;
    for (std::size_t at = text.find(stamp); at != std::string::npos; at = text.find(stamp, at))
        text.replace(at, stamp.size(), "errmc @VERSION@");
    return text;
}

std::string Golden(const std::string &name) {
    std::ifstream in(fs::path(ERRM_GOLDEN_DIR) / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every output compared with its checked-in golden file. ERRMC_UPDATE_GOLDEN=1
// rewrites the files instead (review the change before committing it).
TEST_F(errmc_catalogue, outputs_match_their_goldens) {
    ASSERT_EQ(Run("compile small.toml -o .").status, 0);
    const struct {
        const char *args;
        const char *golden;
        int status;
    } cases[] = {
        {"doc small.toml", "small.md", 0},
        {"doc errm_desc_GOLD.bin --format html", "small.html", 0},
        {"check --json small.toml", "check.json", 0},
        {"check --json broken.toml", "check_broken.json", 1},
        {"info --json errm_desc_GOLD.bin", "info.json", 0},
        {"dump --json errm_desc_GOLD.bin", "dump.json", 0},
        {"diff --json errm_desc_GOLD.bin small_v2.toml", "diff.json", 1},
    };
    const bool update = std::getenv("ERRMC_UPDATE_GOLDEN") != nullptr;
    for (const auto &c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        const std::string out = VersionFree(r.out);
        if (update) std::ofstream(fs::path(ERRM_GOLDEN_DIR) / c.golden, std::ios::binary) << out;
        EXPECT_EQ(out, Golden(c.golden)) << c.args;
    }
    // A source and the descriptor compiled from it document alike.
    EXPECT_EQ(VersionFree(Run("doc small.toml --format html").out), Golden("small.html"));
}

// The HTML page's filter, run by a headless browser when one is installed:
// the messages shown for a filter given in the address.
TEST_F(errmc_catalogue, html_filter_finds_by_number_id_name_or_text) {
    const std::string browser = ERRM_CHROMIUM;
    if (browser.empty()) GTEST_SKIP() << "no chromium to run the page";
    ASSERT_EQ(Run("doc small.toml --format html -o small.html").status, 0);
    const struct {
        const char *filter;
        const char *shown; // the anchors of the messages shown, in page order
    } cases[] = {
        {"-3", "gold-m3"},              // a number
        {"GLD-0001", "gold-1"},         // an identifier, in any case
        {"step", "gold-2"},             // a name
        {"cannot%20OPEN", "gold-1"},    // words of the format, each anywhere
        {"open%20step", ""},            // every word must match
    };
    for (const auto &c : cases) {
        const Result r = Shell("'" + browser + "' --headless --no-sandbox --dump-dom 'file://" +
                             (dir_ / "small.html").string() + "?filter=" + c.filter + "'");
        std::string shown;
        const std::string open = "<section class=\"message\" id=\"";
        for (std::size_t at = r.out.find(open); at != std::string::npos;
             at = r.out.find(open, at + 1)) {
            const std::size_t tagEnd = r.out.find('>', at);
            const std::string tag = r.out.substr(at, tagEnd - at);
            if (tag.find(" hidden") != std::string::npos) continue;
            const std::size_t id = at + open.size();
            shown += (shown.empty() ? "" : " ") + r.out.substr(id, r.out.find('"', id) - id);
        }
        EXPECT_EQ(shown, c.shown) << c.filter;
    }
}

TEST_F(errmc_catalogue, statuses_of_diff_and_of_json_failures) {
    ASSERT_EQ(Run("compile small.toml -o .").status, 0);
    WriteFile("short.bin", "\x17\x34\x78\x45");
    Catalogue bad; // a descriptor may hold a format that no source may
    bad.subsystem = "BAD";
    bad.messages.resize(1);
    bad.messages[0].name = "N";
    bad.messages[0].format = "%d%n";
    std::string why;
    ASSERT_FALSE(errmdesc::WriteFile(bad, dir_.string(), &why).empty()) << why;
    const struct {
        const char *args;
        int status;
        const char *inOutput;
    } cases[] = {
        {"diff small.toml errm_desc_GOLD.bin", 0, "0 breaking changes, 0 other changes"},
        {"diff small_v2.toml small_v2.toml --json", 0, "\"breaking\": false"},
        {"diff small.toml small_v2.toml", 1, "message 2 STEP: renumbered to 5 [breaking]"},
        {"diff small.toml missing.toml", 2, ""},
        {"diff broken.toml small.toml", 1, ""},
        {"diff short.bin small.toml", 1, ""},
        {"info --json short.bin", 1, "\"magic\": null"},
        {"dump --json short.bin", 1, "\"messages\": []"},
        {"doc errm_desc_BAD.bin", 0, "| Parameters | the format is not one a caller can fill"},
        {"header errm_desc_BAD.bin --lang fortran -o bad.f90", 1, ""},
    };
    for (const auto &c : cases) {
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.out.find(c.inOutput), std::string::npos) << c.args << "\n" << r.out;
    }
}

// Names the Fortran module cannot hold are refused, and nothing is written.
TEST_F(errmc_catalogue, fortran_refuses_names_it_cannot_hold) {
    const std::string head = "subsystem = \"S\"\nstamp = \"x\"\n";
    auto message = [](int n, const std::string &name) {
        return "[[message]]\nnumber = " + std::to_string(n) + "\nname = \"" + name +
               "\"\nseverity = \"NOTE\"\n";
    };
    const struct {
        const char *what;
        std::string source;
        int status;
    } cases[] = {
        {"fine", head + message(1, "open") + message(2, "close"), 0},
        {"names that differ in case", head + message(1, "open") + message(2, "OPEN"), 1},
        {"a name as long as Fortran allows", head + message(1, std::string(51, 'a')), 0},
        {"a name longer", head + message(1, std::string(52, 'a')), 1},
        {"a module procedure's name", head + message(1, "load"), 1},
        {"an iso_c_binding name", "subsystem = \"C\"\nstamp = \"x\"\n" + message(1, "int"), 1},
    };
    for (const auto &c : cases) {
        WriteFile("f.toml", c.source);
        fs::remove(dir_ / "f.f90");
        EXPECT_EQ(Run("header f.toml --lang fortran -o f.f90").status, c.status) << c.what;
        EXPECT_EQ(fs::exists(dir_ / "f.f90"), c.status == 0) << c.what;
    }
}

} // namespace
