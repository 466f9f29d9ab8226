// errm_layout.cpp - severities, date stamps, the decorated line and the Chi
// line of a message.
//
// Sections: tables; severities; date stamps; decimals; formatting sLine0;
// decorated line; Chi line.
#include "base/errm_conv.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"
#include "reports/errm_message.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

errm_LineBuffers errm_Lines = {};

// ------------------------------------------------------------------ tables

namespace {

struct SeverityRow {
    std::string_view keyword; // the catalogue's name of the severity
    std::string_view display; // word printed in decorated lines
    const char *chiPrefix;    // Chi line prefix format, null when none
    std::string_view lead;    // "** " display ": (", the decorated line's start
};

// Indexed by severity code; row 0 is never printed for a valid message.
constexpr std::array<SeverityRow, 9> kSeverities = {{
    {"?", "?", nullptr, "** ?: ("},
    {"ERROR", "Error", "ERROR %s:", "** Error: ("},
    {"ERROR_DELAYED", "Error", "ERROR %s:", "** Error: ("},
    {"WARNING", "Warning", "Warning %s:", "** Warning: ("},
    {"FATAL", "Fatal", "ERROR %s:", "** Fatal: ("},
    {"TRACE", "Trace", nullptr, "** Trace: ("},
    {"DEBUG", "Debug", nullptr, "** Debug: ("},
    {"NOTE", "Note", "Note %s:", "** Note: ("},
    {"DISPLAY", "DI", nullptr, "** DI: ("},
}};
static_assert(kSeverities[ERRM_SEV_DISPLAY].display == "DI", "indexed by severity code");

// The lead of every row is its display word between "** " and ": (".
constexpr bool leadsMatchDisplays() {
    for (const SeverityRow &row : kSeverities) {
        std::string_view lead = row.lead;
        if (lead.size() != row.display.size() + 6 || lead.substr(0, 3) != "** " ||
            lead.substr(3, row.display.size()) != row.display ||
            lead.substr(3 + row.display.size()) != ": (")
            return false;
    }
    return true;
}
static_assert(leadsMatchDisplays(), "a lead is \"** \" display \": (\"");

// The Chi severity list, in its order, ended by -1.
constexpr std::array<int, 6> kChiSeverities = {
    ERRM_SEV_FATAL, ERRM_SEV_ERROR, ERRM_SEV_ERROR_DELAYED, ERRM_SEV_WARNING, ERRM_SEV_NOTE, -1};

} // namespace

// --------------------------------------------------------------- severities

// The catalogue's keyword of a severity code, as records name it.
const char *errm_SeverityKeyword(int code) {
    return code >= 1 && code <= 8 ? kSeverities[static_cast<std::size_t>(code)].keyword.data()
                                  : "?";
}

int errm_IsChiSeverityCode(int code) {
    for (int s : kChiSeverities) {
        if (s == -1) break;
        if (s == code) return 1;
    }
    return 0;
}

int errm_IsChiSeverity() {
    const errm_MessageEntry *entry = errm_CurrentEntry();
    return entry != nullptr && errm_IsChiSeverityCode(entry->severity);
}

// -------------------------------------------------------------- date stamps

[[gnu::cold]] std::size_t errm_DateStamp(char *buf, std::size_t size, unsigned kind) {
    const char *format = nullptr;
    switch (kind) {
    case 1: format = "%Y/%m/%d %X"; break;
    case 2: format = "%Y/%m/%d"; break;
    case 3: format = "%X"; break;
    default: return 0;
    }
    struct tm now;
    errm_PL_LocalTime(&now);
    // A text that does not fit (a locale with long names) is the empty stamp.
    return errm_PL_FormatTime(buf, size, format, &now);
}

// ------------------------------------------------------------ decimals

namespace {

// Room for an int in decimal: a sign, ten digits and the terminator.
constexpr std::size_t kDecimalCap = 12;

// Writes an int as "%d" prints it (or an unsigned as "%u") at o when it fits
// before end; returns the end of its text, or null.
[[gnu::always_inline]] inline char *putDecimal(char *o, const char *end, unsigned magnitude,
                                               bool negative) {
    // Digits from the bit length (1233 / 4096 is just above log10(2)), then
    // one comparison with the power of ten that would be one digit more (0
    // compared as 1, so that it has its digit).
    static constexpr unsigned kPowers[10] = {1,      10,      100,      1000,      10000,
                                             100000, 1000000, 10000000, 100000000, 1000000000};
    const unsigned bits = 32u - static_cast<unsigned>(__builtin_clz(magnitude | 1u));
    unsigned digits = (bits * 1233u) >> 12;
    digits += (magnitude | 1u) >= kPowers[digits] ? 1u : 0u;
    const std::size_t n = digits + (negative ? 1u : 0u);
    if (n > static_cast<std::size_t>(end - o)) return nullptr;
    char *const after = o + n;
    char *p = after;
    while (magnitude >= 100) {
        const std::size_t pair = 2 * (magnitude % 100);
        magnitude /= 100;
        *--p = errm_kDigitPairs[pair + 1];
        *--p = errm_kDigitPairs[pair];
    }
    if (magnitude >= 10) {
        *--p = errm_kDigitPairs[2 * magnitude + 1];
        *--p = errm_kDigitPairs[2 * magnitude];
    } else {
        *--p = static_cast<char>('0' + magnitude);
    }
    if (negative) *--p = '-';
    return after;
}

// An int as "%d" prints it, at o when it fits before end (null otherwise).
char *putDecimal(char *o, const char *end, int number) {
    // The magnitude in unsigned arithmetic, so that INT_MIN has one too.
    const unsigned magnitude =
        number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
    return putDecimal(o, end, magnitude, number < 0);
}

} // namespace

// ------------------------------------------------------ formatting sLine0

unsigned errm_EstimateFormatSize(const char *format) {
    return errm_ConvEstimate(format);
}

// The five conversions formatted without printf are the ones the parser
// reads as a '%' and a conversion character alone: for them the character
// after the '%' decides everything.
static_assert(errm_ConvIsBare(errm_ConvParse("%s", 0)) &&
                  errm_ConvIsBare(errm_ConvParse("%d", 0)) &&
                  errm_ConvIsBare(errm_ConvParse("%i", 0)) &&
                  errm_ConvIsBare(errm_ConvParse("%u", 0)) &&
                  errm_ConvIsBare(errm_ConvParse("%%", 0)),
              "the fast path's conversions are bare");

long errm_FormatPlain(char *out, std::size_t cap, const char *format, va_list args) {
    std::size_t len = 0;
    const char *p = format;
    for (;;) {
        // The literal text up to the next '%' or the end, in one search.
        const char *percent = strchrnul(p, '%');
        std::size_t n = static_cast<std::size_t>(percent - p);
        if (n > cap - len) return -1;
        std::memcpy(out + len, p, n);
        len += n;
        if (*percent == '\0') break;
        const char *piece = nullptr;
        char *digitsEnd = nullptr;
        // Any character after the '%' but these five is another conversion
        // or the start of a flag, width, precision or length modifier.
        switch (percent[1]) {
        case '%':
            piece = "%";
            n = 1;
            break;
        case 's':
            piece = va_arg(args, const char *);
            if (piece == nullptr) return -1;
            n = strnlen(piece, cap - len + 1);
            break;
        case 'd':
        case 'i': digitsEnd = putDecimal(out + len, out + cap, va_arg(args, int)); break;
        case 'u': digitsEnd = putDecimal(out + len, out + cap, va_arg(args, unsigned), false); break;
        default: return -1;
        }
        p = percent + 2;
        if (piece == nullptr) {
            // A decimal, written in place.
            if (digitsEnd == nullptr) return -1;
            len = static_cast<std::size_t>(digitsEnd - out);
            continue;
        }
        if (n > cap - len) return -1;
        std::memcpy(out + len, piece, n);
        len += n;
    }
    out[len] = '\0';
    return static_cast<long>(len);
}

int errm_FormatLine0(const char *format, va_list args) {
    va_list plainArgs;
    va_copy(plainArgs, args);
    long plain = errm_FormatPlain(errm_Lines.sLine0, ERRM_LINE0_MAX, format, plainArgs);
    va_end(plainArgs);
    if (plain >= 0) {
        errm_Lines.sLine0Length = static_cast<std::size_t>(plain);
        return 0;
    }
    int n = std::vsnprintf(errm_Lines.sLine0, ERRM_LINE0_MAX + 1, format, args);
    if (n < 0 || static_cast<std::size_t>(n) > ERRM_LINE0_MAX) {
        errm_Lines.sLine0[0] = '\0';
        errm_Lines.sLine0Length = 0;
        ERRM_REPORT(ERRM_E_PRINTF, "sLine0");
        return ERRM_E_PRINTF;
    }
    // A %c of 0 ends the text here, as it does for every writer after us.
    errm_Lines.sLine0Length = std::strlen(errm_Lines.sLine0);
    return 0;
}

namespace {

// Cuts format into plan when every conversion in it is bare; returns the
// pieces, or -1 (another conversion, more pieces than plan holds).
[[gnu::cold]] std::int16_t planFormat(const char *format, errm_FmtPiece *plan, std::size_t cap) {
    std::size_t count = 0;
    for (const char *p = format;; p += 2) {
        const char *percent = strchrnul(p, '%');
        // A '%' that ends the format is no bare conversion either.
        const char conversion = percent[0] == '\0' ? '\0' : percent[1] == '\0' ? '?' : percent[1];
        switch (conversion) {
        case '\0':
        case '%':
        case 's':
        case 'd':
        case 'i':
        case 'u': break;
        default: return -1;
        }
        if (count == cap) return -1;
        plan[count++] = {static_cast<std::uint16_t>(percent - p), conversion};
        if (conversion == '\0') return static_cast<std::int16_t>(count);
        p = percent;
    }
}

// errm_FormatPlain along a plan of format: the same text, the same refusals.
long formatPlanned(char *out, std::size_t cap, const char *format, const errm_FmtPiece *plan,
                   va_list args) {
    char *o = out;
    const char *const end = out + cap;
    const char *p = format;
    for (const errm_FmtPiece *piece = plan;; ++piece) {
        std::size_t n = piece->literal;
        if (n > static_cast<std::size_t>(end - o)) return -1;
        errm_CopyBytes(o, p, n);
        o += n;
        p += n + 2;
        const char conversion = piece->conversion;
        if (conversion == 's') {
            const char *text = va_arg(args, const char *);
            if (text == nullptr) return -1;
            n = strnlen(text, static_cast<std::size_t>(end - o) + 1);
            if (n > static_cast<std::size_t>(end - o)) return -1;
            errm_CopyBytes(o, text, n);
            o += n;
        } else if (conversion == 'd' || conversion == 'i') {
            o = putDecimal(o, end, va_arg(args, int));
            if (o == nullptr) return -1;
        } else if (conversion == 'u') {
            o = putDecimal(o, end, va_arg(args, unsigned), false);
            if (o == nullptr) return -1;
        } else if (conversion == '%') {
            if (o == end) return -1;
            *o++ = '%';
        } else {
            *o = '\0';
            return o - out;
        }
    }
}

} // namespace

[[gnu::hot]] int errm_FormatEntryLine0(errm_MessageEntry *entry, va_list args) {
    if (entry->planCount == 0) [[unlikely]]
        entry->planCount = planFormat(entry->format, entry->plan, std::size(entry->plan));
    if (entry->planCount > 0) {
        va_list plainArgs;
        va_copy(plainArgs, args);
        long n =
            formatPlanned(errm_Lines.sLine0, ERRM_LINE0_MAX, entry->format, entry->plan, plainArgs);
        va_end(plainArgs);
        if (n >= 0) {
            errm_Lines.sLine0Length = static_cast<std::size_t>(n);
            return 0;
        }
    }
    return errm_FormatLine0(entry->format, args);
}

// ---------------------------------------------------------- decorated line

namespace {

// Appends pieces into a fixed buffer; once a piece does not fit, the
// appender refuses everything after it.
struct Appender {
    char *buf;
    std::size_t cap;
    std::size_t len = 0;
    bool ok = true;

    void add(const char *text, std::size_t n) {
        if (!ok || n >= cap - len) {
            ok = false;
            return;
        }
        std::memcpy(buf + len, text, n);
        len += n;
    }
    void add(std::string_view text) { add(text.data(), text.size()); }
    void add(const char *text) { add(text, std::strlen(text)); }
    long finish() {
        if (!ok) {
            buf[0] = '\0';
            return -1;
        }
        buf[len] = '\0';
        return static_cast<long>(len);
    }
};

// The identifier text (up to its first NUL, as printed), or the caller's
// number in decimal.
std::string_view messageIdentifier(const errm_MessageEntry *entry, int number,
                                   char (&numberBuf)[kDecimalCap]) {
    if (entry->idLength != 0) return entry->id;
    const char *end = putDecimal(numberBuf, numberBuf + kDecimalCap, number);
    return {numberBuf, static_cast<std::size_t>(end - numberBuf)};
}

} // namespace

namespace {

// The longest decoration fits the head room: lead, label, identifier, stamp.
constexpr std::size_t kLongestLead = [] {
    std::size_t n = 0;
    for (const SeverityRow &row : kSeverities)
        n = row.lead.size() > n ? row.lead.size() : n;
    return n;
}();
static_assert(kLongestLead + (sizeof errm_Ctx.displayName - 1) + 3 + ERRM_DESC_ID_MAX + 3 +
                      (ERRM_STAMP_CAP - 1) + 2 <
                  ERRM_HEAD_ROOM,
              "every decoration fits before the text");
static_assert(sizeof errm_Ctx.name <= sizeof errm_Ctx.displayName, "the label is the longer name");
static_assert(offsetof(errm_LineBuffers, sLine0) ==
                  offsetof(errm_LineBuffers, head) + ERRM_HEAD_ROOM,
              "head ends where sLine0 starts");

// Where a decorated line with n characters of decoration starts: n before
// sLine0, in the bytes of the line buffers record, of which head and sLine0
// are consecutive parts.
char *lineStart(std::size_t n) {
    return reinterpret_cast<char *>(&errm_Lines) + offsetof(errm_LineBuffers, sLine0) - n;
}

// Builds the decoration of a line that has none cached and puts it before
// sLine0; keeps an undated one in the entry. Its length, or -1.
[[gnu::cold]] long buildHead(errm_MessageEntry *entry, int number) {
    char stamp[ERRM_STAMP_CAP];
    stamp[0] = '\0';
    const bool dated = entry->dateKind != 0;
    if (dated) errm_DateStamp(stamp, sizeof stamp, entry->dateKind);
    char head[ERRM_HEAD_ROOM];
    Appender out{head, sizeof head};
    if (entry->severity == ERRM_SEV_DISPLAY) {
        if (dated) {
            out.add("(");
            out.add(stamp);
            out.add(") ");
        }
    } else {
        char numberBuf[kDecimalCap];
        out.add(kSeverities[static_cast<std::size_t>(entry->severity)].lead);
        out.add(errm_SubsystemLabelText());
        out.add(" - ");
        out.add(messageIdentifier(entry, number, numberBuf));
        if (dated) {
            out.add(" - ");
            out.add(stamp);
        }
        out.add(") ");
        // The label and the identifier are the context's and the entry's:
        // the same for the next line of this entry under this context.
        if (!dated && out.ok && out.len < sizeof entry->prefix) {
            std::memcpy(entry->prefix, out.buf, out.len);
            entry->prefixLen = static_cast<std::uint16_t>(out.len);
            entry->prefixContext = errm_Ctx.generation;
            entry->prefixNumber = number;
        }
    }
    const long n = out.finish();
    if (n > 0) std::memcpy(lineStart(static_cast<std::size_t>(n)), head, static_cast<std::size_t>(n));
    return n;
}

} // namespace

[[gnu::hot]] long errm_BuildDecoratedLine(errm_MessageEntry *entry, int number) {
    const bool display = entry->severity == ERRM_SEV_DISPLAY;
    long head;
    if (!display && entry->dateKind == 0 && entry->prefixLen != 0 &&
        entry->prefixContext == errm_Ctx.generation && entry->prefixNumber == number) {
        head = entry->prefixLen;
        errm_CopyBytes(lineStart(entry->prefixLen), entry->prefix, entry->prefixLen);
    } else {
        head = buildHead(entry, number);
        if (head < 0) return -1;
    }
    // Only 1 for DISPLAY, unlike the other severities (any non-zero): the
    // contract wants a DISPLAY line's line feed for exactly FAddNL == 1.
    const std::size_t lineFeed = (display ? errm_G.FAddNL == 1 : errm_G.FAddNL != 0) ? 1 : 0;
    char *end = errm_Lines.sLine0 + errm_Lines.sLine0Length;
    end[0] = '\n';
    end[lineFeed] = '\0';
    errm_Lines.decorated = lineStart(static_cast<std::size_t>(head));
    return head + static_cast<long>(errm_Lines.sLine0Length + lineFeed);
}

// ---------------------------------------------------------------- Chi line

[[gnu::cold]] int errm_BuildChiLine(const errm_MessageEntry *entry, int number) {
    char numberBuf[kDecimalCap];
    const std::string_view id = messageIdentifier(entry, number, numberBuf);
    Appender out{errm_Lines.sLineChi, sizeof errm_Lines.sLineChi};
    // TRACE, DEBUG and DISPLAY have no prefix: their Chi line is the text.
    const char *prefix = kSeverities[static_cast<std::size_t>(entry->severity)].chiPrefix;
    if (prefix != nullptr) {
        std::string_view word(prefix, std::strchr(prefix, ' ') - prefix + 1);
        out.add(word);
        out.add(id);
        out.add(":", 1);
    }
    out.add(errm_Lines.sLine0, errm_Lines.sLine0Length);
    out.add("\n", 1);
    if (out.finish() < 0) {
        ERRM_REPORT(ERRM_E_PRINTF, "sLineChi");
        return ERRM_E_PRINTF;
    }
    return 0;
}
