// errm_report_test.cpp - errm-report over record files the tests write: the
// line scanner and times as tables of lines, rank-set compression, the block
// reader at every block size, the summary's rows, decorated lines, anchors
// checked against errmc's own reference, and the built tool's exit statuses.
#include "report.h"
#include "summary.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using errm_report::Record;
using nlohmann::json;

// A record as the library writes it, with some fields replaced.
std::string Line(const json &changes = json::object(), const std::vector<std::string> &drop = {}) {
    json r = {{"time", "2026-12-07T21:03:04.123456Z"},
              {"host", "node1"},
              {"pid", 4242},
              {"rank", 3},
              {"size", 8},
              {"thread", 1},
              {"run", "demo"},
              {"kind", "message"},
              {"subsystem", "SIM"},
              {"display", "Simulator"},
              {"number", 40},
              {"id", "SIM-0040"},
              {"severity", "WARNING"},
              {"severity_number", 13},
              {"text", "step 1 rejected"},
              {"template", "step %d rejected"},
              {"args", {1}},
              {"count", 1},
              {"channels", {"STDOUT", "LOG"}}};
    r.merge_patch(changes);
    for (const std::string &k : drop)
        r.erase(k);
    return r.dump();
}

// A record whose field `key` holds the raw JSON text `value`.
std::string Raw(const std::string &key, const std::string &value) {
    std::string line = Line({{key, "@"}});
    const std::string marker = "\"" + key + "\":\"@\"";
    return line.replace(line.find(marker), marker.size(), "\"" + key + "\":" + value);
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ---------------------------------------------------------------- lines

TEST(errm_report_records, each_line_is_a_record_or_refused) {
    struct Case {
        const char *what;
        std::string line;
        bool ok;
        std::string text = "step 1 rejected";
    };
    const std::string valid = Line();
    const Case cases[] = {
        {"as written", valid, true},
        {"white space around", "  " + valid + " \r", true},
        {"unknown fields, nested", Line({{"extra", {{"a", {1, 2.5e-3, nullptr, true}}}}}), true},
        {"escapes decoded", Line({{"text", "\xC3\xA9\n\"\\/\t"}}), true, "\xC3\xA9\n\"\\/\t"},
        {"\\u escapes and a surrogate pair",
         R"({"time":"2026-12-07T21:03:04Z","id":"X-1","severity":"NOTE","text":"\u00e9\ud83d\ude00\u0041"})",
         true,
         "\xC3\xA9\xF0\x9F\x98\x80"
         "A"},
        {"no fields the reports need", "{}", false},
        {"missing time", Line(json::object(), {"time"}), false},
        {"missing id", Line(json::object(), {"id"}), false},
        {"missing severity", Line(json::object(), {"severity"}), false},
        {"time not RFC 3339", Line({{"time", "2026-12-07 21:03"}}), false},
        {"time as a number", Line({{"time", 17}}), false},
        {"not an object", "[1,2]", false},
        {"text after the object", valid + "x", false},
        {"two objects", valid + valid, false},
        {"trailing comma", valid.substr(0, valid.size() - 1) + ",}", false},
        {"unterminated string", R"({"time":"2026-12-07T21:03:04Z","id":"X)", false},
        {"raw control character", Raw("text", "\"a\x01\""), false},
        {"invalid UTF-8 byte", Raw("text", "\"a\xFF\""), false},
        {"overlong UTF-8", Raw("text", "\"\xC0\xAF\""), false},
        {"UTF-8 surrogate", Raw("text", "\"\xED\xA0\x80\""), false},
        {"above U+10FFFF", Raw("text", "\"\xF4\x90\x80\x80\""), false},
        {"lone surrogate escape", Raw("text", "\"\\ud800\""), false},
        {"bad escape", Raw("text", "\"\\x41\""), false},
        {"number with a leading zero", Raw("extra", "01"), false},
        {"number without digits", Raw("extra", "-"), false},
        {"bare word", Raw("extra", "nul"), false},
        {"nested too deep", Raw("extra", std::string(100, '[') + std::string(100, ']')), false},
        {"nested within bounds", Raw("extra", std::string(60, '[') + std::string(60, ']')), true},
    };
    errm_report::RecordParser parser;
    for (const Case &c : cases) {
        Record r;
        const bool ok = parser.Parse(c.line, r);
        EXPECT_EQ(ok, c.ok) << c.what << ": " << c.line;
        if (ok) {
            EXPECT_EQ(r.text, c.text) << c.what;
        }
    }
}

// Every line one byte away from a record (deleted, replaced or inserted
// byte), judged by the scanner and by a general JSON parser: the two agree
// on which lines are records, and on their text.
TEST(errm_report_records, agrees_with_a_json_parser_one_byte_away) {
    const std::string bases[] = {
        Line(),
        Line({{"text", "\xC3\xA9t\xC3\xA9 \"q\" \\ \u00e9 \xF0\x9F\x98\x80"},
              {"args", {1.5e-3, -2, nullptr}}}),
    };
    const std::string bytes = std::string("\"\\{}[],:0-.eEu tn\x01\x7F\xFF\xC3\xA9\x80", 24);
    errm_report::RecordParser parser;
    std::size_t tried = 0, records = 0;
    auto judge = [&](const std::string &line) {
        ++tried;
        bool want = json::accept(line);
        json j;
        if (want) {
            j = json::parse(line);
            want = j.is_object() && j.contains("time") && j["time"].is_string() &&
                   errm_report::ParseTime(j["time"].get<std::string>()).has_value() &&
                   j.contains("id") && j["id"].is_string() && j.contains("severity") &&
                   j["severity"].is_string();
        }
        Record r;
        const bool got = parser.Parse(line, r);
        ASSERT_EQ(got, want) << line;
        if (got && j.contains("text") && j["text"].is_string()) {
            ++records;
            ASSERT_EQ(r.text, j["text"].get<std::string>()) << line;
        }
    };
    for (const std::string &base : bases) {
        for (std::size_t i = 0; i < base.size(); ++i) {
            judge(std::string(base).erase(i, 1));
            for (char b : bytes) {
                std::string replaced = base;
                replaced[i] = b;
                judge(replaced);
                judge(std::string(base).insert(i, 1, b));
            }
        }
    }
    EXPECT_GT(records, tried / 10); // many mutants stay records: the texts were compared
}

TEST(errm_report_records, fields_and_their_defaults) {
    errm_report::RecordParser parser;
    Record r;
    ASSERT_TRUE(parser.Parse(Line(), r));
    EXPECT_EQ(r.rank, 3);
    EXPECT_EQ(r.size, 8);
    EXPECT_EQ(r.pid, 4242);
    EXPECT_EQ(r.number, 40);
    EXPECT_EQ(r.severityNumber, 13);
    EXPECT_EQ(r.timeUs, *errm_report::ParseTime("2026-12-07T21:03:04.123456Z"));
    // Null rank and size, no severity number (taken from the keyword), a
    // severity the catalogues do not know, no kind.
    ASSERT_TRUE(parser.Parse(Line({{"rank", nullptr}, {"size", nullptr}, {"severity", "FATAL"}},
                                  {"severity_number", "kind"}),
                             r));
    EXPECT_FALSE(r.rank.has_value());
    EXPECT_FALSE(r.size.has_value());
    EXPECT_EQ(r.severityNumber, 21);
    EXPECT_EQ(r.kind, "message");
    ASSERT_TRUE(parser.Parse(Line({{"severity", "CUSTOM"}}, {"severity_number"}), r));
    EXPECT_EQ(r.severityNumber, 0);
}

TEST(errm_report_records, times) {
    const std::int64_t base = 1796677384000000; // 2026-12-07T21:03:04Z
    const std::pair<const char *, std::optional<std::int64_t>> cases[] = {
        {"2026-12-07T21:03:04Z", base},
        {"2026-12-07T21:03:04.123456Z", base + 123456},
        {"2026-12-07T21:03:04.5Z", base + 500000},
        {"2026-12-07T21:03:04.1234567Z", base + 123456},
        {"2026-12-07T22:03:04+01:00", base},
        {"1970-01-01T00:00:00Z", 0},
        {"2026-12-07T21:03:04", std::nullopt},
        {"2026-12-07T21:03:04.Z", std::nullopt},
        {"2026-13-07T21:03:04Z", std::nullopt},
        {"2026-12-07T21:03:04Zjunk", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &[text, us] : cases)
        EXPECT_EQ(errm_report::ParseTime(text), us) << text;
    for (std::int64_t us : {base, base + 123456, std::int64_t{0}, std::int64_t{951782400000001}})
        EXPECT_EQ(errm_report::ParseTime(errm_report::FormatTime(us)), us);
    EXPECT_EQ(errm_report::FormatTime(base + 7), "2026-12-07T21:03:04.000007Z");
}

TEST(errm_report_summary, rank_sets_compress) {
    const std::pair<std::vector<std::int64_t>, const char *> cases[] = {
        {{}, ""},
        {{0}, "0"},
        {{0, 1, 2, 5}, "0-2,5"},
        {{0, 1}, "0-1"},
        {{3, 5, 7}, "3,5,7"},
        {{1, 2, 3, 9, 10, 64, 65, 200}, "1-3,9-10,64-65,200"},
    };
    for (const auto &[ranks, text] : cases) {
        errm_report::RankSet set;
        for (auto it = ranks.rbegin(); it != ranks.rend(); ++it)
            set.Add(*it), set.Add(*it);
        EXPECT_EQ(set.Ranks(), ranks);
        EXPECT_EQ(errm_report::CompressRanks(set.Ranks()), text);
    }
    std::vector<std::int64_t> wide;
    for (std::int64_t k = 0; k < 128; ++k)
        wide.push_back(k);
    wide.push_back(256);
    EXPECT_EQ(errm_report::CompressRanks(wide), "0-127,256");
}

// ---------------------------------------------------------------- files

// A rank's file: records, an invalid line, and a last line cut short.
struct Files {
    errmtest::TempDir dir;
    std::vector<std::string> paths;
    Files() {
        std::string a, b;
        for (int i = 0; i < 50; ++i)
            a += Line({{"rank", 0},
                       {"time", errm_report::FormatTime(1000000 * i)},
                       {"text", "step " + std::to_string(i) + std::string(i * 40, '.')}}) +
                 "\n";
        b += Line({{"rank", 5}, {"time", "1970-01-01T00:00:00.5Z"}, {"text", "first"}}) + "\n";
        b += "not json\n";
        b += Line({{"rank", 5},
                   {"time", "1970-01-01T00:00:02Z"},
                   {"id", "SIM-0099"},
                   {"number", 99},
                   {"severity", "FATAL"},
                   {"severity_number", 21},
                   {"text", "diverged"}}) +
             "\n";
        b += Line({{"rank", 5}, {"kind", "notice"}, {"severity", "NOTE"}}) + "\n";
        b += Line({{"rank", 5}}).substr(0, 60);
        paths = {dir.file("run.0.json"), dir.file("run.5.json")};
        WriteFile(paths[0], a);
        WriteFile(paths[1], b);
    }
};

TEST(errm_report_files, every_block_size_reads_the_same) {
    Files f;
    for (std::size_t block :
         {std::size_t{16}, std::size_t{100}, std::size_t{4096}, errm_report::kBlock}) {
        errm_report::RecordReader reader(f.paths[1], block);
        Record r;
        std::vector<std::string> texts;
        while (reader.Next(r))
            texts.emplace_back(r.text);
        EXPECT_EQ(texts, (std::vector<std::string>{"first", "diverged", "step 1 rejected"}))
            << block;
        EXPECT_EQ(reader.stats().records, 3u);
        EXPECT_EQ(reader.stats().invalid, 1u);
        EXPECT_EQ(reader.stats().firstInvalidLine, 2u);
        EXPECT_TRUE(reader.stats().cut);
        errm_report::RecordReader whole(f.paths[0], block);
        std::uint64_t n = 0;
        while (whole.Next(r))
            ++n;
        EXPECT_EQ(n, 50u) << block;
        EXPECT_FALSE(whole.stats().cut);
    }
}

TEST(errm_report_files, summary_rows) {
    Files f;
    errm_report::Summary s;
    const auto stats = errm_report::Summarise(f.paths, s);
    EXPECT_FALSE(errm_report::ReportStats(stats));
    ASSERT_EQ(s.Sorted().size(), 2u);
    const errm_report::Row &fatal = *s.Sorted()[0], &warning = *s.Sorted()[1];
    EXPECT_EQ(fatal.id, "SIM-0099");
    EXPECT_EQ(fatal.count, 1u);
    EXPECT_EQ(errm_report::CompressRanks(fatal.ranks.Ranks()), "5");
    EXPECT_EQ(warning.count, 51u); // the notice is not an occurrence
    EXPECT_EQ(errm_report::CompressRanks(warning.ranks.Ranks()), "0,5");
    EXPECT_EQ(warning.text, "step 0"); // the earliest, not the first read
    EXPECT_EQ(warning.first, "1970-01-01T00:00:00.000000Z");
    EXPECT_EQ(warning.last, "1970-01-01T00:00:49.000000Z");
    EXPECT_EQ(s.notices, 1u);
    EXPECT_EQ(s.records, 53u);
}

TEST(errm_report_lines, decorated_as_the_library_prints) {
    const std::pair<std::string, const char *> cases[] = {
        {Line(), "[3] ** Warning: (Simulator - SIM-0040) step 1 rejected\n"},
        {Line({{"id", "SIM-37"}, {"number", 37}, {"severity", "ERROR_DELAYED"}}),
         "[3] ** Error: (Simulator - 37) step 1 rejected\n"},
        {Line({{"display", ""}, {"severity", "FATAL"}}),
         "[3] ** Fatal: (SIM - SIM-0040) step 1 rejected\n"},
        {Line({{"severity", "DISPLAY"}, {"text", "done\n"}}), "[3] done\n"},
        {Line({{"kind", "user"}, {"severity", "ANY"}, {"text", "a\nb"}}), "[3] a\n[3] b\n"},
        {Line({{"kind", "notice"}, {"text", "shown 3 times"}}), "[3] shown 3 times\n"},
        {Line({{"rank", nullptr}}),
         "[pid 4242] ** Warning: (Simulator - SIM-0040) step 1 rejected\n"},
        {Line({{"severity", "LOUD"}}), "[3] ** LOUD: (Simulator - SIM-0040) step 1 rejected\n"},
    };
    errm_report::RecordParser parser;
    for (const auto &[line, want] : cases) {
        Record r;
        ASSERT_TRUE(parser.Parse(line, r)) << line;
        EXPECT_EQ(errm_report::DecoratedLine(r), want);
    }
}

// The anchors the page links to are those errmc doc writes.
TEST(errm_report_lines, anchors_are_errmc_docs) {
    errmtest::TempDir dir;
    const std::string doc = dir.file("messages.html");
    ASSERT_EQ(
        std::system(
            ("'" ERRMC_PATH "' doc " ERRM_EXAMPLE_DIR "/sim.toml --format html -o " + doc).c_str()),
        0);
    std::ifstream in(doc);
    const std::string page((std::istreambuf_iterator<char>(in)), {});
    for (int number : {1, 37, 40, 41, 90, 91})
        EXPECT_NE(page.find("id=\"" + errm_report::DocAnchor("SIM", number) + "\""),
                  std::string::npos)
            << number;
    EXPECT_EQ(errm_report::DocAnchor("my-sub", -3), "my_sub-m3");
}

// ---------------------------------------------------------------- the tool

TEST(errm_report_tool, exit_statuses_and_outputs) {
    Files f;
    WriteFile(f.dir.file("clean.json"), Line() + "\n" + Line({{"rank", 4}}) + "\n" + "{\"cut");
    struct Case {
        std::string args;
        int status;
        std::string out, err; // substrings expected
    };
    const std::string d = f.dir.path() + "/";
    const Case cases[] = {
        {"", 2, "", "subcommand"},
        {"frobnicate x", 2, "", ""},
        {"html " + d + "clean.json", 2, "", "--output"},
        {"summary", 2, "", "files"},
        {"--help", 0, "summary", ""},
        {"summary " + d + "clean.json", 0, "WARNING   SIM-0040  2      3-4",
         "clean.json) ends with a line"},
        {"summary --json " + d + "clean.json", 0, "\"ranks\": \"3-4\"", ""},
        {"summary " + d + "missing.json", 1, "", "missing.json: No such file"},
        {"summary " + d + "run.5.json", 1, "FATAL", "1 line not a record, ignored (first: line 2)"},
        {"merge " + d + "run.5.json " + d + "run.0.json", 1,
         "[0] ** Warning: (Simulator - SIM-0040) step 0\n[5] ** Warning: (Simulator - SIM-0040) "
         "first\n"
         "[0] ** Warning: (Simulator - SIM-0040) step 1.",
         ""},
        {"html " + d + "clean.json -o " + d + "run.html --doc messages.html", 0, "", ""},
        {"html " + d + "clean.json -o " + d + "no/such/dir/run.html", 1, "", "cannot write"},
    };
    for (const Case &c : cases) {
        const std::string cmd =
            "'" ERRM_REPORT_PATH "' " + c.args + " > " + d + "out.txt 2> " + d + "err.txt";
        const int raw = std::system(cmd.c_str());
        std::ifstream o(d + "out.txt"), e(d + "err.txt");
        const std::string out((std::istreambuf_iterator<char>(o)), {}),
            err((std::istreambuf_iterator<char>(e)), {});
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.args << "\n" << err;
        EXPECT_NE(out.find(c.out), std::string::npos) << c.args << "\n" << out;
        EXPECT_NE(err.find(c.err), std::string::npos) << c.args << "\n" << err;
    }
    // Past the open-file limit, merge orders the lines in memory: the same stream.
    std::string names;
    for (int k = 0; k < 12; ++k) {
        const std::string name = d + "m." + std::to_string(k) + ".json";
        WriteFile(name, Line({{"rank", k}, {"time", errm_report::FormatTime(1000 - k)}}) + "\n" +
                            Line({{"rank", k}, {"time", errm_report::FormatTime(2000 + k)}}) +
                            "\n");
        names += " " + name;
    }
    const std::string merge = "'" ERRM_REPORT_PATH "' merge" + names;
    ASSERT_EQ(std::system((merge + " > " + d + "wide.txt").c_str()), 0);
    ASSERT_EQ(std::system(("ulimit -n 40 && " + merge + " > " + d + "narrow.txt").c_str()), 0);
    std::ifstream wide(d + "wide.txt"), narrow(d + "narrow.txt");
    const std::string a((std::istreambuf_iterator<char>(wide)), {}),
        b((std::istreambuf_iterator<char>(narrow)), {});
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.substr(0, a.find('\n')), "[11] ** Warning: (Simulator - SIM-0040) step 1 rejected");
    // The page stands alone: nothing it would fetch, every row present, ids linked.
    std::ifstream in(d + "run.html");
    const std::string page((std::istreambuf_iterator<char>(in)), {});
    for (const char *external : {" src=", "href=\"http", "@import", "url("})
        EXPECT_EQ(page.find(external), std::string::npos) << external;
    EXPECT_NE(page.find("<tr data-id=\"SIM-0040\""), std::string::npos);
    EXPECT_NE(page.find("href=\"messages.html#sim-40\""), std::string::npos);
    EXPECT_NE(page.find("data-rank=\"7\""), std::string::npos); // size 8: every rank drawn
}

} // namespace
