// errm_direct.h - direct messages: trace and debug lines that no descriptor
// holds, gated by a trace level read from the environment.
#ifndef ERRM_DIRECT_H
#define ERRM_DIRECT_H

#include <cstdarg>

// Writes the trace line of text on the channels of the report letters when
// the level variable holds a decimal level of at least `level`: 0 (also when
// the gate is closed), or the reported code of the failure.
int errm_DirectTrace(int severity, const char *severityText, const char *levelVar, int level,
                     const char *reports, const char *text);

// The work of ERRM_DirectProcessError: checks the arguments, formats the
// text and writes a TRACE line through errm_DirectTrace (a DEBUG line is
// formatted only). 0 or the reported code.
unsigned errm_DirectProcessError(const char *severity, const char *reports, const char *level_var,
                                 int level, const char *format, va_list args);

#endif
