// errmc_test.cpp - the catalogue compiler: printf-format parsing and the
// default stamp in-process; then the built errmc binary end to end: compile
// and read back, every source error at its line and column, decompile round
// trips, the generated header under the C and C++ compilers, reproducible
// output, and the descriptor commands.
#include "errm_descwriter.h"
#include "header.h"
#include "printf_format.h"
#include "python.h"
#include "source.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using errmdesc::Catalogue;
using errmdesc::Message;
using Bytes = std::vector<std::uint8_t>;

// ------------------------------------------------------------ test harness

fs::path TempDir() {
    const char *root = std::getenv("ERRM_TEST_TMP");
    fs::path base = root ? root : fs::temp_directory_path();
    fs::create_directories(base);
    std::string pattern = (base / "errmc-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

// A fresh directory per test, removed afterwards.
class errmc_cli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = TempDir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    fs::path Path(const std::string &name) const { return dir_ / name; }

    fs::path Write(const std::string &name, const std::string &text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }

    static std::string Read(const fs::path &p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static Bytes ReadBytes(const fs::path &p) {
        const std::string s = Read(p);
        return Bytes(s.begin(), s.end());
    }

    struct Result {
        int status = -1;
        std::string out, err;
    };

    // Runs errmc in the test directory; `env` is prefixed to the command.
    Result Run(const std::string &args, const std::string &env = "") const {
        return Shell(env + " '" + ERRMC_PATH + "' " + args + " > out.txt 2> err.txt");
    }

    // Runs a shell command in the test directory.
    Result Shell(const std::string &command) const {
        Result r;
        const int raw = std::system(("cd '" + dir_.string() + "' && " + command).c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Read(Path("out.txt"));
        r.err = Read(Path("err.txt"));
        return r;
    }

    // Compiles `source` in the test directory with a fixed stamp epoch and
    // reads the descriptor back.
    Catalogue CompileAndRead(const std::string &source, const std::string &file = "src.toml") {
        Write(file, source);
        const Result r = Run("compile " + file + " -o bin", "SOURCE_DATE_EPOCH=0");
        EXPECT_EQ(r.status, 0) << r.err;
        Catalogue cat;
        errmdesc::ReadInfo info;
        std::string error;
        std::string bin;
        for (const auto &e : fs::directory_iterator(Path("bin")))
            bin = e.path().string();
        EXPECT_TRUE(errmdesc::ReadFile(bin, &cat, &info, &error)) << error;
        EXPECT_TRUE(info.digestMatches);
        return cat;
    }

    fs::path dir_;
};

const char *const kSimSource = R"(subsystem    = "SIM"
display_name = "Simulator"
version      = "1.0.3"
stamp        = "rel-2026-12"

[[message]]
number   = 37
name     = "OPEN_FAILED"
severity = "ERROR"
format   = 'cannot open %s (code %d)'
id       = "SIM-0037"
reports  = ["STDOUT", "LOG"]
force_display = true
date     = "date"
env      = "SIM_TRACE"
see      = "User guide, section 4"
cat_file = "notes.txt"
command  = "uname -a"
rc       = 2
comment  = "free text"

[[message]]
number = -4
name = "PROGRESS"
severity = "DISPLAY"
format = "%-*.*s %5.1f%% of %zu at %p"

[[message]]
number = 5
name = "QUIET"
severity = "DEBUG"
)";

// ------------------------------------------------------------ printf formats

std::vector<std::string> Types(const std::string &format) {
    const errmc::ParsedFormat p = errmc::ParsePrintfFormat(format);
    EXPECT_TRUE(p.problems.empty()) << format << ": " << p.problems[0].message;
    std::vector<std::string> out;
    for (const errmc::FormatArgument &a : p.arguments)
        out.push_back(a.ctype);
    return out;
}

TEST(errmc_printf, ConversionsGiveTheirPromotedArgumentTypes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Types("no conversions, 100%% sure"), V{});
    EXPECT_EQ(
        Types("%d %i %hd %hhi %ld %lld %jd %zd %td"),
        (V{"int", "int", "int", "int", "long", "long long", "intmax_t", "ptrdiff_t", "ptrdiff_t"}));
    EXPECT_EQ(Types("%u %o %x %X %hu %hhx %lu %llo %jx %zu %tX"),
              (V{"unsigned int", "unsigned int", "unsigned int", "unsigned int", "unsigned int",
                 "unsigned int", "unsigned long", "unsigned long long", "uintmax_t", "size_t",
                 "size_t"}));
    EXPECT_EQ(Types("%e %E %f %F %g %G %a %A %lf %Lg"),
              (V{"double", "double", "double", "double", "double", "double", "double", "double",
                 "double", "long double"}));
    EXPECT_EQ(Types("%c %lc %s %ls %p"),
              (V{"int", "wint_t", "const char *", "const wchar_t *", "const void *"}));
    // %m takes nothing; positioned arguments come in position order, once each.
    EXPECT_EQ(Types("%m %-20m %.5m"), V{});
    EXPECT_TRUE(errmc::ParsePrintfFormat("open: %m").readsErrno);
    EXPECT_EQ(Types("%3$s %1$*2$d %1$d %%"), (V{"int", "int", "const char *"}));
    EXPECT_EQ(Types("%'d %'.2f %'u"), (V{"int", "double", "unsigned int"}));
}

TEST(errmc_printf, FlagsWidthPrecisionAndStars) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Types("%-+ #08.3f %-10s %.0d %.s %#x %05d"),
              (V{"double", "const char *", "int", "const char *", "unsigned int", "int"}));
    // A '*' width and precision each take an int before the value.
    const errmc::ParsedFormat p = errmc::ParsePrintfFormat("[%*.*lu]");
    ASSERT_EQ(p.arguments.size(), 3u);
    EXPECT_TRUE(p.arguments[0].starArgument);
    EXPECT_TRUE(p.arguments[1].starArgument);
    EXPECT_FALSE(p.arguments[2].starArgument);
    EXPECT_EQ(p.arguments[2].ctype, "unsigned long");
    EXPECT_EQ(p.arguments[2].conversion, "%*.*lu");
    EXPECT_EQ(Types("%*d %.*s"), (V{"int", "int", "int", "const char *"}));
}

TEST(errmc_printf, ProblemsNameTheConversionAndItsOffset) {
    const char *kMixed = "positioned and unpositioned arguments in one format: position every "
                         "argument ('%1$d', '%*2$d') or none";
    struct Case {
        const char *format;
        std::size_t offset;
        const char *message;
    };
    const Case cases[] = {
        {"count %n", 6, "'%n' is not allowed: %n writes through a pointer argument"},
        {"x %ln", 2, "'%ln' is not allowed: %n writes through a pointer argument"},
        {"%q", 0, "the format ends inside the conversion '%q'"},
        {"ab %lk", 3, "unknown conversion 'k' in '%lk'"},
        {"%\x01", 0, "unknown conversion '\\x01' in '%\\x01'"},
        {"%5%", 0, "'%5%' must be written '%%'"},
        {"%l%", 0, "'%l%' must be written '%%'"},
        {"%hf", 0, "length modifier 'h' does not apply to '%f' in '%hf'"},
        {"%Ld", 0, "'%Ld' is not C ('L' is for long double): use '%lld'"},
        {"%hhs", 0, "length modifier 'hh' does not apply to '%s' in '%hhs'"},
        {"%zc", 0, "length modifier 'z' does not apply to '%c' in '%zc'"},
        {"%lp", 0, "length modifier 'l' does not apply to '%p' in '%lp'"},
        {"%llf", 0, "length modifier 'll' does not apply to '%f' in '%llf'"},
        {"%#d", 0, "flag '#' is undefined with '%d' in '%#d'"},
        {"%#u", 0, "flag '#' is undefined with '%u' in '%#u'"},
        {"%#s", 0, "flag '#' is undefined with '%s' in '%#s'"},
        {"%05s", 0, "flag '0' is undefined with '%s' in '%05s'"},
        {"%0p", 0, "flag '0' is undefined with '%p' in '%0p'"},
        {"%.2c", 0, "a precision is undefined with '%c' in '%.2c'"},
        {"%.1p", 0, "a precision is undefined with '%p' in '%.1p'"},
        {"%1$d %d", 5, kMixed},
        {"%*2$d", 0, kMixed},
        {"50%", 2, "the format ends inside the conversion '%'; write '%%' for a percent sign"},
        {"%-08.3l", 0, "the format ends inside the conversion '%-08.3l'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        const errmc::ParsedFormat p = errmc::ParsePrintfFormat(c.format);
        ASSERT_EQ(p.problems.size(), 1u);
        EXPECT_EQ(p.problems[0].offset, c.offset);
        EXPECT_EQ(p.problems[0].message, c.message);
    }
    // Every problem of a format is found, not only the first.
    EXPECT_EQ(errmc::ParsePrintfFormat("%n %q %d %#c").problems.size(), 3u);
}

// -------------------------------------------------------------- stamps

TEST(errmc_stamp, DefaultStampFromSourceDateEpochOrNow) {
    std::string error;
    EXPECT_EQ(errmc::DefaultStamp("0", 99, &error), "197001010000");
    EXPECT_EQ(errmc::DefaultStamp("1700000000", 0, &error), "202311142213");
    EXPECT_EQ(errmc::DefaultStamp("253402300799", 0, &error), "999912312359");
    EXPECT_EQ(errmc::DefaultStamp(nullptr, 86400 * 365, &error), "197101010000");
    for (const char *bad : {"", "-1", "12a", " 5", "253402300800", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        error.clear();
        EXPECT_FALSE(errmc::DefaultStamp(bad, 0, &error));
        EXPECT_FALSE(error.empty());
    }
}

// ------------------------------------------------------------------ compile

TEST_F(errmc_cli, CompileThenReadGivesTheCatalogue) {
    const Catalogue cat = CompileAndRead(kSimSource, "sim.toml");
    EXPECT_TRUE(fs::exists(Path("bin/errm_desc_SIM.bin")));
    EXPECT_EQ(cat.subsystem, "SIM");
    EXPECT_EQ(cat.displayName, "Simulator");
    EXPECT_EQ(cat.version, (std::array<std::uint8_t, 4>{1, 0, 3, 0}));
    EXPECT_EQ(cat.stamp, "rel-2026-12");
    ASSERT_EQ(cat.messages.size(), 3u);

    const Message &progress = cat.messages[0];
    EXPECT_EQ(progress.number, -4);
    EXPECT_EQ(progress.name, "PROGRESS");
    EXPECT_EQ(progress.severity, 8);
    EXPECT_EQ(progress.format, "%-*.*s %5.1f%% of %zu at %p");

    const Message &quiet = cat.messages[1];
    EXPECT_EQ(quiet.number, 5);
    EXPECT_EQ(quiet.severity, 6);
    EXPECT_EQ(quiet.format, "");
    EXPECT_EQ(quiet.id, "");
    EXPECT_TRUE(quiet.reports.empty());
    EXPECT_EQ(quiet.force, 0);
    EXPECT_EQ(quiet.dateKind, 0);
    EXPECT_EQ(quiet.see, "");
    EXPECT_EQ(quiet.cat, "");
    EXPECT_EQ(quiet.command, "");
    EXPECT_EQ(quiet.rc, 0);

    const Message &open = cat.messages[2];
    EXPECT_EQ(open.number, 37);
    EXPECT_EQ(open.name, "OPEN_FAILED");
    EXPECT_EQ(open.severity, 1);
    EXPECT_EQ(open.format, "cannot open %s (code %d)");
    EXPECT_EQ(open.id, "SIM-0037");
    EXPECT_EQ(open.reports, (std::vector<std::uint8_t>{0, 7}));
    EXPECT_EQ(open.force, 1);
    EXPECT_EQ(open.dateKind, 2);
    EXPECT_EQ(open.env, "SIM_TRACE");
    EXPECT_EQ(open.see, "User guide, section 4");
    EXPECT_EQ(open.cat, "FILE=notes.txt");
    EXPECT_EQ(open.command, "CMD=uname -a");
    EXPECT_EQ(open.rc, 2);
    EXPECT_EQ(open.second, "free text");
    EXPECT_EQ(open.spareWord, 0u);
    EXPECT_EQ(open.dirSpare, 0u);
}

TEST_F(errmc_cli, EveryKeywordMapsToItsCode) {
    std::string src = "subsystem = \"k\"\n";
    const char *severities[] = {"ERROR", "ERROR_DELAYED", "WARNING", "FATAL",
                                "TRACE", "DEBUG",         "NOTE",    "DISPLAY"};
    const char *dates[] = {"none", "datetime", "date", "time"};
    for (int i = 0; i < 8; ++i)
        src += "[[message]]\nnumber = " + std::to_string(i) + "\nname = \"M" + std::to_string(i) +
               "\"\nseverity = \"" + severities[i] + "\"\ndate = \"" + dates[i % 4] + "\"\n";
    src += "[[message]]\nnumber = 8\nname = \"ALL\"\nseverity = \"NOTE\"\nreports = [\"STDOUT\", "
           "\"PIPE\", \"TRANSCRIPT\", \"DBG_I\", \"DBG_C\", \"REPORT\", \"CHI\", \"LOG\", "
           "\"REPORT_F\", \"LOG\", \"LOG\", \"CHI\", \"STDOUT\", \"PIPE\", \"PIPE\", \"PIPE\"]\n";
    const Catalogue cat = CompileAndRead(src);
    EXPECT_EQ(fs::exists(Path("bin/errm_desc_K.bin")), true);
    ASSERT_EQ(cat.messages.size(), 9u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(cat.messages[static_cast<std::size_t>(i)].severity, i + 1);
        EXPECT_EQ(cat.messages[static_cast<std::size_t>(i)].dateKind, i % 4);
    }
    EXPECT_EQ(cat.messages[8].reports,
              (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 7, 7, 6, 0, 1, 1, 1}));
    EXPECT_EQ(cat.version, (std::array<std::uint8_t, 4>{1, 0, 0, 0})); // the default
    EXPECT_EQ(cat.stamp, "197001010000");                              // SOURCE_DATE_EPOCH=0
}

TEST_F(errmc_cli, BoundaryValuesCompile) {
    const std::string src =
        "subsystem = \"" + std::string(63, 'b') + "\"\ndisplay_name = \"" + std::string(255, 'd') +
        "\"\nversion = \"9.9.9\"\nstamp = \"123456789012\"\n"
        "[[message]]\nnumber = 2147483647\nname = \"" +
        std::string(1023, 'N') + "\"\nseverity = \"ERROR\"\nid = \"" + std::string(1023, 'i') +
        "\"\nenv = \"" + std::string(128, 'e') + "\"\nformat = \"" + std::string(4095, 'f') +
        "\"\ncomment = \"" + std::string(4095, 'c') + "\"\nsee = \"" + std::string(1023, 's') +
        "\"\ncat_file = \"" + std::string(1018, 'x') + "\"\ncommand = \"" + std::string(1019, 'y') +
        "\"\nrc = 32767\n"
        "[[message]]\nnumber = -2147483648\nname = \"_\"\nseverity = "
        "\"NOTE\"\nsee = \"ab\"\nrc = -32768\nformat = \"\"\nid = \"\"\n";
    const Catalogue cat = CompileAndRead(src);
    ASSERT_EQ(cat.messages.size(), 2u);
    EXPECT_EQ(cat.subsystem.size(), 63u);
    EXPECT_EQ(cat.displayName.size(), 255u);
    EXPECT_EQ(cat.version, (std::array<std::uint8_t, 4>{9, 9, 9, 0}));
    EXPECT_EQ(cat.stamp, "123456789012");
    const Message &lo = cat.messages[0];
    EXPECT_EQ(lo.number, -2147483647 - 1);
    EXPECT_EQ(lo.rc, -32768);
    EXPECT_EQ(lo.see, "ab");
    const Message &hi = cat.messages[1];
    EXPECT_EQ(hi.number, 2147483647);
    EXPECT_EQ(hi.name.size(), 1023u);
    EXPECT_EQ(hi.id.size(), 1023u);
    EXPECT_EQ(hi.env.size(), 128u);
    EXPECT_EQ(hi.format.size(), 4095u);
    EXPECT_EQ(hi.second.size(), 4095u);
    EXPECT_EQ(hi.see.size(), 1023u);
    EXPECT_EQ(hi.cat, "FILE=" + std::string(1018, 'x'));
    EXPECT_EQ(hi.command, "CMD=" + std::string(1019, 'y'));
    EXPECT_EQ(hi.rc, 32767);
}

TEST_F(errmc_cli, CompileCreatesTheOutputDirectoryAndDefaultsToTheCurrentOne) {
    Write("a.toml", "subsystem = \"lower-Case.1\"\n");
    Result r = Run("compile a.toml", "SOURCE_DATE_EPOCH=0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("errm_desc_LOWER-CASE.1.bin")));
    EXPECT_EQ(r.out, "wrote ./errm_desc_LOWER-CASE.1.bin (0 messages, 70 bytes)\n");
    r = Run("compile a.toml -o deep/er", "SOURCE_DATE_EPOCH=0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("deep/er/errm_desc_LOWER-CASE.1.bin")),
              ReadBytes(Path("errm_desc_LOWER-CASE.1.bin")));
}

TEST_F(errmc_cli, FailuresWriteNothing) {
    Write("bad.toml", "subsystem = \"B\"\n[[message]]\nnumber = 1\nname = \"X\"\n");
    Result r = Run("compile bad.toml -o out");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(Path("out")));
    r = Run("header bad.toml -o b.h");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(Path("b.h")));

    r = Run("compile missing.toml");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "missing.toml: error: cannot open the source: No such file or directory\n"
                     "1 error\n");

    Write("ok.toml", "subsystem = \"B\"\n");
    r = Run("compile ok.toml -o ok.toml/sub");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("errmc: error: cannot create ok.toml/sub"), std::string::npos) << r.err;
}

// ------------------------------------------------------------ source errors

struct SourceError {
    const char *what;
    std::string source;
    std::string expect; // the whole diagnostic line, after "src.toml:"
};

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// A valid source with one message whose extra lines start at line 6.
std::string WithMessage(const std::string &extra) {
    return "subsystem = \"T\"\n[[message]]\nnumber = 1\nname = \"M\"\nseverity = \"ERROR\"\n" +
           extra;
}

std::vector<SourceError> SourceErrors() {
    const std::string head = "subsystem = \"T\"\n";
    return {
        // file level
        {"toml syntax", "subsystem = \"T\"\nversion = \n", "2:11: error: "},
        {"duplicate key", "subsystem = \"T\"\nsubsystem = \"U\"\n", "2:13: error: "},
        {"unknown top-level key", head + "colour = \"red\"\n",
         "2:1: error: unknown key 'colour'\n"},
        {"misspelt top-level key", head + "dispaly_name = \"x\"\n",
         "2:1: error: unknown key 'dispaly_name'; did you mean 'display_name'?"},
        {"missing subsystem", "version = \"1.0.0\"\n",
         "1:1: error: missing required key 'subsystem'"},
        {"subsystem type", "subsystem = 5\n", "1:13: error: 'subsystem' must be a string"},
        {"empty subsystem", "subsystem = \"\"\n",
         "1:13: error: subsystem must be 1..63 bytes long (it is 0)"},
        {"long subsystem", "subsystem = \"" + std::string(64, 's') + "\"\n",
         "1:13: error: subsystem must be 1..63 bytes long (it is 64)"},
        {"subsystem slash", "subsystem  =  \"a/b\"\n",
         "1:15: error: subsystem must not contain '/', '\\' or control characters (it names "
         "the descriptor file)"},
        {"subsystem control", "subsystem = \"a\\tb\"\n",
         "1:13: error: subsystem must not contain '/', '\\' or control characters (it names "
         "the descriptor file)"},
        {"display_name type", head + "display_name = true\n",
         "2:16: error: 'display_name' must be a string"},
        {"long display_name", head + "display_name = '" + std::string(256, 'd') + "'\n",
         "2:16: error: display_name must be at most 255 bytes long (it is 256)"},
        {"version type", head + "version = 1.0\n", "2:11: error: 'version' must be a string"},
        {"version two parts", head + "version = \"1.0\"\n",
         "2:11: error: version must be three digits \"major.minor.patch\" such as \"1.0.3\""},
        {"version two digits", head + "version = \"1.10.0\"\n",
         "2:11: error: version must be three digits \"major.minor.patch\" such as \"1.0.3\""},
        {"stamp type", head + "stamp = 2026-12-01\n", "2:9: error: 'stamp' must be a string"},
        {"long stamp", head + "stamp = \"1234567890123\"\n",
         "2:9: error: stamp must be at most 12 bytes long (it is 13)"},
        {"stamp NUL", head + "stamp = \"a\\u0000b\"\n",
         "2:9: error: stamp must not contain a NUL character"},
        {"message table", head + "[message]\nnumber = 1\n",
         "2:1: error: 'message' must be an array of tables ([[message]])"},
        {"message element", head + "message = [1]\n", "2:12: error: each message must be a table"},
        // message keys
        {"unknown message key", WithMessage("colour = 1\n"),
         "6:1: error: unknown key 'colour' in message\n"},
        {"misspelt message key", WithMessage("formt = 'x'\n"),
         "6:1: error: unknown key 'formt' in message; did you mean 'format'?"},
        {"missing number", head + "[[message]]\nname = \"M\"\nseverity = \"NOTE\"\n",
         "2:1: error: message is missing required key 'number'"},
        {"missing name", head + "  [[message]]\nnumber = 1\nseverity = \"NOTE\"\n",
         "2:3: error: message is missing required key 'name'"},
        {"missing severity", head + "message = [{number = 1, name = \"M\"}]\n",
         "2:12: error: message is missing required key 'severity'"},
        {"number type", head + "[[message]]\nnumber = \"1\"\nname = \"M\"\nseverity = \"NOTE\"\n",
         "3:10: error: 'number' must be an integer"},
        {"number float", head + "[[message]]\nnumber = 1.5\nname = \"M\"\nseverity = \"NOTE\"\n",
         "3:10: error: 'number' must be an integer"},
        {"number too big",
         head + "[[message]]\nnumber = 2147483648\nname = \"M\"\nseverity = \"NOTE\"\n",
         "3:10: error: number 2147483648 is outside the 32-bit signed range"},
        {"number too small",
         head + "[[message]]\nnumber = -2147483649\nname = \"M\"\nseverity = \"NOTE\"\n",
         "3:10: error: number -2147483649 is outside the 32-bit signed range"},
        {"duplicate number",
         WithMessage("[[message]]\nnumber = 0x1\nname = \"N\"\nseverity = \"NOTE\"\n"),
         "7:10: error: message number 1 is already used at line 3"},
        {"name type", head + "[[message]]\nnumber = 1\nname = 1\nseverity = \"NOTE\"\n",
         "4:8: error: 'name' must be a string"},
        {"name not identifier",
         head + "[[message]]\nnumber = 1\nname = \"OPEN-FAILED\"\nseverity = \"NOTE\"\n",
         "4:8: error: name 'OPEN-FAILED' is not a C identifier (letters, digits and '_', not "
         "starting with a digit)"},
        {"name digit first", head + "[[message]]\nnumber = 1\nname = \"9A\"\nseverity = \"NOTE\"\n",
         "4:8: error: name '9A' is not a C identifier (letters, digits and '_', not starting "
         "with a digit)"},
        {"long name",
         head + "[[message]]\nnumber = 1\nname = \"" + std::string(1024, 'N') +
             "\"\nseverity = \"NOTE\"\n",
         "4:8: error: name must be at most 1023 bytes long (it is 1024)"},
        {"duplicate name",
         WithMessage("[[message]]\nnumber = 2\nname = \"M\"\nseverity = \"NOTE\"\n"),
         "8:8: error: the name 'M' is already used (line 4)"},
        {"name is a wrapper",
         WithMessage("[[message]]\nnumber = 2\nname = \"M_text\"\nseverity = \"NOTE\"\n"),
         "8:8: error: the name 'M_text' is the wrapper name of message 'M' (line 4)"},
        {"wrapper is a name",
         "subsystem = \"T\"\n[[message]]\nnumber = 1\nname = \"M_process\"\nseverity = "
         "\"NOTE\"\n[[message]]\nnumber = 2\nname = \"M\"\nseverity = \"NOTE\"\n",
         "8:8: error: the wrapper name 'M_process' of 'M' is the name of a message (line 4)"},
        {"name of the subsystem's loader",
         head + "[[message]]\nnumber = 1\nname = \"load\"\nseverity = \"NOTE\"\n",
         "4:8: error: the name 'load' is kept for the subsystem's handle and loader\n"},
        {"name of the handle maker",
         head + "[[message]]\nnumber = 1\nname = \"handle_of\"\nseverity = \"NOTE\"\n",
         "4:8: error: the name 'handle_of' is kept for the subsystem's handle and loader\n"},
        {"severity type", head + "[[message]]\nnumber = 1\nname = \"M\"\nseverity = 1\n",
         "5:12: error: 'severity' must be a string"},
        {"unknown severity", head + "[[message]]\nnumber = 1\nname = \"M\"\nseverity = \"error\"\n",
         "5:12: error: unknown severity 'error' (expected one of ERROR ERROR_DELAYED WARNING "
         "FATAL TRACE DEBUG NOTE DISPLAY); did you mean 'ERROR'?"},
        {"misspelt severity",
         head + "[[message]]\nnumber = 1\nname = \"M\"\nseverity = \"WARNNIG\"\n",
         "5:12: error: unknown severity 'WARNNIG' (expected one of ERROR ERROR_DELAYED WARNING "
         "FATAL TRACE DEBUG NOTE DISPLAY); did you mean 'WARNING'?"},
        {"format type", WithMessage("format = ['%d']\n"), "6:10: error: 'format' must be a string"},
        {"long format", WithMessage("format = \"" + std::string(4096, 'f') + "\"\n"),
         "6:10: error: format must be at most 4095 bytes long (it is 4096)"},
        {"format %n", WithMessage("format = 'wrote %d bytes%n'\n"),
         "6:25: error: format: '%n' is not allowed: %n writes through a pointer argument (byte "
         "14)"},
        {"format unknown conversion", WithMessage("format = \"é %y\"\n"),
         "6:13: error: format: unknown conversion 'y' in '%y' (byte 3)"},
        {"format escaped string", WithMessage("format = \"tab\\t%y\"\n"),
         "6:10: error: format: unknown conversion 'y' in '%y' (byte 4)"},
        {"format multi-line string", WithMessage("format = '''\nfirst\n%k'''\n"),
         "6:10: error: format: unknown conversion 'k' in '%k' (byte 6)"},
        {"format length modifier", WithMessage("format = \"%hs\"\n"),
         "6:11: error: format: length modifier 'h' does not apply to '%s' in '%hs' (byte 0)"},
        {"format percent", WithMessage("format = \"%-%\"\n"),
         "6:11: error: format: '%-%' must be written '%%' (byte 0)"},
        {"format flag", WithMessage("format = \"%#i\"\n"),
         "6:11: error: format: flag '#' is undefined with '%i' in '%#i' (byte 0)"},
        {"format zero flag", WithMessage("format = \"%0c\"\n"),
         "6:11: error: format: flag '0' is undefined with '%c' in '%0c' (byte 0)"},
        {"format precision", WithMessage("format = \"%.3p\"\n"),
         "6:11: error: format: a precision is undefined with '%p' in '%.3p' (byte 0)"},
        {"format positional", WithMessage("format = \"%2$s\"\n"),
         "6:11: error: format: argument 1 is never read: positions must run from 1 without a gap "
         "(byte 0)"},
        {"format unterminated", WithMessage("format = \"100%\"\n"),
         "6:14: error: format: the format ends inside the conversion '%'; write '%%' for a percent "
         "sign (byte 3)"},
        {"id type", WithMessage("id = 37\n"), "6:6: error: 'id' must be a string"},
        {"long id", WithMessage("id = \"" + std::string(1024, 'i') + "\"\n"),
         "6:6: error: id must be at most 1023 bytes long (it is 1024)"},
        {"reports type", WithMessage("reports = \"LOG\"\n"),
         "6:11: error: 'reports' must be an array of channel names"},
        {"too many reports",
         WithMessage("reports = [" +
                     [] {
                         std::string s;
                         for (int i = 0; i < 17; ++i)
                             s += "'LOG',";
                         return s;
                     }() +
                     "]\n"),
         "6:11: error: reports lists 17 channels (at most 16)"},
        {"unknown report", WithMessage("reports = [\"LOG\", \"log\"]\n"),
         "6:19: error: unknown report channel 'log' (expected one of STDOUT PIPE TRANSCRIPT "
         "DBG_I DBG_C REPORT CHI LOG REPORT_F); did you mean 'LOG'?"},
        {"misspelt report", WithMessage("reports = [\"STDOTU\"]\n"),
         "6:12: error: unknown report channel 'STDOTU' (expected one of STDOUT PIPE TRANSCRIPT "
         "DBG_I DBG_C REPORT CHI LOG REPORT_F); did you mean 'STDOUT'?"},
        {"no suggestion when nothing is near", WithMessage("reports = [\"FILE\"]\n"),
         "6:12: error: unknown report channel 'FILE' (expected one of STDOUT PIPE TRANSCRIPT "
         "DBG_I DBG_C REPORT CHI LOG REPORT_F)\n"},
        {"report type", WithMessage("reports = [\"LOG\", 7]\n"),
         "6:19: error: each report channel must be a string"},
        {"force_display type", WithMessage("force_display = 1\n"),
         "6:17: error: 'force_display' must be true or false"},
        {"date type", WithMessage("date = 1\n"), "6:8: error: 'date' must be a string"},
        {"unknown date", WithMessage("date = \"DATE\"\n"),
         "6:8: error: unknown date kind 'DATE' (expected one of none datetime date time); did "
         "you mean 'date'?"},
        {"env type", WithMessage("env = false\n"), "6:7: error: 'env' must be a string"},
        {"long env", WithMessage("env = \"" + std::string(129, 'E') + "\"\n"),
         "6:7: error: env must be at most 128 bytes long (it is 129)"},
        {"see type", WithMessage("see = 4\n"), "6:7: error: 'see' must be a string"},
        {"see one byte", WithMessage("see = \"4\"\n"),
         "6:7: error: see must be empty or 2..1023 bytes long (it is 1)"},
        {"long see", WithMessage("see = \"" + std::string(1024, 's') + "\"\n"),
         "6:7: error: see must be empty or 2..1023 bytes long (it is 1024)"},
        {"cat_file type", WithMessage("cat_file = []\n"),
         "6:12: error: 'cat_file' must be a string"},
        {"empty cat_file", WithMessage("cat_file = ''\n"),
         "6:12: error: cat_file must name a file"},
        {"long cat_file", WithMessage("cat_file = '" + std::string(1019, 'c') + "'\n"),
         "6:12: error: cat_file must be at most 1018 bytes long (it is 1019)"},
        {"command type", WithMessage("command = {}\n"), "6:11: error: 'command' must be a string"},
        {"empty command", WithMessage("command = \"\"\n"),
         "6:11: error: command must not be empty"},
        {"long command", WithMessage("command = '" + std::string(1020, 'c') + "'\n"),
         "6:11: error: command must be at most 1019 bytes long (it is 1020)"},
        {"rc type", WithMessage("rc = \"2\"\n"), "6:6: error: 'rc' must be an integer"},
        {"rc too big", WithMessage("rc = 32768\n"),
         "6:6: error: rc 32768 is outside the 16-bit signed range"},
        {"rc too small", WithMessage("rc = -32769\n"),
         "6:6: error: rc -32769 is outside the 16-bit signed range"},
        {"comment type", WithMessage("comment = 1979-05-27\n"),
         "6:11: error: 'comment' must be a string"},
        {"long comment", WithMessage("comment = \"" + std::string(4096, 'c') + "\"\n"),
         "6:11: error: comment must be at most 4095 bytes long (it is 4096)"},
        // formats the library refuses at every call, and formats of real catalogues
        {"format of 48 conversions", WithMessage("format = \"" + Repeat("%d", 48) + "\"\n"),
         "6:11: error: format: too many conversions for the library's line: it estimates this "
         "format at 6192 characters (each '%' counts 128), over its 6144, and refuses it at every "
         "call (1073) (byte 0)"},
        {"format wider than the line", WithMessage("format = \"%6145d\"\n"),
         "6:11: error: format: the text is at least 6145 characters long, over the library's line "
         "of 6144: every call fails (1073) (byte 0)"},
        {"format %Z", WithMessage("format = \"%Zu\"\n"),
         "6:11: error: format: '%Zu' is an old spelling: use '%zu' (byte 0)"},
        {"format %C", WithMessage("format = \"%-3C\"\n"),
         "6:11: error: format: '%-3C' is not C: use '%-3lc' (byte 0)"},
        {"format %I64x", WithMessage("format = \"id %I64x\"\n"),
         "6:14: error: format: '%I64x' is a Windows spelling (printf here reads a width of 64): "
         "use '%llx' or PRIx64 of <inttypes.h> (byte 3)"},
        // shapes that would exhaust errmc's stack or memory
        {"dotted key of 33 parts", head + Repeat("a.", 32) + "a = 1\n",
         "2:64: error: a dotted key of more than 32 parts (errmc's limit)"},
        {"table header of 33 parts", head + "[" + Repeat("a.", 32) + "a]\n",
         "2:65: error: a dotted key of more than 32 parts (errmc's limit)"},
        {"arrays 33 deep", head + "a = " + Repeat("[", 33) + Repeat("]", 33) + "\n",
         "2:37: error: arrays and inline tables are nested more than 32 deep (errmc's limit)"},
        {"inline tables 33 deep", head + "a = " + Repeat("{b=", 33) + "1" + Repeat("}", 33) + "\n",
         "2:101: error: arrays and inline tables are nested more than 32 deep (errmc's limit)"},
        {"65537 messages", head + "message = [" + Repeat("{},", 65537) + "]\n",
         "2:196620: error: more than 65536 tables or messages (errmc's limit)"},
        {"over 4 MiB", head + "#" + std::string(4u << 20, 'x') + "\n",
         " error: the source is larger than errmc's limit of 4194304 bytes"},
    };
}

TEST_F(errmc_cli, EverySourceErrorAtItsLineAndColumn) {
    for (const SourceError &e : SourceErrors()) {
        SCOPED_TRACE(e.what);
        Write("src.toml", e.source);
        const Result r = Run("check src.toml");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        // Exactly one diagnostic: the expected one, then its source line and a
        // caret when it has a position, then the count.
        const bool positioned = e.expect[0] != ' ';
        EXPECT_EQ(r.err.rfind("src.toml:" + e.expect, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), positioned ? 4 : 2) << r.err;
        const std::string end = positioned ? "^\n1 error\n" : "\n1 error\n";
        EXPECT_EQ(r.err.substr(r.err.size() - end.size()), end) << r.err;
    }
}

TEST_F(errmc_cli, NonRegularSourcesAreRefusedAndTextPercentsWarned) {
    ASSERT_EQ(mkfifo((dir_ / "fifo.toml").c_str(), 0600), 0);
    for (const std::string &path :
         {(dir_ / "fifo.toml").string(), dir_.string(), std::string("/dev/null")}) {
        const Result r = Run("check " + path);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, path + ": error: the source is not a regular file\n1 error\n");
        // Every command that reads a catalogue refuses it without blocking.
        // (A command that blocked would end by timeout with status 124.)
        for (const char *command : {"info ", "dump ", "doc ", "diff src.toml "}) {
            const int status = Run(command + path, "timeout 10").status;
            EXPECT_EQ(status, 2) << command << path;
        }
    }
    Write("src.toml", WithMessage("format = \"93% of (% used)\"\n"));
    const Result r = Run("check src.toml");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "src.toml:6:13: warning: format: '% o' is a conversion that takes an "
                     "argument; write '%%' for a percent sign (byte 2)\n"
                     "    6 | format = \"93% of (% used)\"\n"
                     "      |             ^\n"
                     "src.toml:6:19: warning: format: '% u' is a conversion that takes an "
                     "argument; write '%%' for a percent sign (byte 8)\n"
                     "    6 | format = \"93% of (% used)\"\n"
                     "      |                   ^\n"
                     "2 warnings\n");
}

TEST_F(errmc_cli, TheValidSourcesBehindTheErrorCasesPass) {
    // The error cases above differ from these by the one offending value.
    Write("src.toml", WithMessage("format = '%d %% %s'\nreports = [\"LOG\"]\nsee = \"ab\"\n"));
    Result r = Run("check src.toml");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "src.toml: subsystem T, 1 message, no errors\n");
    EXPECT_EQ(r.err, "");
    Write("src.toml", "subsystem = \"T\"\nmessage = [{number = 1, name = \"M\", severity = "
                      "\"NOTE\"}, {number = 2, name = \"M_\", severity = \"NOTE\"}]\n");
    r = Run("check src.toml");
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(errmc_cli, AllErrorsOfARunAreReportedInSourceOrder) {
    Write("many.toml", R"(subsystem = ""
version = "10.0.0"
[[message]]
number = 1
name = "A B"
severity = "LOUD"
format = "%d %n %q"
rc = 99999
[[message]]
number = 1
name = "C"
severity = "NOTE"
surprise = true
)");
    const Result r = Run("check many.toml");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "many.toml:1:13: error: subsystem must be 1..63 bytes long (it is 0)\n"
              "    1 | subsystem = \"\"\n"
              "      |             ^\n"
              "many.toml:2:11: error: version must be three digits \"major.minor.patch\" such as "
              "\"1.0.3\"\n"
              "    2 | version = \"10.0.0\"\n"
              "      |           ^\n"
              "many.toml:5:8: error: name 'A B' is not a C identifier (letters, digits and '_', "
              "not starting with a digit)\n"
              "    5 | name = \"A B\"\n"
              "      |        ^\n"
              "many.toml:6:12: error: unknown severity 'LOUD' (expected one of ERROR "
              "ERROR_DELAYED WARNING FATAL TRACE DEBUG NOTE DISPLAY)\n"
              "    6 | severity = \"LOUD\"\n"
              "      |            ^\n"
              "many.toml:7:14: error: format: '%n' is not allowed: %n writes through a pointer "
              "argument (byte 3)\n"
              "    7 | format = \"%d %n %q\"\n"
              "      |              ^\n"
              "many.toml:7:17: error: format: the format ends inside the conversion '%q' (byte 6)\n"
              "    7 | format = \"%d %n %q\"\n"
              "      |                 ^\n"
              "many.toml:8:6: error: rc 99999 is outside the 16-bit signed range\n"
              "    8 | rc = 99999\n"
              "      |      ^\n"
              "many.toml:10:10: error: message number 1 is already used at line 4\n"
              "   10 | number = 1\n"
              "      |          ^\n"
              "many.toml:13:1: error: unknown key 'surprise' in message\n"
              "   13 | surprise = true\n"
              "      | ^\n"
              "9 errors\n");
}

// -------------------------------------------------------------- round trips

TEST_F(errmc_cli, DecompileOfCompileGivesIdenticalBytes) {
    Write("sim.toml", std::string(kSimSource) +
                          "[[message]]\nnumber = -2147483648\nname = \"ODD\"\nseverity = "
                          "\"WARNING\"\nformat = \"tab\\there \\\"quoted\\\" back\\\\slash "
                          "\\u00e9\\n\"\nsee = \"x\\u0001y\"\n");
    Result r = Run("compile sim.toml -o one");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run("decompile one/errm_desc_SIM.bin -o back.toml");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = Run("compile back.toml -o two");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("one/errm_desc_SIM.bin")), ReadBytes(Path("two/errm_desc_SIM.bin")));
    // And to standard output without -o.
    r = Run("decompile two/errm_desc_SIM.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Read(Path("back.toml")));
}

// Moves the directory of a descriptor to its end, after a gap, and makes
// the checksum cover the directory alone: a layout errmc does not write.
Bytes Relayout(Bytes b) {
    auto u32 = [&](std::size_t at) {
        return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 |
               std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 3]} << 24;
    };
    auto put = [&](std::size_t at, std::size_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::size_t n = u32(4), dir = u32(12), size = n * 12;
    const Bytes records(b.begin() + static_cast<std::ptrdiff_t>(dir),
                        b.begin() + static_cast<std::ptrdiff_t>(dir + size));
    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(dir), size, 0xEE);
    b.insert(b.end(), {'g', 'a', 'p'});
    const std::size_t moved = b.size();
    b.insert(b.end(), records.begin(), records.end());
    put(12, moved);
    put(16, moved);
    put(8, size);
    const auto d = errmdesc::Digest(b.data() + moved, size);
    std::copy(d.begin(), d.end(), b.begin() + 24);
    return b;
}

TEST_F(errmc_cli, DecompilesAnotherWritersDescriptorAndRenamesBadNames) {
    Catalogue in;
    in.subsystem = "FX";
    in.stamp = "stamp";
    in.version = {2, 1, 0, 7};
    in.reserved = 5;
    auto msg = [](std::int32_t n, std::string name) {
        Message m;
        m.number = n;
        m.name = std::move(name);
        m.severity = 3;
        m.format = "value %ld";
        return m;
    };
    in.messages = {msg(1, "bad name"),  msg(2, "2nd"), msg(3, "X"),  msg(4, "X"),
                   msg(5, "A_process"), msg(6, "A"),   msg(7, "X_2")};
    in.messages[0].spareWord = 9;
    in.messages[1].force = 2; // any value but 1 means clear
    const Bytes foreign = Relayout(errmdesc::Write(in));
    ASSERT_TRUE(errmdesc::Read(foreign, nullptr, nullptr, nullptr));
    std::ofstream(Path("errm_desc_FX.bin"), std::ios::binary)
        .write(reinterpret_cast<const char *>(foreign.data()),
               static_cast<std::streamsize>(foreign.size()));

    Result r = Run("decompile errm_desc_FX.bin -o fx.toml");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "errmc: note: message 1: the stored name \"bad name\" is not a C identifier; it is "
              "named 'bad_name'\n"
              "errmc: note: message 2: the stored name \"2nd\" is not a C identifier; it is "
              "named '_nd'\n"
              "errmc: note: message 4: the stored name \"X\" clashes with another message's "
              "name; it is named 'X_3'\n"
              "errmc: note: message 6: the stored name \"A\" clashes with another message's "
              "name; it is named 'A_2'\n"
              "errmc: note: the header's reserved word 5 is not kept\n"
              "errmc: note: the fourth version byte 7 is not kept\n"
              "errmc: note: message 1: its spare fields are not kept\n"
              "errmc: note: message 2: force-display byte 2 means clear and is written as false\n");

    const Catalogue out = CompileAndRead(Read(Path("fx.toml")), "fx.toml");
    EXPECT_EQ(out.subsystem, "FX");
    EXPECT_EQ(out.stamp, "stamp");
    EXPECT_EQ(out.version, (std::array<std::uint8_t, 4>{2, 1, 0, 0}));
    const std::vector<std::string> names = {"bad_name",  "_nd", "X",  "X_3",
                                            "A_process", "A_2", "X_2"};
    ASSERT_EQ(out.messages.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(out.messages[i].number, in.messages[i].number);
        EXPECT_EQ(out.messages[i].name, names[i]);
        EXPECT_EQ(out.messages[i].format, "value %ld");
        EXPECT_EQ(out.messages[i].severity, 3);
        EXPECT_EQ(out.messages[i].force, 0);
    }
}

TEST_F(errmc_cli, DecompileSaysWhenTheSourceCannotGiveTheSameMessages) {
    Catalogue in;
    in.subsystem = "BAD";
    Message m;
    m.number = 1;
    m.name = "M";
    m.severity = 9;          // no keyword
    m.format = "caf\xE9 %n"; // Latin-1 byte, and %n
    m.cat = "NOTE=x";        // not FILE=
    in.messages = {m};
    const Bytes bytes = errmdesc::Write(in);
    std::ofstream(Path("errm_desc_BAD.bin"), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const Result r = Run("decompile errm_desc_BAD.bin -o bad.toml");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("message 1: the stored cat text does not start with \"FILE=\""),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("not valid UTF-8"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the source does not compile: line 9:12: unknown severity 'invalid (9)'"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("'%n' is not allowed"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(Path("bad.toml"))); // written all the same, to be fixed by hand
}

// ------------------------------------------------------------------ header

class errmc_header : public errmc_cli {
  protected:
    void SetUp() override {
        errmc_cli::SetUp();
        Write("sim.toml", std::string(kSimSource) + R"(
[[message]]
number = -2147483648
name = "EVERY_TYPE"
severity = "TRACE"
format = "%d %hhd %ld %lld %jd %zd %td %u %lu %llx %jo %zu %tX %f %Lg %c %lc %s %ls %p %*.*s %% */ ??/"
)");
        const Result r = Run("header sim.toml -o sim_msgs.h");
        ASSERT_EQ(r.status, 0) << r.err;
        Write("heat.toml", "subsystem = \"HEAT\"\n[[message]]\nnumber = 1\nname = \"STEP\"\n"
                           "severity = \"NOTE\"\nformat = \"%u cells, %ld bytes, %f s, %d\"\n");
        ASSERT_EQ(Run("header heat.toml -o heat_msgs.h").status, 0);
    }

    // Compiles a translation unit that includes the header; true on success.
    bool CompileC(const std::string &body, const std::string &extraFlags = "") {
        Write("use.c", "#include \"sim_msgs.h\"\n#include \"heat_msgs.h\"\n" + body);
        return Shell(std::string("'") + ERRM_C_COMPILER +
                     "' -std=c99 -Wall -Wextra -pedantic -Werror " + extraFlags + " -I'" +
                     ERRM_INCLUDE_DIR + "' -I. -c use.c -o use.o > out.txt 2> err.txt")
                   .status == 0;
    }
    bool CompileCxx(const std::string &body, const char *compiler = ERRM_CXX_COMPILER) {
        Write("use.cpp", "#include \"sim_msgs.h\"\n#include \"heat_msgs.h\"\n" + body);
        return Shell(std::string("'") + compiler +
                     "' -std=c++20 -Wall -Wextra -pedantic -Werror -I'" + ERRM_INCLUDE_DIR +
                     "' -I. -c use.cpp -o use.o > out.txt 2> err.txt")
                   .status == 0;
    }
};

const char *const kEveryTypeCall = R"(
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>
int use(SIM_handle ss);
int use(SIM_handle ss)
{
    int i = 1; long l = 2; long long ll = 3; intmax_t j = 4; ptrdiff_t t = 5;
    unsigned int u = 6; unsigned long ul = 7; unsigned long long ull = 8; uintmax_t uj = 9;
    size_t z = 10; double d = 1.5; long double ld = 2.5; wint_t wc = 65;
    const char *s = "s"; const wchar_t *ws = L"w"; const void *p = s;
    char *text = SIM_EVERY_TYPE_text(ss, i, i, l, ll, j, t, t, u, ul, ull, uj, z, z, d, ld, i,
                                     wc, s, ws, p, i, i, s);
    return SIM_EVERY_TYPE_process(ss, i, i, l, ll, j, t, t, u, ul, ull, uj, z, z, d, ld, i, wc,
                                  s, ws, p, i, i, s) +
           SIM_OPEN_FAILED_process(ss, "file", 2) + (SIM_OPEN_FAILED_text(ss, s, i) != text) +
           SIM_PROGRESS_process(ss, 8, 3, "name", 50.0, z, p) + SIM_QUIET_process(ss) +
           (SIM_QUIET_text(ss) == NULL) + SIM_OPEN_FAILED + SIM_PROGRESS + SIM_QUIET;
}
)";

TEST(errmc_header_text, PositionedArgumentsInPositionOrderAndErrnoNoted) {
    errmdesc::Catalogue cat;
    cat.subsystem = "POS";
    errmdesc::Message m;
    m.number = 1;
    m.name = "OPEN";
    m.severity = 1;
    m.format = "cannot open %2$s: %m (%1$d)";
    cat.messages.push_back(m);
    const std::string h = errmc::GenerateHeader(cat, "pos.toml");
    EXPECT_NE(h.find("POS_OPEN_process(POS_handle subsystem, int a1, const char *a2)"),
              std::string::npos)
        << h;
    EXPECT_NE(h.find("; %m prints strerror(errno) */"), std::string::npos) << h;
}

// Texts of a descriptor that are not UTF-8 keep their bytes in the Python
// module: each stray byte is the surrogate that "surrogateescape" maps back.
TEST(errmc_python_text, BytesOutsideUtf8AndControlsAsPythonEscapes) {
    errmdesc::Catalogue cat;
    cat.subsystem = "B";
    errmdesc::Message m;
    m.number = 1;
    m.name = "M";
    m.id = "\xff\xc3\xa9\x01\"";
    m.format = "%5hd%c%p";
    cat.messages.push_back(m);
    const errmc::PythonModule py = errmc::GeneratePython(cat, "b.bin");
    ASSERT_TRUE(py.problems.empty());
    for (const char *want :
         {"M_ID: typing.Final = \"\\udcff\xc3\xa9\\x01\\\"\"\n",
          "errm.ArgSpec(\"int\", \"int\", -32768, 32767, \"%5hd\", False)",
          "errm.ArgSpec(\"int\", \"char\", 0, 255, \"%c\", False)",
          "errm.ArgSpec(\"const void *\", \"pointer\", 0, 18446744073709551615, \"%p\", False)",
          "def M_process(handle: Handle, a1: int, a2: int | str | bytes, a3: int | None, /)"})
        EXPECT_NE(py.text.find(want), std::string::npos) << want << '\n' << py.text;
}

TEST_F(errmc_header, ConstantsAndWrappers) {
    const std::string h = Read(Path("sim_msgs.h"));
    EXPECT_NE(h.find("#ifndef ERRM_MESSAGES_SIM_H"), std::string::npos);
    EXPECT_NE(h.find("#include <errm.h>"), std::string::npos);
    // In number order, whatever the source's.
    EXPECT_NE(h.find("    SIM_EVERY_TYPE = (-2147483647 - 1),\n    SIM_PROGRESS = -4,\n"),
              std::string::npos);
    EXPECT_NE(h.find("    SIM_OPEN_FAILED = 37\n"), std::string::npos);
    EXPECT_NE(h.find("static inline int SIM_OPEN_FAILED_process(SIM_handle subsystem, const "
                     "char *a1, int a2)\n{\n    return ERRM_ProcessError(subsystem.index, "
                     "SIM_OPEN_FAILED, a1, a2);\n}\n"),
              std::string::npos)
        << h;
    EXPECT_NE(h.find("static inline char *SIM_OPEN_FAILED_text(SIM_handle subsystem, const "
                     "char *a1, int a2)\n{\n    return ERRM_Get_ErrorMessage(subsystem.index, "
                     "SIM_OPEN_FAILED, a1, a2);\n}\n"),
              std::string::npos)
        << h;
    EXPECT_NE(h.find("static inline int SIM_QUIET_process(SIM_handle subsystem)\n"),
              std::string::npos);
    EXPECT_NE(h.find("ERRM_ReadErrorDescriptor(\"SIM\", &index)"), std::string::npos);
    // The format in a comment cannot end the comment or form a trigraph.
    EXPECT_NE(h.find("%% *\\/ ?\\?/\" */"), std::string::npos) << h;
}

TEST_F(errmc_header, CorrectCallsCompileAsC99AndCxxWithoutWarnings) {
    EXPECT_TRUE(CompileC(kEveryTypeCall)) << Read(Path("err.txt"));
    // Exact parameter types: not even a conversion warning.
    EXPECT_TRUE(CompileC(kEveryTypeCall, "-Wconversion -Wsign-conversion -Wshadow"))
        << Read(Path("err.txt"));
    EXPECT_TRUE(CompileCxx(kEveryTypeCall)) << Read(Path("err.txt"));
}

// Calls through the generated wrappers, compiled as C99 and as C++20 (both
// with -Wall -Wextra -pedantic -Werror; C++ with clang++ too where there is
// one): which must compile and which not.
TEST_F(errmc_header, CallsThatCompileAndCallsThatDoNot) {
    struct Case {
        const char *what;
        const char *call;
        bool c, cxx;             // compiles as C, as C++
        const char *cFlags = ""; // more C flags
    };
    const Case cases[] = {
        // Wrong types or counts: refused in both.
        {"int for %s", "SIM_OPEN_FAILED_process(ss, 42, 2)", false, false},
        {"string for %d", "SIM_OPEN_FAILED_process(ss, \"file\", \"2\")", false, false},
        {"arguments swapped", "SIM_OPEN_FAILED_process(ss, 2, \"file\")", false, false},
        {"too few", "SIM_OPEN_FAILED_process(ss, \"file\")", false, false},
        {"too many", "SIM_OPEN_FAILED_process(ss, \"file\", 2, 3)", false, false},
        {"double for %p", "SIM_PROGRESS_process(ss, 1, 1, \"n\", 1.0, (size_t)1, 1.0)", false,
         false},
        {"struct for %f", "SIM_PROGRESS_process(ss, 1, 1, \"n\", st, (size_t)1, \"p\")", false,
         false},
        {"arguments for none", "SIM_QUIET_process(ss, 1)", false, false},
        {"text wrapper too", "(SIM_OPEN_FAILED_text(ss, 42, 2) != 0)", false, false},
        // Handles: each subsystem's own; a plain index only through <prefix>_handle_of.
        {"own handle", "SIM_OPEN_FAILED_process(ss, \"f\", 2) + SIM_load(&ss)", true, true},
        {"another subsystem's handle", "SIM_OPEN_FAILED_process(hh, \"f\", 2)", false, false},
        {"another's handle, no argument", "SIM_QUIET_process(hh)", false, false},
        {"another's loader", "SIM_load(&hh)", false, false},
        {"plain index", "SIM_OPEN_FAILED_process(i, \"f\", 2)", false, false},
        {"index made a handle", "SIM_OPEN_FAILED_process(SIM_handle_of(u), \"f\", 2)", true, true},
        // Value-preserving arguments compile everywhere.
        {"constants that fit, float for %f, short for %d", "HEAT_STEP_process(hh, 2, 2, f, sh)",
         true, true},
        {"exact types",
         "HEAT_STEP_process(hh, u, l, d, 'a') + (HEAT_STEP_text(hh, 5u, 5L, f, "
         "5L) != 0)",
         true, true},
        // Lossy arguments: ordinary conversions in C, refused in C++.
        {"floating constant for %d", "HEAT_STEP_process(hh, 2, 2, f, 4096.7)", true, false},
        {"double for %d", "HEAT_STEP_process(hh, 2, 2, f, d)", true, false},
        {"long for %d", "HEAT_STEP_process(hh, 2, 2, f, l)", true, false},
        {"negative constant for %u", "HEAT_STEP_process(hh, -1, 2, f, 1)", true, false},
        {"int variable for %u", "HEAT_STEP_process(hh, i, 2, f, 1)", true, false},
        {"long double for %f", "HEAT_STEP_process(hh, 2, 2, ld, 1)", true, false},
        {"double for %ld", "HEAT_STEP_process(hh, 2, d, f, 1)", true, false},
        {"lossy through the text wrapper", "(HEAT_STEP_text(hh, 2, 2, f, d) != 0)", true, false},
        // The warnings the header names for C report them.
        {"C with the named warnings", "HEAT_STEP_process(hh, i, 2, f, d)", false, false,
         "-Wconversion -Wsign-conversion"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string body =
            "struct S { int x; };\n"
            "int use(SIM_handle ss, HEAT_handle hh, struct S st, int i, unsigned u, long l,\n"
            "        short sh, float f, double d, long double ld);\n"
            "int use(SIM_handle ss, HEAT_handle hh, struct S st, int i, unsigned u, long l,\n"
            "        short sh, float f, double d, long double ld) {\n"
            "    (void)ss; (void)hh; (void)st; (void)i; (void)u; (void)l; (void)sh; (void)f;\n"
            "    (void)d; (void)ld;\n"
            "    return " +
            std::string(c.call) + ";\n}\n";
        EXPECT_EQ(CompileC(body, c.cFlags), c.c) << Read(Path("err.txt"));
        if (!c.c) {
            EXPECT_NE(Read(Path("err.txt")).find("error"), std::string::npos);
        }
        EXPECT_EQ(CompileCxx(body), c.cxx) << Read(Path("err.txt"));
        if (*ERRM_CLANGXX) {
            EXPECT_EQ(CompileCxx(body, ERRM_CLANGXX), c.cxx) << Read(Path("err.txt"));
        }
    }
}

TEST_F(errmc_cli, ExplainNamesEveryResultOfTheHeader) {
    struct Case {
        const char *args;
        int status;
        const char *out; // the start of standard output
    };
    const Case cases[] = {
        {"explain 1071", 0,
         "1071 ERRM_ERR_OPEN\n  text:        Open file failure for %s @ F=%s/L=%d\n"
         "  returned by: ERRM_ReadErrorDescriptor, ERRM_DisplayInfos;"},
        {"explain errm_err_not_found", 0, "1024 ERRM_ERR_NOT_FOUND\n"},
        {"explain MAGIC", 0, "1048 ERRM_ERR_MAGIC\n"},
        {"explain 1000", 1, ""}, // in the catalogue, never returned
        {"explain -1", 1, ""},
        {"explain 0", 0, "0 ERRM_OK\n"},
        {"explain trace_unavailable", 0,
         "1 ERRM_TRACE_UNAVAILABLE\n  text:        (none: the library writes no line for it)\n"
         "  returned by: ERRM_ReadErrorDescriptor\n  cause:       The trace is wanted"},
        {"explain", 2, ""}, // neither a code nor --all
        {"explain 12 --all", 2, ""},
        {"explain open --json", 0, "{\n  \"code\": 1071,\n  \"name\": \"ERRM_ERR_OPEN\",\n"},
        {"explain --all --json", 0, "{\n  \"results\": [\n    {\n      \"code\": 0,\n"},
        {"explain 1000 --json", 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        const Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out.rfind(c.out, 0), 0u) << r.out;
    }
    // Every result constant of errm.h ("#define ERRM_<NAME> <number>") has
    // its entry, and the page has no other; a cause of a call out of order
    // says so.
    std::ifstream header(std::string(ERRM_INCLUDE_DIR) + "/errm.h");
    const std::string page = Run("explain --all").out;
    std::string line;
    std::size_t constants = 0;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string define, name, value;
        words >> define >> name >> value;
        if (define != "#define" || name.rfind("ERRM_", 0) != 0 || value.empty() ||
            value.find_first_not_of("0123456789") != std::string::npos)
            continue;
        ++constants;
        EXPECT_NE(page.find("\n## " + value + " `" + name + "`\n"), std::string::npos) << name;
    }
    EXPECT_EQ(std::count(page.begin(), page.end(), '#'), static_cast<long>(2 * constants + 1));
    EXPECT_GT(constants, 30u);
    EXPECT_NE(page.find("Cause: Most often a call out of order: the descriptor was loaded before "
                        "ERRM_Init"),
              std::string::npos);
}

TEST(errmc_diagnostics, ColourAndCaretOnlyWhereAsked) {
    errmc::Diagnostics d;
    d.Error({2, 3}, "bad");
    d.Warning({}, "whole file");
    std::ostringstream plain, coloured;
    d.Print(plain, "f.toml", "a = 1\n\tb\u00e9= 2\n");
    EXPECT_EQ(plain.str(), "f.toml: warning: whole file\nf.toml:2:3: error: bad\n"
                           "    2 | \tb\u00e9= 2\n      | \t ^\n");
    d.Print(coloured, "f.toml", "", true);
    EXPECT_EQ(coloured.str(), "\033[1mf.toml:\033[0m \033[1;35mwarning:\033[0m whole file\n"
                              "\033[1mf.toml:2:3:\033[0m \033[1;31merror:\033[0m bad\n");
}

TEST_F(errmc_cli, HeaderPrefixFromAnySubsystemName) {
    Write("odd.toml", "subsystem = \"3d-view.x\"\n[[message]]\nnumber = 1\nname = \"M\"\n"
                      "severity = \"NOTE\"\n");
    const Result r = Run("header odd.toml");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("    _d_view_x_M = 1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("#ifndef ERRM_MESSAGES__d_view_x_H"), std::string::npos);
    Write("use.c", r.out + "int f(void);\n"
                           "int f(void) { return _d_view_x_M_process(_d_view_x_handle_of(0)); }\n");
    EXPECT_EQ(Shell(std::string("'") + ERRM_C_COMPILER + "' -std=c99 -Wall -Wextra -Werror -I'" +
                    ERRM_INCLUDE_DIR + "' -c use.c -o use.o > out.txt 2> err.txt")
                  .status,
              0)
        << Read(Path("err.txt"));
}

TEST_F(errmc_cli, EmptyCatalogueHeaderCompiles) {
    Write("e.toml", "subsystem = \"E\"\n");
    const Result r = Run("header e.toml -o e.h");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(Path("e.h")).find("enum"), std::string::npos);
    Write("use.c", "#include \"e.h\"\nint f(void);\nint f(void) { return 0; }\n");
    EXPECT_EQ(Shell(std::string("'") + ERRM_C_COMPILER +
                    "' -std=c99 -Wall -Wextra -pedantic -Werror -I'" + ERRM_INCLUDE_DIR +
                    "' -I. -c use.c -o use.o > out.txt 2> err.txt")
                  .status,
              0)
        << Read(Path("err.txt"));
}

// ---------------------------------------------------------- reproducibility

TEST_F(errmc_cli, SameSourceAndStampGiveTheSameBytes) {
    Write("r.toml", "subsystem = \"R\"\n[[message]]\nnumber = 1\nname = \"M\"\nseverity = "
                    "\"NOTE\"\nformat = \"%s\"\n");
    ASSERT_EQ(Run("compile r.toml -o a", "SOURCE_DATE_EPOCH=1700000000").status, 0);
    ASSERT_EQ(Run("compile r.toml -o b", "SOURCE_DATE_EPOCH=1700000000").status, 0);
    const Bytes a = ReadBytes(Path("a/errm_desc_R.bin"));
    EXPECT_EQ(a, ReadBytes(Path("b/errm_desc_R.bin")));
    Catalogue cat;
    ASSERT_TRUE(errmdesc::Read(a, &cat, nullptr, nullptr));
    EXPECT_EQ(cat.stamp, "202311142213");

    ASSERT_EQ(Run("compile r.toml -o c", "SOURCE_DATE_EPOCH=1700000060").status, 0);
    EXPECT_NE(a, ReadBytes(Path("c/errm_desc_R.bin")));

    // Without SOURCE_DATE_EPOCH the stamp is the current time.
    ASSERT_EQ(Run("compile r.toml -o d", "env -u SOURCE_DATE_EPOCH").status, 0);
    ASSERT_TRUE(errmdesc::ReadFile(Path("d/errm_desc_R.bin").string(), &cat, nullptr, nullptr));
    const std::optional<std::string> now =
        errmc::DefaultStamp(nullptr, std::time(nullptr), nullptr);
    ASSERT_EQ(cat.stamp.size(), 12u);
    EXPECT_EQ(cat.stamp.substr(0, 8), now->substr(0, 8)); // same day, barring midnight

    // A stamp in the source wins over SOURCE_DATE_EPOCH, even a bad one.
    Write("s.toml", "subsystem = \"R\"\nstamp = \"fixed\"\n");
    ASSERT_EQ(Run("compile s.toml -o e", "SOURCE_DATE_EPOCH=junk").status, 0);
    ASSERT_TRUE(errmdesc::ReadFile(Path("e/errm_desc_R.bin").string(), &cat, nullptr, nullptr));
    EXPECT_EQ(cat.stamp, "fixed");

    const Result bad = Run("compile r.toml -o f", "SOURCE_DATE_EPOCH=junk");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "errmc: error: SOURCE_DATE_EPOCH \"junk\" is not a count of seconds\n"
                       "1 error\n");
    EXPECT_FALSE(fs::exists(Path("f")));

    // The header does not depend on the stamp.
    const Result h1 = Run("header r.toml", "SOURCE_DATE_EPOCH=1");
    const Result h2 = Run("header r.toml", "SOURCE_DATE_EPOCH=2");
    EXPECT_EQ(h1.out, h2.out);
}

// ---------------------------------------------------- descriptor commands

TEST_F(errmc_cli, InfoPrintsTheHeaderAndTheDigestCheck) {
    Write("sim.toml", kSimSource);
    ASSERT_EQ(Run("compile sim.toml").status, 0);
    const Bytes bytes = ReadBytes(Path("errm_desc_SIM.bin"));
    Result r = Run("info errm_desc_SIM.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("magic             0x45783417\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("version           1.0.3 (fourth byte 0)\n"), std::string::npos);
    EXPECT_NE(r.out.find("stamp             \"rel-2026-12\"\n"), std::string::npos);
    EXPECT_NE(r.out.find("entries           3\n"), std::string::npos);
    EXPECT_NE(r.out.find("directory offset  70\n"), std::string::npos);
    EXPECT_NE(r.out.find("checksum range    offset 56, " + std::to_string(bytes.size() - 56) +
                         " bytes\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("subsystem         \"SIM\"\n"), std::string::npos);
    EXPECT_NE(r.out.find("display name      \"Simulator\"\n"), std::string::npos);
    EXPECT_NE(r.out.find(" (matches)\n"), std::string::npos);

    Bytes spoilt = bytes;
    spoilt.at(spoilt.size() - 1) ^= 1; // the return code of the last entry
    std::ofstream(Path("spoilt.bin"), std::ios::binary)
        .write(reinterpret_cast<const char *>(spoilt.data()),
               static_cast<std::streamsize>(spoilt.size()));
    r = Run("info spoilt.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("(DOES NOT MATCH the checksummed range)"), std::string::npos) << r.out;
    r = Run("dump spoilt.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the digest does not match"), std::string::npos);

    std::ofstream(Path("short.bin"), std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), 100);
    r = Run("info short.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("entries           3\n"), std::string::npos); // the header still shows
    EXPECT_NE(r.err.find("errmc: error: short.bin: checksummed range 56+"), std::string::npos)
        << r.err;
    r = Run("info nothing.bin");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("nothing.bin: cannot open: No such file"), std::string::npos) << r.err;
}

TEST_F(errmc_cli, DumpListsEveryMessage) {
    Write("sim.toml", kSimSource);
    ASSERT_EQ(Run("compile sim.toml").status, 0);
    const Result r = Run("dump errm_desc_SIM.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("subsystem \"SIM\", display name \"Simulator\", version 1.0.3, stamp "
                          "\"rel-2026-12\", 3 messages\n",
                          0),
              0u);
    const std::size_t m37 = r.out.find("\nmessage 37 (entry at offset ");
    ASSERT_NE(m37, std::string::npos) << r.out;
    EXPECT_LT(r.out.find("\nmessage -4 "), r.out.find("\nmessage 5 "));
    EXPECT_LT(r.out.find("\nmessage 5 "), m37);
    const std::string block = r.out.substr(m37);
    for (const char *line :
         {"  name           \"OPEN_FAILED\"\n", "  severity       ERROR (1)\n",
          "  id             \"SIM-0037\"\n", "  format         \"cannot open %s (code %d)\"\n",
          "  reports        STDOUT (0) LOG (7)\n", "  force display  yes (1)\n",
          "  date           date (2)\n", "  env            \"SIM_TRACE\"\n",
          "  see            \"User guide, section 4\"\n", "  cat            \"FILE=notes.txt\"\n",
          "  command        \"CMD=uname -a\"\n", "  rc             2\n",
          "  comment        \"free text\"\n"})
        EXPECT_NE(block.find(line), std::string::npos) << line;
}

TEST_F(errmc_cli, CommandLine) {
    for (const char *cmd : {"", "compile ", "check ", "header ", "info ", "dump ", "decompile "}) {
        SCOPED_TRACE(cmd);
        const Result r = Run(std::string(cmd) + "--help");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
    }
    EXPECT_NE(Run("compile --help").out.find("-o,--output"), std::string::npos);
    EXPECT_NE(Run("--help").out.find("decompile"), std::string::npos);
}

// ------------------------------------------------------- statuses and runs

// Every run's exit status: 0 success, 1 errors in the input or a breaking
// diff, 2 a usage error or a file not read or written; and the count that
// ends a run with problems.
TEST_F(errmc_cli, ExitStatusesAndTheClosingCount) {
    Write("sim.toml", kSimSource);
    Write("warn.toml", WithMessage("format = \"93% of (% used)\"\nid = \"X\"\n") +
                           "[[message]]\nnumber = 2\nname = \"N\"\nseverity = \"NOTE\"\nid = \"X\"\n");
    Write("bad.toml", "subsystem = \"B\"\n[[message]]\nnumber = 1\n");
    Write("v1.toml", "subsystem = \"V\"\nversion = \"1.2.0\"\n");
    Write("v0.toml", "subsystem = \"V\"\nversion = \"1.1.9\"\n");
    Write("file", "");
    const struct {
        const char *command; // after errmc, in the test folder; none redirected: out.txt
        int status;
        const char *lastErrLine; // "" when standard error is empty
    } cases[] = {
        {"check sim.toml", 0, ""},
        {"check warn.toml", 0, "3 warnings"},
        {"check warn.toml --werror", 1, "3 errors"},
        {"--werror check warn.toml", 1, "3 errors"},
        {"check bad.toml", 1, "2 errors"},
        {"check bad.toml --json", 1, ""},
        {"check missing.toml", 2, "1 error"},
        {"check missing.toml --json", 2, ""},
        {"info missing.bin --json", 2, ""},
        {"diff v1.toml v0.toml", 0, "1 warning"}, // a version going down
        {"diff v1.toml v0.toml --werror", 1, "1 error"},
        {"diff v0.toml v1.toml", 0, ""},
        {"diff sim.toml bad.toml", 1, "2 errors"},
        {"diff sim.toml missing.toml", 2, "1 error"},
        {"header sim.toml -o file/x.h", 2, "1 error"},
        {"frobnicate x", 2, "Run with --help for more information."},
        {"", 2, "Run with --help for more information."},
        {"compile", 2, "Run with --help for more information."},
        {"check a.toml b.toml", 2, "Run with --help for more information."},
        {"header sim.toml --lang cobol", 2, "Run with --help for more information."},
        {"doc sim.toml --format pdf", 2, "Run with --help for more information."},
        {"--version", 0, ""},
    };
    EXPECT_NE(Run("check warn.toml").err.find(
                  "warn.toml:12:6: warning: id 'X' is already the id of the message at line 7\n"),
              std::string::npos);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        const Result r = Run(c.command);
        EXPECT_EQ(r.status, c.status) << r.err;
        std::string last = r.err.empty() ? "" : r.err.substr(0, r.err.size() - 1);
        last = last.substr(last.rfind('\n') + 1);
        EXPECT_EQ(last, c.lastErrLine) << r.err;
    }
    // Standard output that cannot be written fails the run.
    for (const char *command : {"header sim.toml", "check sim.toml", "explain --all",
                                "doc sim.toml --format html", "dump errm_desc_SIM.bin"}) {
        ASSERT_EQ(Run("compile sim.toml").status, 0);
        const Result r = Shell(std::string("'") + ERRMC_PATH + "' " + command +
                               " > /dev/full 2> err.txt");
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_NE(r.err.find("errmc: error: cannot write the standard output"), std::string::npos)
            << command << ": " << r.err;
    }
}

// "-" reads standard input, whatever the input is; every --lang of header
// takes a source or a descriptor alike; binary bytes never show as a line.
TEST_F(errmc_cli, StandardInputAndAnyInputForHeaders) {
    Write("sim.toml", kSimSource);
    ASSERT_EQ(Run("compile sim.toml -o bin").status, 0);
    Write("junk.toml", std::string("\x7f" "ELF\x01\x02\x00\x00 = [\x80\xff\n", 16));
    const struct {
        const char *command;
        int status;
        const char *inOut; // in standard output
        const char *inErr; // in standard error
    } cases[] = {
        {"check - < sim.toml", 0, "<stdin>: subsystem SIM, 3 messages, no errors", ""},
        {"check - < junk.toml", 1, "", "<stdin>:1:"},
        {"header - < sim.toml", 0, "Generated by errmc ", ""},
        {"header - < bin/errm_desc_SIM.bin", 0, "SIM_OPEN_FAILED = 37", ""},
        {"header junk.toml", 1, "", "junk.toml:1:"},
        {"header bin/errm_desc_SIM.bin --lang fortran -o m.f90", 0, "", ""},
        {"info - < bin/errm_desc_SIM.bin", 0, "<stdin> (", ""},
        {"doc - < bin/errm_desc_SIM.bin", 0, "OPEN_FAILED", ""},
        {"diff sim.toml - < bin/errm_desc_SIM.bin", 0, "0 breaking changes", ""},
        {"compile - -o in < sim.toml", 0, "wrote in/errm_desc_SIM.bin", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        const Result r = Shell(std::string("'") + ERRMC_PATH + "' " + c.command +
                               " > out.txt 2> err.txt");
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.inOut), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
        // No line of a binary input under a diagnostic.
        EXPECT_EQ(r.err.find("ELF"), std::string::npos) << r.err;
    }
    // A TOML syntax error shows its line and caret whichever command reads it.
    Write("syntax.toml", "subsystem = \"T\"\nversion = \n");
    for (const char *command : {"check syntax.toml", "doc syntax.toml", "diff sim.toml syntax.toml",
                                "header syntax.toml --lang fortran -o f.f90"}) {
        const Result r = Run(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_NE(r.err.find("syntax.toml:2:11: error: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("    2 | version = \n      |           ^\n"), std::string::npos)
            << command << ": " << r.err;
    }
    // The same header from a source and from its descriptor, but for the name
    // of what it was made from.
    ASSERT_EQ(Run("header sim.toml -o a.h").status, 0);
    ASSERT_EQ(Run("header bin/errm_desc_SIM.bin -o b.h").status, 0);
    std::string a = Read(Path("a.h")), b = Read(Path("b.h"));
    a.replace(a.find("\"sim.toml\""), 10, "X");
    b.replace(b.find("\"errm_desc_SIM.bin\""), 19, "X");
    EXPECT_EQ(a, b);
}

// Outputs are written whole or not at all, and a descriptor's recorded sizes
// are checked against the file before anything is allocated for them.
TEST_F(errmc_cli, OutputsWholeOrNotAtAllAndLargeDescriptors) {
    Write("sim.toml", kSimSource);
    ASSERT_EQ(Run("compile sim.toml").status, 0);
    Write("kept.h", "kept");
    // The shims cannot be written: the module is not written either, and a
    // file that was there stays as it was.
    Result r = Run("header sim.toml --lang fortran -o kept.h --shims nowhere/s.c");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Read(Path("kept.h")), "kept");
    std::size_t files = 0;
    for (const auto &e : fs::directory_iterator(dir_))
        files += e.path().filename().string().find("errmc-") != std::string::npos;
    EXPECT_EQ(files, 0u); // no temporary file left

    // A descriptor in a 2 GiB sparse file; and one whose header claims a
    // directory of 100 million records over such a file. errmc may map the
    // file (2 GiB of address space) but not copy it, nor reserve room for
    // the records the header claims.
    fs::copy_file(Path("errm_desc_SIM.bin"), Path("big.bin"));
    fs::resize_file(Path("big.bin"), std::uintmax_t{2} << 30);
    Bytes claim = ReadBytes(Path("errm_desc_SIM.bin"));
    claim[4] = 0x00, claim[5] = 0xE1, claim[6] = 0xF5, claim[7] = 0x05; // 100,000,000
    std::ofstream(Path("claim.bin"), std::ios::binary)
        .write(reinterpret_cast<const char *>(claim.data()), static_cast<std::streamsize>(claim.size()));
    fs::resize_file(Path("claim.bin"), std::uintmax_t{2} << 30);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const char *const kAddressLimit = "";
#else
    const char *const kAddressLimit = "ulimit -v 2800000; ";
#endif
    const struct {
        const char *command;
        int status;
    } cases[] = {
        {"info big.bin", 0},  {"dump big.bin", 0},  {"decompile big.bin", 0},
        {"info claim.bin", 1}, {"dump claim.bin", 1}, {"doc claim.bin", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command);
        // The sanitizers reserve terabytes of address space at start: there
        // the address-space limit is left out, and only the status checked.
        r = Shell(std::string(kAddressLimit) + "'" + ERRMC_PATH + "' " + c.command +
                  " > out.txt 2> err.txt");
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.find("bad_alloc"), std::string::npos) << r.err;
    }
}

// Many errors are printed in time linear in their number (a quadratic
// printer took minutes for this many).
TEST_F(errmc_cli, ManyErrorsInLinearTime) {
    std::string src = "subsystem = \"M\"\n";
    for (int i = 0; i < 60000; ++i)
        src += "[[message]]\nnumber = \"x\"\nname = 1\nseverity = 2\n";
    Write("many.toml", src);
    const auto start = std::chrono::steady_clock::now();
    const Result r = Run("check many.toml");
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.size() - 14), "180000 errors\n");
    EXPECT_LT(seconds, 30.0);
}

} // namespace
