// errm_trace.h - the library's own trace file and date text.
//
// The trace file <DebugPath>/errm_dll_trace_<pid>.txt is written while
// FTraceDLL is 1, each line prefixed "DLL(%3d): ", and echoed on standard
// output while FConsoleOut is 1. It is flushed after every write. An empty
// DebugPath, or one whose expansion failed, means the working directory.
#ifndef ERRM_TRACE_H
#define ERRM_TRACE_H

#include "base/errm_limits.h"

#include <cstddef>

void errm_TraceAdd(const char *format, ...) __attribute__((format(printf, 1, 2)));

// 1 when the trace is open or not wanted, 0 when opening failed.
int errm_OpenDllTrace();

// Closes the trace file when open. Until the next ERRM_Init the file is not
// opened again: later lines are only echoed on standard output.
void errm_CloseDllTrace();

// Current local time, asctime layout, its line feed replaced by a blank.
void errm_GetDateTime(char *buf, std::size_t size);

#ifdef ERRM_TESTING
// Test build only: the trace file name of the last opening (empty before).
const char *errm_TraceFileName();
#endif

#endif
