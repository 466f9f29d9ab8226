// errm_console.cpp - the console output of the library's own lines, sent
// where the diagnostics option says, and the pipe lines' standard output.
#include "base/errm_console.h"
#include "base/errm_options.h"

#include <cstdio>

namespace {

// The stream of the library's own lines; null when they are off.
std::FILE *diagnosticStream() {
    switch (errm_Opt.diagnostics) {
    case errm_Diagnostics::toStderr: return stderr;
    case errm_Diagnostics::off: return nullptr;
    case errm_Diagnostics::toStdout: break;
    }
    return stdout;
}

} // namespace

int errm_ConsoleVPrintf(const char *format, va_list args) {
    std::FILE *out = diagnosticStream();
    if (out == nullptr) return 0;
    std::vfprintf(out, format, args);
    return std::fflush(out);
}

int errm_ConsolePrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int rc = errm_ConsoleVPrintf(format, args);
    va_end(args);
    return rc;
}

int errm_ConsolePuts(const char *text) {
    std::FILE *out = diagnosticStream();
    if (out == nullptr) return 0;
    std::fputs(text, out);
    return std::fflush(out);
}

int errm_StdoutPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    return std::fflush(stdout);
}
