// errm_interr.cpp - the internal error catalogue and its reporting on the
// trace file and the console.
//
// Sections: catalogue lookup (the table is errm_interr_texts.h); reporting.
#include "base/errm_interr.h"
#include "base/errm_console.h"
#include "base/errm_interr_texts.h"
#include "base/errm_sink.h"
#include "base/errm_limits.h"
#include "base/errm_state.h"

#include <array>
#include <cstdio>

namespace {

constexpr bool internalErrorsInOrder() {
    for (int i = 0; i < ERRM_E_LAST - ERRM_E_FIRST + 1; ++i)
        if (errm_kInternalErrors[static_cast<std::size_t>(i)].code != ERRM_E_FIRST + i)
            return false;
    return errm_kInternalErrors.back().code == 0;
}
static_assert(internalErrorsInOrder(), "the catalogue holds 1000..1101 in order, then the end row");

} // namespace

const char *errm_InternalErrorText(int code) {
    if (code < ERRM_E_FIRST || code > ERRM_E_LAST) return nullptr;
    return errm_kInternalErrors[static_cast<std::size_t>(code - ERRM_E_FIRST)].format;
}

// --------------------------------------------------------------- reporting

namespace {

// The report text buffer.
char g_reportText[ERRM_REPORT_LINE_CAP];
char g_reportPrefix[32];

// Formats into a fixed buffer; a text too long is cut and still ends with a
// line feed, so the trace keeps one report per line.
void formatBounded(char *buf, std::size_t cap, const char *format, va_list args) {
    int n = std::vsnprintf(buf, cap, format, args);
    if (n < 0) {
        buf[0] = '\0';
    } else if (static_cast<std::size_t>(n) >= cap) {
        buf[cap - 2] = '\n';
        buf[cap - 1] = '\0';
    }
}

} // namespace

[[gnu::cold]] void errm_ReportInternalError(int code, ...) {
    if (errm_G.FTraceDLL == 0) return;
    const char *format = errm_InternalErrorText(code);
    if (format == nullptr) {
        std::snprintf(g_reportText, sizeof g_reportText, "?\n");
    } else {
        va_list args;
        va_start(args, code);
        formatBounded(g_reportText, sizeof g_reportText, format, args);
        va_end(args);
    }
    std::snprintf(g_reportPrefix, sizeof g_reportPrefix,
                  "DLL-E(%3d): ", errm_NextTraceLineNumber());
    // After ERRM_FInit the trace handle is gone: nothing reaches a file.
    // With the trace wanted but not open (handle -1) the prefix goes to
    // standard output, and the console echo below repeats it: the doubled
    // "DLL-E" is what the contract wants.
    if (!errm_G.FTraceClosedByFInit) {
        // Prefix and text in one write: a reader of the file sees whole lines.
        if (errm_G.TraceFileHandle != -1)
            errm_SinkPrintf(errm_G.TraceFileHandle, "%sError DLL: %d %s", g_reportPrefix, code,
                            g_reportText);
        else
            errm_ConsolePuts(g_reportPrefix);
    }
    if (errm_G.FConsoleOut == 1) {
        errm_ConsolePuts(g_reportPrefix);
        errm_ConsolePuts(g_reportText);
    }
}
