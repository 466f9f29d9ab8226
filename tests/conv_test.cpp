// conv_test.cpp - one table of ordinary and hostile printf formats, each run
// through the four readers of the conversion grammar: the %n guard when the
// entry is decoded, the size estimate, the formatting fast path (compared
// with the C library's printf) and errmc's format checker. errmc must refuse
// every format that the library refuses at every call.
#include "base/errm_interr.h"
#include "descriptor/errm_desc.h"
#include "printf_format.h"
#include "reports/errm_message.h"
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <utility>

using namespace errmtest;

namespace {

struct Row {
    std::string format;
    char args;   // 'i' ints, 's' strings, 'x' a string then ints, 'y' an int then strings, '-' none
    int library; // what ERRM_ProcessError gives: 0, 1046 (refused at decode) or 1073
    char errmc;  // 'E' refused, 'W' warned about, '-' accepted
};

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

const std::string kFill(3951, 'a'); // with 17 "%d", an estimate of 6144 exactly

const Row kRows[] = {
    // Ordinary formats.
    {"cannot open %s (code %d)", 'x', 0, '-'},
    {"%d|%i|%u|%x|%o|%X|%c", 'i', 0, '-'},
    {"100%%, %-5d|%05d|%+d|%'d|% d", 'i', 0, '-'},
    {"%10s|%.2s|%-3s", 's', 0, '-'},
    {"open: %m", '-', 0, '-'},
    {"%2$s is %1$d, %2$s", 'y', 0, '-'},
    {"%1$*2$.*2$d", 'i', 0, '-'},
    {"100%%n", '-', 0, '-'},
    // A percent sign in plain text that forms a conversion.
    {"93% of", 'i', 0, 'W'},
    {"(% used)", 'i', 0, 'W'},
    {"%+u", 'i', 0, 'W'},
    // Every spelling of %n.
    {"count%Zn", 'i', ERRM_E_INTERNAL, 'E'},
    {"%n", 'i', ERRM_E_INTERNAL, 'E'},
    {"%d%1$n", 'i', ERRM_E_INTERNAL, 'E'},
    {"%qn %Ln %jn %tn", 'i', ERRM_E_INTERNAL, 'E'},
    {"%'I-+ #0*.*hhn", 'i', ERRM_E_INTERNAL, 'E'},
    {"%*3$.*2$lln", 'i', ERRM_E_INTERNAL, 'E'},
    {"%w32n", 'i', ERRM_E_INTERNAL, 'E'},
    {"a%%%n", 'i', ERRM_E_INTERNAL, 'E'},
    // Conversions that are not %n although an n follows.
    {"%5%n", '-', 0, 'E'},
    {"% %n", '-', 0, 'E'},
    // Spellings outside C, unknown and malformed conversions.
    {"%Zd %qd", 'i', 0, 'E'},
    {"%I64x", 'i', 0, 'E'},
    {"%C", 'i', 0, 'E'},
    {"%y %0$d %*5d %hhhd", 'i', 0, 'E'},
    {"%1$d %d", 'i', 0, 'E'},
    {"%2$d", 'i', 0, 'E'},
    {"%1$d %1$s", '-', 0, 'E'},
    // Formats the library refuses at every call.
    {"50%", '-', ERRM_E_PRINTF, 'E'},
    {"%-08.3l", '-', ERRM_E_PRINTF, 'E'},
    {"%99999999999d", 'i', ERRM_E_PRINTF, 'E'},
    {Repeat("%d", 48), 'i', ERRM_E_PRINTF, 'E'},
    {Repeat("%d", 24) + Repeat("%%", 16), 'i', ERRM_E_PRINTF, 'E'},
    {Repeat("%d", 17) + kFill, 'i', 0, '-'},
    {Repeat("%d", 17) + kFill + "a", 'i', ERRM_E_PRINTF, 'E'},
    {"%6144d", 'i', 0, '-'},
    {"%6145d", 'i', ERRM_E_PRINTF, 'E'},
    {"%.6145u", 'i', ERRM_E_PRINTF, 'E'},
    {"%3000s%3000s%145c", 's', ERRM_E_PRINTF, 'E'},
};

// Calls f with the ints 7 as many times as the indexes.
template <class F, std::size_t... I> auto WithSevens(F f, std::index_sequence<I...>) {
    return f(((void)I, 7)...);
}

// Calls f with the arguments a row names: as many ints as the row with the
// most conversions takes, since formatting reads one for each.
template <class F> auto WithArgs(char args, F f) {
    switch (args) {
    case 'i': return WithSevens(f, std::make_index_sequence<48>{});
    case 's': return f("ab", "ab", "ab", "ab");
    case 'x': return f("ab", 7, 7, 7);
    case 'y': return f(7, "ab", 7, 7);
    default: return f();
    }
}

// sLine0 as errm_FormatLine0 leaves it, and as vsnprintf's rule gives it.
std::pair<int, std::string> Line0(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int rc = errm_FormatLine0(format, args);
    va_end(args);
    return {rc, rc == 0 ? std::string(errm_Lines.sLine0, errm_Lines.sLine0Length) : ""};
}

std::pair<int, std::string> Printf(const char *format, ...) {
    static char buf[1 << 20];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0 || n > static_cast<int>(ERRM_LINE0_MAX)) return {ERRM_E_PRINTF, ""};
    return {0, buf};
}

} // namespace

TEST(ConversionGrammar, GuardEstimateFastPathAndErrmcAgree) {
    Library lib;
    std::vector<errmdesc::Message> messages;
    for (std::size_t i = 0; i < std::size(kRows); ++i)
        messages.push_back(Msg(static_cast<int>(i + 1), kError, kRows[i].format, {}));
    const int ss = lib.Load(Cat("CONV", messages));
    ASSERT_GE(ss, 0);
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        const Row &r = kRows[i];
        const char *f = r.format.c_str();
        SCOPED_TRACE(r.format.substr(0, 60));
        unsigned percents = 0;
        for (char c : r.format)
            percents += c == '%';
        EXPECT_EQ(errm_EstimateFormatSize(f), r.format.size() + 127 * percents);

        const int decoded = errm_LookupEntry(static_cast<unsigned>(ss), static_cast<int>(i + 1));
        EXPECT_EQ(decoded, r.library == ERRM_E_INTERNAL ? ERRM_E_INTERNAL : 0);
        if (r.args != '-' || r.library != 0) {
            const int rc = WithArgs(r.args, [&](auto... a) {
                return ERRM_ProcessError(static_cast<unsigned>(ss), static_cast<int>(i + 1), a...);
            });
            EXPECT_EQ(rc, r.library);
        }
        // The fast path gives what printf gives (a row without arguments
        // that would need some is not formatted).
        if (r.library != ERRM_E_INTERNAL && r.format.find("%1$s") == std::string::npos) {
            EXPECT_EQ(WithArgs(r.args, [&](auto... a) { return Line0(f, a...); }),
                      WithArgs(r.args, [&](auto... a) { return Printf(f, a...); }));
        }

        const errmc::ParsedFormat p = errmc::ParsePrintfFormat(r.format);
        const char verdict = !p.problems.empty() ? 'E' : !p.warnings.empty() ? 'W' : '-';
        EXPECT_EQ(verdict, r.errmc) << (p.problems.empty() ? "" : p.problems[0].message);
        if (r.library != 0) {
            EXPECT_EQ(verdict, 'E') << "errmc accepts what the library refuses";
        }
    }
}
