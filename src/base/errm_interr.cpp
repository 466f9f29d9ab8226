// errm_interr.cpp - the internal error catalogue, its reporting on the trace
// file and the console, and the console output helpers.
//
// Sections: catalogue lookup (the table is errm_interr_texts.h); reporting;
// console.
#include "base/errm_interr.h"
#include "base/errm_interr_texts.h"
#include "base/errm_sink.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"

#include <array>
#include <cstdio>

const char *errm_InternalErrorText(int code) {
    if (code < ERRM_E_FIRST || code > ERRM_E_LAST) return nullptr;
    return errm_kInternalErrors[static_cast<std::size_t>(code - ERRM_E_FIRST)].format;
}

// --------------------------------------------------------------- reporting

namespace {

// The report text buffer, shared with the repetition notice.
constexpr std::size_t kReportCap = 2696;
char g_reportText[kReportCap];
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

namespace {

__attribute__((format(printf, 2, 3))) void sinkPrintf(int handle, const char *format, ...) {
    va_list args;
    va_start(args, format);
    errm_Sink.vprintf(handle, format, args);
    va_end(args);
}

} // namespace

void errm_ReportInternalError(int code, ...) {
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
    if (!errm_G.FTraceClosedByFInit) {
        errm_Sink.puts(errm_G.TraceFileHandle, g_reportPrefix);
        if (errm_G.TraceFileHandle != -1)
            sinkPrintf(errm_G.TraceFileHandle, "Error DLL: %d %s", code, g_reportText);
    }
    if (errm_G.FConsoleOut == 1) {
        errm_ConsolePuts(g_reportPrefix);
        errm_ConsolePuts(g_reportText);
    }
}

// ----------------------------------------------------------------- console

int errm_ConsoleVPrintf(const char *format, va_list args) {
    std::vfprintf(stdout, format, args);
    return std::fflush(stdout);
}

int errm_ConsolePrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int rc = errm_ConsoleVPrintf(format, args);
    va_end(args);
    return rc;
}

int errm_ConsolePuts(const char *text) {
    std::fputs(text, stdout);
    return std::fflush(stdout);
}
