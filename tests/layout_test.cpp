// layout_test.cpp - the text of a message: the caller's format turned into
// sLine0 (without printf for the common conversions, with it for the rest),
// and the message number as the decorated and Chi lines show it. Every
// result is compared with what the C library's printf makes of the same
// input.
#include "base/errm_interr.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_message.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace errmtest;

namespace {

std::string Process(int ss, int number) {
    StdoutCapture out;
    ERRM_ProcessError(static_cast<unsigned>(ss), number);
    return out.Text();
}

// Message numbers across the whole int range, the ends included.
constexpr int kNumbers[] = {INT_MIN, INT_MIN + 1, -100,        -10,    -9, -1, 0, 1, 9, 10, 99, 100,
                            65535,   1000000000,  INT_MAX - 1, INT_MAX};

// GCC 12 sees an impossible overlap in the inlined string copies of Msg here
// (its -Wrestrict false positive on std::string); nothing overlaps.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
errmdesc::Catalogue NumbersCatalogue() {
    std::vector<errmdesc::Message> messages;
    int k = 1;
    for (int n : kNumbers) {
        // Msg names a message after its number, which INT_MIN has no
        // positive form of: the number is set afterwards.
        errmdesc::Message m = Msg(k++, kError, "t");
        m.number = n;
        messages.push_back(m);
    }
    return Cat("SIM", messages);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// What errm_FormatLine0 left: its result, sLine0 and the recorded length.
struct Formatted {
    int rc;
    std::string text;
    std::size_t length;
    bool operator==(const Formatted &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Formatted &f) {
    return os << "{rc " << f.rc << ", \"" << f.text << "\" (" << f.text.size() << "), length "
              << f.length << "}";
}

// errm_FormatLine0, then an entry's first and second formatting (the second
// along the format's cut that the first kept): one result when all agree.
Formatted Line0(const char *format, ...) {
    static errm_MessageEntry entry;
    const bool inEntry = std::strlen(format) < sizeof entry.format;
    if (inEntry) std::strcpy(entry.format, format);
    entry.planCount = 0;
    Formatted got[3];
    for (int k = 0; k < (inEntry ? 3 : 1); ++k) {
        // A stale text shows when a result is not written over it.
        std::memset(errm_Lines.sLine0, 'Z', sizeof errm_Lines.sLine0 - 1);
        errm_Lines.sLine0[sizeof errm_Lines.sLine0 - 1] = '\0';
        errm_Lines.sLine0Length = 12345;
        va_list args;
        va_start(args, format);
        int rc = k == 0 ? errm_FormatLine0(format, args) : errm_FormatEntryLine0(&entry, args);
        va_end(args);
        got[k] = {rc, errm_Lines.sLine0, errm_Lines.sLine0Length};
    }
    if (inEntry && !(got[1] == got[0] && got[2] == got[0]))
        return {-1, "entry paths differ: " + got[1].text + " | " + got[2].text, 0};
    return got[0];
}

// What the rule "vsnprintf into 6145 bytes; more than 6144 characters is
// error 1073 with an empty text; the text ends at its first NUL" gives.
Formatted Printf(const char *format, ...) {
    static char buf[1 << 20];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0 || n > static_cast<int>(ERRM_LINE0_MAX)) return {ERRM_E_PRINTF, "", 0};
    std::string text(buf);
    return {0, text, text.size()};
}

#define EXPECT_AS_PRINTF(...) EXPECT_EQ(Line0(__VA_ARGS__), Printf(__VA_ARGS__))

} // namespace

// --------------------------------------------------------- formatting sLine0

namespace {

// The estimate's definition: every character 1, every '%' 128.
unsigned EstimateByDefinition(const std::string &format) {
    unsigned size = 0;
    for (char c : format)
        size += c == '%' ? 128 : 1;
    return size;
}

} // namespace

TEST(FormatEstimate, EveryCharacterOneEveryPercent128) {
    const std::string formats[] = {"",
                                   "%",
                                   "%%",
                                   "no conversion",
                                   "cannot open %s (code %d)",
                                   "%s at the start and at the end %",
                                   std::string(48, '%'),
                                   std::string(49, '%'),
                                   std::string(4095, 'a'),
                                   std::string(4095, '%'),
                                   std::string(2000, 'a') + "%%" + std::string(2000, 'b') + "%"};
    for (const std::string &f : formats)
        EXPECT_EQ(errm_EstimateFormatSize(f.c_str()), EstimateByDefinition(f)) << f.substr(0, 40);
}

TEST(FormatLine0, CommonConversionsGiveWhatPrintfGives) {
    Library lib;
    EXPECT_AS_PRINTF("");
    EXPECT_AS_PRINTF("no conversion at all");
    EXPECT_AS_PRINTF("cannot open %s (code %d)", "/work/data/input.cfg", 5);
    EXPECT_AS_PRINTF("%s", "");
    EXPECT_AS_PRINTF("%s%s%s", "a", "", "bc");
    EXPECT_AS_PRINTF("%d|%i|%u", 0, 0, 0u);
    EXPECT_AS_PRINTF("%d %d %d %d", INT_MIN, -1, 9, INT_MAX);
    EXPECT_AS_PRINTF("%i %i", INT_MIN + 1, 1000000000);
    EXPECT_AS_PRINTF("%u %u %u", 1u, 4294967295u, 2147483648u);
    EXPECT_AS_PRINTF("100%%");
    EXPECT_AS_PRINTF("%%s %%d %%%%");
    EXPECT_AS_PRINTF("%%%s%%", "x");
    EXPECT_AS_PRINTF("%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d,%u", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                     14, 15, 16u); // the most pieces an entry keeps
    EXPECT_AS_PRINTF("%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d%d,%u", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                     13, 14, 15, 16, 17u); // one more
    EXPECT_AS_PRINTF("ends with %s %", "x");
    EXPECT_AS_PRINTF("%s at the start, at the end %d", "here", -42);
}

TEST(FormatLine0, EveryDigitCountAndPieceLengthGivesWhatPrintfGives) {
    Library lib;
    // Each side of every power of ten, for the digit count of a decimal.
    for (unsigned k = 0, p = 1; k < 10; ++k, p *= 10)
        EXPECT_AS_PRINTF("%u %u %d %d", p - 1, p, -static_cast<int>(p), static_cast<int>(p - 1));
    // Literal and %s pieces of every length a short copy treats apart.
    for (std::size_t n = 0; n <= 40; ++n) {
        const std::string piece(n, 'q');
        EXPECT_AS_PRINTF((piece + "%s" + piece + "%d").c_str(), piece.c_str(), 7);
    }
}

TEST(FormatLine0, EveryOtherFormatIsLeftToPrintf) {
    Library lib;
    EXPECT_AS_PRINTF("%5d|%-5d|%05d|%+d", 42, 42, 42, 42);
    EXPECT_AS_PRINTF("%10s|%-10s|%.2s", "ab", "ab", "abcdef");
    EXPECT_AS_PRINTF("%ld %lld %hd %zu", 1L << 40, -(1LL << 50), 70000, static_cast<size_t>(7));
    EXPECT_AS_PRINTF("%x %X %o %e %g %f", 255u, 255u, 8u, 1.5, 2.25, 0.5);
    EXPECT_AS_PRINTF("%c%c%c", 'a', 'b', 'c');
    EXPECT_AS_PRINTF("%d then %x", 3, 255u) << "a later conversion sends all to printf";
    EXPECT_AS_PRINTF("%s", static_cast<const char *>(nullptr));
    EXPECT_AS_PRINTF("%s and %s", "set", static_cast<const char *>(nullptr));
    // A %c of 0 ends the text where it stands.
    EXPECT_AS_PRINTF("ab%ccd %s", 0, "ef");
}

TEST(FormatLine0, LimitOf6144CharactersHoldsOnBothPaths) {
    Library lib;
    const std::string fits(ERRM_LINE0_MAX - 4, 'f');
    const std::string over(ERRM_LINE0_MAX - 3, 'o');
    // %s and %d reaching 6144 exactly, or one over.
    EXPECT_AS_PRINTF("%s%d", fits.c_str(), 1234);
    EXPECT_AS_PRINTF("%s%d", over.c_str(), 1234);
    EXPECT_AS_PRINTF("%s%%%%%%%%", fits.c_str());
    EXPECT_AS_PRINTF("%s%%%%%%%%", over.c_str());
    EXPECT_AS_PRINTF("%d%s", -1, std::string(ERRM_LINE0_MAX - 2, 'x').c_str());
    EXPECT_AS_PRINTF("%d%s", -1, std::string(ERRM_LINE0_MAX - 1, 'x').c_str());
    // A literal text of 6144 characters, and of 6145.
    EXPECT_AS_PRINTF(std::string(ERRM_LINE0_MAX, 'l').c_str());
    EXPECT_AS_PRINTF(std::string(ERRM_LINE0_MAX + 1, 'l').c_str());
    // An argument far longer than the buffer.
    const std::string huge(100000, 'h');
    EXPECT_AS_PRINTF("%s", huge.c_str());
    EXPECT_AS_PRINTF("%s", fits.c_str());
    // The same limits with a conversion that printf formats.
    EXPECT_AS_PRINTF("%s%4d", fits.c_str(), 1234);
    EXPECT_AS_PRINTF("%s%4d", over.c_str(), 1234);
    EXPECT_EQ(Line0("%s", over.c_str()).rc, 0);
    EXPECT_EQ(Line0("%s!", std::string(ERRM_LINE0_MAX, 'x').c_str()).rc, ERRM_E_PRINTF);
}

TEST(FormatLine0, MessagesProcessedWithArgumentsMatchPrintf) {
    Library lib;
    ASSERT_EQ(lib.Load(Cat("SIM", {Msg(1, kError, "cannot open %s (code %d)"),
                                   Msg(2, kError, "%u%% done, %s left"),
                                   Msg(3, kError, "%-4d|%3s|%c", {kStdout})})),
              0);
    StdoutCapture out;
    ERRM_ProcessError(0, 1, "/tmp/x", -17);
    ERRM_ProcessError(0, 2, 75u, "a quarter");
    ERRM_ProcessError(0, 3, 7, "ab", 'z');
    EXPECT_EQ(out.Text(), "** Error: (SIM - 1) cannot open /tmp/x (code -17)\n"
                          "** Error: (SIM - 2) 75% done, a quarter left\n"
                          "** Error: (SIM - 3) 7   | ab|z\n");
}

// --------------------------------------------------------------- identifiers

TEST(Identifiers, MessageNumbersPrintAsPercentD) {
    Library lib;
    ASSERT_EQ(lib.Load(NumbersCatalogue()), 0);
    for (int n : kNumbers) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "** Error: (SIM - %d) t\n", n);
        EXPECT_EQ(Process(0, n), expected) << n;
    }
}

TEST(Identifiers, ChiLinesPrintNumbersAsPercentD) {
    Library lib;
    ASSERT_EQ(lib.Load(NumbersCatalogue()), 0);
    ERRM_Set_NUSKMode(1);
    for (int n : kNumbers) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "ERROR %d:t\n", n);
        EXPECT_EQ(Process(0, n), expected) << n;
    }
}

// --------------------------------------------------------------- decoration

// The decoration an entry keeps for its next lines follows the subsystem
// context and the entry's decoding: each step is asked twice, the two
// subsystems in turn, then in a new cycle with another catalogue.
TEST(Decoration, KeptDecorationFollowsContextAndDecoding) {
    struct Step {
        int ss, number;   // subsystem counted from the cycle's first load
        const char *line; // nullptr: not present
    };
    auto run = [](std::initializer_list<Step> steps, int first) {
        for (const Step &s : steps)
            for (int again = 0; again < 2; ++again)
                EXPECT_STREQ(ERRM_Get_ErrorMessage(static_cast<unsigned>(first + s.ss), s.number),
                             s.line);
    };
    errmdesc::Message a2 = Msg(2, kWarning, "a2");
    a2.id = "ID-2";
    {
        Library lib;
        ASSERT_EQ(lib.Load(Cat("AAA", {Msg(1, kError, "a1"), a2}, "Alpha")), 0);
        ASSERT_EQ(lib.Load(Cat("BBB", {Msg(1, kError, "b1")})), 1);
        run({{0, 1, "** Error: (Alpha - 1) a1\n"},
             {0, 2, "** Warning: (Alpha - ID-2) a2\n"},
             {1, 1, "** Error: (BBB - 1) b1\n"},
             {0, 9, nullptr},
             {0, 1, "** Error: (Alpha - 1) a1\n"}},
            0);
    }
    Library lib;
    const int ss = lib.Load(Cat("CCC", {Msg(1, kNote, "c1"), Msg(2, kError, "c2")}));
    ASSERT_GE(ss, 0);
    run({{0, 1, "** Note: (CCC - 1) c1\n"}, {0, 2, "** Error: (CCC - 2) c2\n"}}, ss);
}
