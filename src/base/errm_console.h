// errm_console.h - the library's own lines on the console: file manager
// notes and errors, path searches, the platform line, the trace's echo.
//
// They go where the diagnostics option of ERRM_OPTIONS says: standard output
// (the default), standard error, or nowhere. Message lines and pipe lines
// never come here: they are written on their channels.
#ifndef ERRM_CONSOLE_H
#define ERRM_CONSOLE_H

#include <cstdarg>

// Writes a diagnostic line and flushes; returns the flush result (0 when the
// diagnostics are off).
int errm_ConsolePrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int errm_ConsoleVPrintf(const char *format, va_list args);
int errm_ConsolePuts(const char *text);

// Writes on standard output whatever the diagnostics option says (the pipe
// lines of a message) and flushes; returns the flush result.
int errm_StdoutPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));

#endif
