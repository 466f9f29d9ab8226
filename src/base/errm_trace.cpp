// errm_trace.cpp - opening, writing and closing the library trace file,
// the date text, and the load-time hook.
//
// Sections: opening; adding lines; closing; date text; load-time hook.
#include "base/errm_trace.h"
#include "base/errm_interr.h"
#include "base/errm_sink.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "platform/errm_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct TraceState {
    char fileName[ERRM_NAME_CAP];    // name of the trace file
    char line[ERRM_REPORT_LINE_CAP]; // trace line being built
    char prefix[32];                 // "DLL(%3d): "
};

TraceState g_trace = {};

} // namespace

#ifdef ERRM_TESTING
const char *errm_TraceFileName() {
    return g_trace.fileName;
}
#endif

// ----------------------------------------------------------------- opening

int errm_OpenDllTrace() {
    if (errm_G.FTraceOpened == 1) return 1;
    errm_G.TraceFileHandle = -1;
    if (errm_G.FTraceDLL == 0) return 1;
    // A trace closed by ERRM_FInit stays closed until the next ERRM_Init.
    if (errm_G.FTraceClosedByFInit) return 1;
    char *name = g_trace.fileName;
    name[0] = '\0';
    // An empty directory, or one that could not be expanded, is the working
    // directory: the name has no directory part (never the root).
    if (errm_G.DebugPath[0] != '\0' && !errm_G.FDebugPathFailed) {
        // Capacity 1023 keeps room for the slash that may be appended.
        if (!errm_StrCopy(name, ERRM_NAME_CAP - 1, errm_G.DebugPath)) return 0;
        errm_AddSlash(name);
    }
    if (!errm_StrCat(name, ERRM_NAME_CAP - 1, "errm_dll_trace")) return 0;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%d.txt", errm_PL_ProcessId());
    if (!errm_StrCat(name, ERRM_NAME_CAP, suffix)) {
        ERRM_REPORT(ERRM_E_TRACE_NAME, name);
        return 0;
    }
    // A trace reopened in a later cycle keeps the lines of the earlier ones.
    int handle = -1;
    if (errm_Sink.open(name, errm_G.FTraceReopen ? 'a' : 'w', 0, &handle) != 0) {
        // A handle delivered with the failure (no memory for the name) is
        // given back with its stream.
        if (handle != -1) errm_Sink.close(handle);
        ERRM_REPORT(ERRM_E_OPEN, name);
        return 0;
    }
    errm_G.TraceFileHandle = handle;
    errm_Sink.setInfo(handle, 'f', 1);
    errm_G.TraceLineNumber = 0;
    errm_G.FTraceOpened = 1;
    return 1;
}

// -------------------------------------------------------------- adding lines

[[gnu::cold]] void errm_TraceAdd(const char *format, ...) {
    // After ERRM_FInit no file is written (nor opened) until the next
    // ERRM_Init; the console echo goes on.
    const bool toFile = errm_G.FTraceDLL == 1 && !errm_G.FTraceClosedByFInit;
    if (toFile && errm_G.TraceFileHandle == -1) {
        if (!errm_OpenDllTrace()) return;
        errm_Sink.puts(errm_G.TraceFileHandle, "Error, open errm_TraceAdd\n");
    }
    if (std::strlen(format) > ERRM_TRACE_FORMAT_MAX) {
        errm_ConsolePuts("size too big\n");
        return;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(g_trace.line, sizeof g_trace.line, format, args);
    va_end(args);
    if (n < 0) {
        g_trace.line[0] = '\0';
    } else if (static_cast<std::size_t>(n) >= sizeof g_trace.line) {
        // Cut, but keep one trace entry per line.
        g_trace.line[sizeof g_trace.line - 2] = '\n';
    }
    std::snprintf(g_trace.prefix, sizeof g_trace.prefix, "DLL(%3d): ", errm_NextTraceLineNumber());
    if (errm_G.FConsoleOut == 1) {
        errm_ConsolePuts(g_trace.prefix);
        errm_ConsolePuts(g_trace.line);
    }
    // Prefix and text in one write: a reader of the file sees whole lines.
    if (toFile) errm_SinkPrintf(errm_G.TraceFileHandle, "%s%s", g_trace.prefix, g_trace.line);
}

// ------------------------------------------------------------------ closing

void errm_CloseDllTrace() {
    // A trace opened in this cycle is closed even if a later ERRM_Init turned
    // FTraceDLL off, so that its file manager entry is not kept forever.
    if (errm_G.FTraceOpened != 0) {
        if (errm_Sink.close(errm_G.TraceFileHandle) != 0) ERRM_REPORT(ERRM_E_CLOSE, "FDLLTRACE");
        errm_G.FTraceOpened = 0;
        errm_G.FTraceReopen = 1;
    }
    // The handle may be given to another file by the file manager: forget it.
    errm_G.TraceFileHandle = -1;
    errm_G.FTraceClosedByFInit = 1;
}

// ---------------------------------------------------------------- date text

void errm_GetDateTime(char *buf, std::size_t size) {
    char text[33];
    if (!errm_PL_AscTime(text, sizeof text)) text[0] = '\0';
    if (!errm_StrCopy(buf, size, text)) return;
    std::size_t n = std::strlen(buf);
    if (n > 0) buf[n - 1] = ' ';
}

// ----------------------------------------------------------- load-time hook

namespace {

// Runs when the library is loaded into a process. The flags are still 0, so
// the only lasting effect is the trace line count.
__attribute__((constructor)) void errm_OnLoad() {
    char date[33];
    errm_GetDateTime(date, sizeof date);
    errm_TraceAdd("DATE: %s\n", date);
}

} // namespace
