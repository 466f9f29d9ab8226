// errm_user.cpp - user messages: a caller's own format, converted for \n,
// \t and five XML references, written on the channels of a bit mask.
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "reports/errm_message.h"
#include "reports/errm_records.h"
#include "reports/errm_user.h"
#include "reports/errm_writers.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

struct XmlEscape {
    std::string_view reference; // the text of the reference
    int length;                 // its character count
    char character;             // the character it stands for
};

constexpr std::array<XmlEscape, 6> kXmlEscapes = {{
    {"&lt;", 4, '<'},
    {"&gt;", 4, '>'},
    {"&#38;", 5, '&'},
    {"&apos;", 6, '\''},
    {"&quot;", 6, '"'},
    {"$", 0, '?'},
}};

constexpr bool escapesConsistent() {
    for (const XmlEscape &e : kXmlEscapes)
        if (e.reference[0] != '$' && static_cast<int>(e.reference.size()) != e.length) return false;
    return true;
}
static_assert(escapesConsistent(), "each reference's length is its character count");

constexpr int kConvertLimit = 4097;

} // namespace

char IsXMLEscapeSequence(const char *text, int left, int *consumed) {
    for (const XmlEscape &e : kXmlEscapes) {
        if (e.reference[0] == '$') break;
        if (left >= e.length && std::strncmp(text, e.reference.data(), e.reference.size()) == 0) {
            *consumed = e.length;
            errm_ConsolePrintf("IsXMLEscapeSequence replaced -%c-\n", e.character);
            return e.character;
        }
    }
    *consumed = 0;
    return '?';
}

int errm_ConvertUserFormat(const char *src, char *dst, int limit) {
    int in = 0, out = 0;
    int left = static_cast<int>(std::strlen(src));
    // Every source character gives at most two output characters.
    for (;;) {
        if (in >= limit) return -1;
        char c = src[in];
        if (c == '\0') {
            dst[out] = '\0';
            return out;
        }
        int advance = 1;
        if (c == '\\' && src[in + 1] == 'n') {
            dst[out++] = '\r';
            dst[out++] = '\n';
            advance = 2;
        } else if (c == '\\' && src[in + 1] == 't') {
            dst[out++] = '\t';
            advance = 2;
        } else if (c == '&') {
            int consumed = 0;
            char r = IsXMLEscapeSequence(src + in, left, &consumed);
            if (consumed > 0) {
                dst[out++] = r;
                advance = consumed;
            } else {
                dst[out++] = '&';
            }
        } else {
            dst[out++] = c;
        }
        in += advance;
        left -= advance;
    }
}

unsigned errm_DisplayUserMessage(int number, int severity, const char *subsystem, bool forced,
                                 int report_mask, const char *generic, const char *format,
                                 va_list args) {
    char *line = errm_Lines.sLine;
    if (format == nullptr || format[0] == '\0') {
        line[0] = '\0';
    } else {
        // A format that needs converting is converted into sLine0; it is
        // never longer than the 4096 source characters accepted, plus one
        // per "\n". A format without a backslash or an ampersand converts to
        // itself and is used as it is.
        const std::size_t length = std::strlen(format);
        if (length >= static_cast<std::size_t>(kConvertLimit)) {
            errm_ReportInternalError(ERRM_E_SIZE_SMALL, "FMT size", 1023);
            return 0;
        }
        const char *converted = format;
        if (std::memchr(format, '\\', length) != nullptr ||
            std::memchr(format, '&', length) != nullptr) {
            if (errm_ConvertUserFormat(format, errm_Lines.sLine0, kConvertLimit) < 0) {
                errm_ReportInternalError(ERRM_E_SIZE_SMALL, "FMT size", 1023);
                return 0;
            }
            converted = errm_Lines.sLine0;
        }
        // The common conversions without printf, the others with it; the
        // line holds fewer than ERRM_LINE0_MAX characters either way.
        va_list plainArgs;
        va_copy(plainArgs, args);
        const long plain = errm_FormatPlain(line, ERRM_LINE0_MAX - 1, converted, plainArgs);
        va_end(plainArgs);
        if (plain < 0) {
            va_list copy;
            va_copy(copy, args);
            int n = std::vsnprintf(line, ERRM_LINE_CAP, converted, copy);
            va_end(copy);
            if (n < 0 || static_cast<std::size_t>(n) >= ERRM_LINE0_MAX) {
                line[0] = '\0';
                ERRM_REPORT(ERRM_E_PRINTF, "sLine");
                return 0;
            }
        }
    }
    if (subsystem == nullptr) subsystem = "";
    if (generic == nullptr) generic = "";
    unsigned result = 0;
    const unsigned mask = static_cast<unsigned>(report_mask);
    // The channels of the mask among the table's first rows, in their
    // order: channel i is bit i.
    static_assert(ERRM_CH_COUNT < 32, "every channel has a bit of the mask");
    const int rows = errm_G.NbrOfReports < ERRM_CH_COUNT ? errm_G.NbrOfReports : ERRM_CH_COUNT;
    unsigned pending = rows > 0 ? mask & ((1u << rows) - 1) : 0;
    while (pending != 0) {
        const int i = std::countr_zero(pending);
        pending &= pending - 1;
        const unsigned bit = errm_ChannelBit(i);
        const errm_ReportChannel &ch = errm_Reports[i];
        if (ch.authorised != 1) continue;
        if (i != ERRM_CH_STDOUT && i != ERRM_CH_PIPE && ch.opened != 1) {
            ERRM_REPORT(ERRM_E_NOT_OPENED, i);
            continue;
        }
        if (i == ERRM_CH_PIPE) {
            errm_PrintTclLines(number, severity, subsystem, line, generic);
            result += bit;
            continue;
        }
        // CHI gets the user line only, like every other channel, and only
        // while a client stream is set.
        if (i == ERRM_CH_CHI && errm_FChiFileHandle != 1) continue;
        if (errm_G.GlobalVerboseMode != 0 || forced) {
            int handle = i == ERRM_CH_STDOUT ? -1 : ch.handle;
            if (errm_FM_Puts(handle, line) == 0) result += bit;
        }
    }
    if (errm_Rec.on && result != 0)
        errm_RecordUser(number, severity, subsystem, format, line, result, args);
    return result;
}
