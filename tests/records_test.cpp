// records_test.cpp - JSON records through the exported API: every kind of
// record and its fields, arguments typed by their conversions, the rules a
// log collector reads lines by (whole lines, at most 102,400 bytes, valid
// UTF-8 JSON, the documented schema), cutting at a character boundary, the
// file's name (%p, %r, %h, the rank rule), fork, and records off.
#include "api_support.h"
#include "base/errm_options.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <climits>
#include <cmath>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>

using namespace errmtest;
using Json = nlohmann::json;

namespace {

// A library started with records on: json=<pattern> (a name in the records
// directory), with extra options after it.
struct Recorded {
    TempDir records;
    ScopedEnv options;
    Library lib;
    explicit Recorded(const std::string &pattern = "rec.json", const std::string &more = "")
        : options("ERRM_OPTIONS", "json=" + records.file(pattern) + more) {}
    std::string path(const std::string &name = "rec.json") const { return records.file(name); }
};

// The records of a file, each line checked against the rules a collector
// reads by, and each record against the documented fields and types.
std::vector<Json> Records(const std::string &path) {
    const std::string text = ReadFile(path);
    std::vector<Json> out;
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "last line incomplete";
    std::size_t at = 0;
    for (std::size_t eol; (eol = text.find('\n', at)) != std::string::npos; at = eol + 1) {
        const std::string line = text.substr(at, eol - at);
        EXPECT_LE(line.size() + 1, 65536u);
        Json r = Json::parse(line, nullptr, false); // invalid UTF-8 is a parse error
        EXPECT_FALSE(r.is_discarded()) << line.substr(0, 200);
        if (r.is_discarded()) continue;
        for (const char *k : {"time", "host", "run", "kind", "subsystem", "display", "id",
                              "severity", "text", "template"})
            EXPECT_TRUE(r[k].is_string()) << k;
        for (const char *k : {"pid", "thread", "number", "severity_number", "count"})
            EXPECT_TRUE(r[k].is_number_integer()) << k;
        for (const char *k : {"rank", "size"})
            EXPECT_TRUE(r[k].is_null() || r[k].is_number_unsigned()) << k;
        EXPECT_TRUE(r["channels"].is_array() && r["args"].is_array());
        const std::string time = r["time"];
        EXPECT_TRUE(time.size() == 27 && time[4] == '-' && time[10] == 'T' && time[19] == '.' &&
                    time.back() == 'Z')
            << time;
        EXPECT_TRUE(!r.contains("truncated") || r["truncated"] == true);
        EXPECT_EQ(r["pid"], getpid());
        out.push_back(std::move(r));
    }
    return out;
}

unsigned User(int severity, const char *format, ...) {
    va_list args;
    va_start(args, format);
    static int force = 1;
    const unsigned rc =
        ERRM_DisplayUserMessage_variadic(7, severity, "USR", &force, 1, "", format, args);
    va_end(args);
    return rc;
}

// The arguments of the one record a user message on STDOUT gives.
Json ArgsOf(const std::function<void()> &call) {
    Recorded r;
    {
        StdoutCapture quiet;
        call();
    }
    const auto recs = Records(r.path());
    return recs.size() == 1 ? recs[0]["args"] : Json("no record");
}

} // namespace

TEST(Records, EveryKindWithItsFields) {
    Recorded r;
    ScopedEnv level("REC_LEVEL", "3");
    auto cat = Cat("SOLV",
                   {Msg(1, kWarning, "step %d of %s", {kStdout, kLog}),
                    Msg(2, kFatal, "", {kStdout}), Msg(3, kDebug, "never %d", {kStdout})},
                   "Solver");
    cat.messages[1].id = "SOLV-E-DIVERGED";
    const int s = r.lib.Load(cat);
    ASSERT_GE(s, 0);
    ERRM_Set_GlobalNbrMaxOfMessages(2);
    {
        StdoutCapture quiet;
        for (int i = 0; i < 3; ++i)
            ERRM_ProcessError(s, 1, i, "mesh");
        ERRM_ProcessError(s, 2);
        ERRM_ProcessError(s, 3, 1); // DEBUG: no line
        ERRM_ProcessError(s, 99);   // not present
        ERRM_Set_GlobalVerboseMode(0);
        ERRM_DisplayUserMessage(4, kNote, "APP", nullptr, 1, "", "quiet %d", 1); // not shown
        ERRM_Set_GlobalVerboseMode(1);
        User(kError, "user %s\\n", "line");
        ERRM_DirectProcessError("TRACE", "S", "REC_LEVEL", 2, "direct %u", 5u);
        ERRM_DirectProcessError("TRACE", "S", "REC_LEVEL", 9, "too deep");
    }
    const auto recs = Records(r.path());
    struct Want {
        const char *kind, *id, *severity;
        int severityNumber, count;
        Json channels;
        const char *text, *format;
    } want[] = {
        {"message",
         "SOLV-1",
         "WARNING",
         13,
         1,
         {"STDOUT", "LOG"},
         "step 0 of mesh",
         "step %d of %s"},
        {"message",
         "SOLV-1",
         "WARNING",
         13,
         2,
         {"STDOUT", "LOG"},
         "step 1 of mesh",
         "step %d of %s"},
        {"message", "SOLV-1", "WARNING", 13, 3, {"LOG"}, "step 2 of mesh", "step %d of %s"},
        {"notice",
         "SOLV-1",
         "NOTE",
         9,
         1,
         {"STDOUT"},
         "Note: message (Solver - 1) has been displayed 2 times and will not be printed anymore ",
         "Note: message (%s - %d) has been displayed %d times and will not be printed anymore \n"},
        {"message", "SOLV-E-DIVERGED", "FATAL", 21, 1, {"STDOUT"}, "", ""},
        {"notice",
         "SOLV-99",
         "ERROR",
         17,
         1,
         {"STDOUT"},
         "errm error message number 99 not present in .bin, exit anyway.",
         "errm error message number %d not present in .bin, exit anyway."},
        {"user", "USR-7", "ERROR", 17, 1, {"STDOUT"}, "user line", "user %s\\n"},
        {"direct", "DIRECT-REC_LEVEL", "TRACE", 1, 1, {"STDOUT"}, "direct 5", "direct %u"},
    };
    ASSERT_EQ(recs.size(), std::size(want));
    for (std::size_t i = 0; i < recs.size(); ++i) {
        const Json &g = recs[i];
        const Want &w = want[i];
        SCOPED_TRACE(g.dump());
        EXPECT_EQ(g["kind"], w.kind);
        EXPECT_EQ(g["id"], w.id);
        EXPECT_EQ(g["severity"], w.severity);
        EXPECT_EQ(g["severity_number"], w.severityNumber);
        EXPECT_EQ(g["count"], w.count);
        EXPECT_EQ(g["channels"], w.channels);
        EXPECT_EQ(g["text"], w.text);
        EXPECT_EQ(g["template"], w.format);
        EXPECT_TRUE(g["rank"].is_null() && g["size"].is_null());
        EXPECT_EQ(g["run"], recs[0]["run"]);
    }
    EXPECT_EQ(recs[0]["subsystem"], "SOLV");
    EXPECT_EQ(recs[0]["display"], "Solver");
    EXPECT_EQ(recs[0]["args"], Json({0, "mesh"}));
    EXPECT_EQ(recs[3]["args"], Json({"Solver", 1, 2}));
    EXPECT_EQ(recs[5]["args"], Json({99}));
    EXPECT_EQ(recs[5]["subsystem"], "SOLV");
    // The same lines are in the report file.
    EXPECT_NE(r.lib.Report(".log").find("step 2 of mesh"), std::string::npos);
    // run: host-pid-start time.
    const std::string run = recs[0]["run"];
    EXPECT_EQ(
        run.rfind(recs[0]["host"].get<std::string>() + "-" + std::to_string(getpid()) + "-", 0),
        0u);
}

TEST(Records, SeverityNumbersAndRunOption) {
    Recorded r("rec.json", ",run=job-42");
    const char *keywords[] = {"?",     "ERROR", "ERROR_DELAYED", "WARNING", "FATAL",
                              "TRACE", "DEBUG", "NOTE",          "DISPLAY"};
    const int numbers[] = {0, 17, 17, 13, 21, 1, 5, 9, 9};
    {
        StdoutCapture quiet;
        for (int sev = 0; sev <= 8; ++sev)
            User(sev, "s");
    }
    const auto recs = Records(r.path());
    ASSERT_EQ(recs.size(), 9u);
    for (int sev = 0; sev <= 8; ++sev) {
        EXPECT_EQ(recs[sev]["severity"], keywords[sev]);
        EXPECT_EQ(recs[sev]["severity_number"], numbers[sev]);
        EXPECT_EQ(recs[sev]["count"], sev + 1); // one id: USR-7
        EXPECT_EQ(recs[sev]["run"], "job-42");
    }
}

TEST(Records, ArgumentsTypedByConversions) {
    int object = 0;
    const char *nothing = nullptr;
    struct Case {
        const char *name;
        std::function<void()> call;
        Json args;
    } cases[] = {
        {"ints",
         [] { User(1, "%d %ld %hd %hhd %u %x %lld", -5, -6L, 70000, 300, 7u, 255u, LLONG_MIN); },
         Json({-5, -6, 4464, 44, 7, 255, LLONG_MIN})},
        {"unsigned", [] { User(1, "%lu %hu %zu", ULONG_MAX, 65537u, std::size_t{3}); },
         Json({ULONG_MAX, 1, 3})},
        {"char and strings", [&] { User(1, "%c%s|%s|%.2s", 'A', "b\"c", nothing, "xyz"); },
         Json({"A", "b\"c", nullptr, "xy"})},
        {"floats", [] { User(1, "%f %e %g %f %f %Lf", 1.5, -2e-300, 0.1, INFINITY, -NAN, 2.5L); },
         Json({1.5, -2e-300, 0.1, "inf", "-nan", 2.5})},
        {"pointer", [&] { User(1, "%p %p", static_cast<void *>(&object), nullptr); },
         Json({"0x" +
                   [&] {
                       char b[32];
                       std::snprintf(b, sizeof b, "%lx", reinterpret_cast<unsigned long>(&object));
                       return std::string(b);
                   }(),
               "0x0"})},
        {"percent and width", [] { User(1, "100%% %*d %-*.*s|", 4, 7, 3, 1, "ab"); },
         Json({4, 7, 3, 1, "a"})},
        {"positions", [] { User(1, "%2$s %1$d %3$*4$d", 5, "x", 6, 3); }, Json({5, "x", 6, 3})},
        {"wide", [] { User(1, "%ls %lc", L"\u00e9t\u00e9", static_cast<wint_t>(L'\u00e0')); },
         Json({"\u00e9t\u00e9", "\u00e0"})},
        {"no conversion", [] { User(1, "plain %m"); }, Json::array()},
    };
    std::setlocale(LC_ALL, "C.UTF-8");
    for (const Case &c : cases)
        EXPECT_EQ(ArgsOf(c.call), c.args) << c.name;
}

TEST(Records, InvalidUtf8AndControlCharacters) {
    Recorded r;
    {
        StdoutCapture quiet;
        User(1, "%s|%s",
             "a\xff"
             "b\xc3",
             "\x1b[0m\t\xe2\x82\xac\xed\xa0\x80");
    }
    const auto recs = Records(r.path());
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0]["args"], Json({"a\xef\xbf\xbd"
                                     "b\xef\xbf\xbd",
                                     "\x1b[0m\t\xe2\x82\xac\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}));
    EXPECT_EQ(recs[0]["text"].get<std::string>().substr(0, 5), "a\xef\xbf\xbd"
                                                               "b");
    const std::string raw = ReadFile(r.path());
    EXPECT_NE(raw.find("\\u001b[0m\\t"), std::string::npos); // escaped, not raw
}

TEST(Records, LongRecordIsCutAtACharacterBoundary) {
    Recorded r;
    // Escapes make each control character six bytes: text and argument
    // together pass the record's 65,536 bytes.
    std::string arg;
    while (arg.size() < 6000)
        arg += std::string(20, '\x01') + "\xc3\xa9";
    {
        StdoutCapture quiet;
        User(1, "%s", arg.c_str());
        User(1, "short");
    }
    const auto recs = Records(r.path());
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0]["truncated"], true);
    EXPECT_EQ(recs[0]["text"], arg);
    const std::string cut = recs[0]["args"][0];
    EXPECT_LT(cut.size(), arg.size());
    EXPECT_EQ(arg.compare(0, cut.size(), cut), 0); // a prefix: no character split
    EXPECT_FALSE(recs[1].contains("truncated"));
}

TEST(Records, FileNames) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string pid = std::to_string(getpid());
    struct Case {
        const char *pattern;
        const char *rank, *size; // launcher variables, null: unset
        std::string file;
    } cases[] = {
        {"rec.json", nullptr, nullptr, "rec.json"},
        {"rec.json", "3", "12", "rec.03.json"},
        {"rec", "3", "8", "rec.3"},
        {"rec.json", "0", "1", "rec.json"}, // a single process has no rank
        {"rec.%p.json", "3", "8", "rec." + pid + ".json"},
        {"rec.%r.json", nullptr, nullptr, "rec." + pid + ".json"},
        {"rec.%r.json", "5", "100", "rec.05.json"},
        {"%h-%%.json", nullptr, nullptr, std::string(host) + "-%.json"},
    };
    for (const Case &c : cases) {
        ScopedEnv rank("OMPI_COMM_WORLD_RANK",
                       c.rank ? std::optional<std::string>(c.rank) : std::nullopt);
        ScopedEnv size("OMPI_COMM_WORLD_SIZE",
                       c.size ? std::optional<std::string>(c.size) : std::nullopt);
        errm_RereadRank();
        Recorded r(c.pattern);
        {
            StdoutCapture quiet;
            User(1, "x");
        }
        const auto recs = Records(r.path(c.file));
        ASSERT_EQ(recs.size(), 1u) << c.pattern << " -> " << c.file;
        if (c.rank && std::string(c.size) != "1") {
            EXPECT_EQ(recs[0]["rank"], std::stol(c.rank));
            EXPECT_EQ(recs[0]["size"], std::stol(c.size));
        }
        ERRM_FInit();
    }
    errm_RereadRank();
}

TEST(Records, ForkChildWritesItsOwnOrAppends) {
    for (const char *pattern : {"rec.%p.json", "rec.json"}) {
        Recorded r(pattern);
        StdoutCapture quiet;
        User(1, "parent");
        pid_t child = 0;
        int pipeFd[2];
        ASSERT_EQ(pipe(pipeFd), 0);
        EXPECT_EQ(RunInChild([&] {
                      pid_t me = getpid();
                      (void)!write(pipeFd[1], &me, sizeof me);
                      return User(1, "child") == 1 ? 0 : 1;
                  }),
                  0);
        ASSERT_EQ(read(pipeFd[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
        close(pipeFd[0]);
        close(pipeFd[1]);
        User(1, "parent again");
        const std::string own = std::string(pattern) == "rec.json"
                                    ? "rec.json"
                                    : "rec." + std::to_string(getpid()) + ".json";
        const std::string text = ReadFile(r.path(own));
        if (std::string(pattern) == "rec.json") {
            // One file: three whole lines, the child's with its own pid and run.
            ASSERT_EQ(Count(text, "\n"), 3);
            EXPECT_NE(text.find("\"pid\":" + std::to_string(child) + ","), std::string::npos);
        } else {
            EXPECT_EQ(Records(r.path(own)).size(), 2u);
            const std::string theirs = ReadFile(r.path("rec." + std::to_string(child) + ".json"));
            EXPECT_EQ(Count(theirs, "\n"), 1);
            EXPECT_NE(theirs.find("\"text\":\"child\""), std::string::npos);
        }
    }
}

TEST(Records, OffWritesNothingAndOpenFailureIsTold) {
    TempDir dir;
    {
        ScopedEnv options("ERRM_OPTIONS", std::nullopt);
        Library lib;
        StdoutCapture quiet;
        const int before = OpenFdCount();
        User(1, "no record");
        EXPECT_EQ(OpenFdCount(), before);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // A directory that does not exist: told once, then records stay off.
    ScopedEnv options("ERRM_OPTIONS", "json=" + dir.file("missing/rec.json"));
    Library lib(true);
    StdoutCapture out;
    User(1, "a");
    User(1, "b");
    EXPECT_EQ(Count(out.Text(), "Open file failure for " + dir.file("missing/rec.json")), 1);
}

TEST(Records, EveryLineMatchesTheSchema) {
    if (std::system("/usr/bin/python3 -c 'import jsonschema' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 jsonschema not installed";
    Recorded r;
    ScopedEnv level("REC_LEVEL", "3");
    const int s = r.lib.Load(Cat("SCH", {Msg(1, kError, "v=%g p=%p s=%s", {kStdout, kPipe})}));
    {
        StdoutCapture quiet;
        ERRM_ProcessError(s, 1, NAN, nullptr, nullptr);
        ERRM_ProcessError(s, 5);
        User(3, "%s %c", "\xff", 0);
        ERRM_DirectProcessError("T", "S", "REC_LEVEL", 1, "%lu", 1UL);
    }
    ASSERT_EQ(Records(r.path()).size(), 4u);
    const std::string cmd = "/usr/bin/python3 -c 'import json,sys,jsonschema\n"
                            "schema=json.load(open(sys.argv[1]))\n"
                            "for line in open(sys.argv[2],encoding=\"utf-8\"):\n"
                            "    jsonschema.validate(json.loads(line),schema)' " +
                            std::string(ERRM_SOURCE_DIR) + "/docs/record.schema.json " + r.path();
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST(Records, ThreadsWriteWholeLinesWithTheirIds) {
    Recorded r;
    {
        StdoutCapture quiet;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([] {
                for (int i = 0; i < 200; ++i)
                    User(3, "thread line %d", i);
            });
        for (std::thread &t : threads)
            t.join();
    }
    const auto recs = Records(r.path());
    ASSERT_EQ(recs.size(), 800u);
    std::set<long> ids;
    for (const Json &rec : recs)
        ids.insert(rec["thread"].get<long>());
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(recs.back()["count"], 800); // one id, counted across threads
}

// A write(2) that is interrupted every other call and takes at most 7 bytes.
static ssize_t ChoppyWrite(int fd, const void *buf, std::size_t n) {
    static int calls = 0;
    if (++calls % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::write(fd, buf, n < 7 ? n : 7);
}

TEST(Records, PartialAndInterruptedWritesGiveWholeLines) {
    Recorded r;
    SysGuard restore;
    errm_Sys.write = ChoppyWrite;
    {
        StdoutCapture quiet;
        for (int i = 0; i < 20; ++i)
            User(3, "line %d of %s", i, "\xc3\xa9t\xc3\xa9");
    }
    errm_SysRestore();
    const auto recs = Records(r.path());
    ASSERT_EQ(recs.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(recs[i]["args"], Json({i, "\xc3\xa9t\xc3\xa9"}));
}

// A special byte at every offset of a string, across the eight-byte steps
// of the plain-run scan: each comes back as written (invalid bytes as
// U+FFFD), and the raw line escapes it.
TEST(Records, SpecialBytesAtEveryOffset) {
    const struct {
        std::string byte, decoded, raw;
    } kinds[] = {{"\"", "\"", "\\\""},         {"\\", "\\", "\\\\"},
                 {"\x01", "\x01", "\\u0001"},  {"\x7f", "\x7f", "\x7f"},
                 {"\xc3\xa9", "\xc3\xa9", ""}, {"\xff", "\xef\xbf\xbd", ""}};
    for (const auto &k : kinds)
        for (std::size_t at = 0; at < 19; ++at) {
            const std::string arg = std::string(at, 'a') + k.byte + std::string(18 - at, 'b');
            Recorded r;
            {
                StdoutCapture quiet;
                User(1, "%s", arg.c_str());
            }
            const auto recs = Records(r.path());
            ASSERT_EQ(recs.size(), 1u);
            const std::string want = std::string(at, 'a') + k.decoded + std::string(18 - at, 'b');
            EXPECT_EQ(recs[0]["args"], Json({want})) << at;
            EXPECT_EQ(recs[0]["text"], want) << at;
            EXPECT_NE(ReadFile(r.path()).find(std::string(at, 'a') + k.raw), std::string::npos);
        }
}

// Records of messages that differ only in their subsystem, name or kind
// alternate: each keeps its own fields and its own count.
TEST(Records, AlternatingMessagesKeepTheirOwnFields) {
    Recorded r;
    const int a = r.lib.Load(Cat("ALPHA", {Msg(5, kError, "x %d", {kLog})}));
    const int b = r.lib.Load(Cat("ALPHB", {Msg(5, kError, "x %d", {kLog})}));
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    {
        StdoutCapture quiet;
        for (int i = 0; i < 2; ++i) {
            ERRM_ProcessError(a, 5, i);
            ERRM_ProcessError(b, 5, i);
            ERRM_DisplayUserMessage(5, kError, "ALPHA", nullptr, 1, "", "x %d", i);
        }
    }
    const auto recs = Records(r.path());
    ASSERT_EQ(recs.size(), 6u);
    const char *subsystems[] = {"ALPHA", "ALPHB", "ALPHA"};
    const char *kindsWanted[] = {"message", "message", "user"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(recs[i]["subsystem"], subsystems[i % 3]) << i;
        EXPECT_EQ(recs[i]["id"], std::string(subsystems[i % 3]) + "-5") << i;
        EXPECT_EQ(recs[i]["kind"], kindsWanted[i % 3]) << i;
        EXPECT_EQ(recs[i]["count"], i / 3 + 1) << i;
        EXPECT_EQ(recs[i]["args"], Json({i / 3})) << i;
    }
}
