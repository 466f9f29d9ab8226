// errm_sink.h - the file operations the base needs for its trace file and
// its internal error lines.
//
// The base sits under the file manager and never includes it: it opens,
// writes and closes the trace file through this table, whose one instance
// the file manager defines with its own functions. Results and handles are
// the file manager's.
#ifndef ERRM_SINK_H
#define ERRM_SINK_H

#include <cstdarg>

struct errm_FileSink {
    int (*open)(const char *name, char mode, int binary, int *handle); // 0 or a code
    int (*setInfo)(int handle, char key, int value);                    // entry settings
    int (*puts)(int handle, const char *text);                          // -1: standard output
    int (*vprintf)(int handle, const char *format, va_list args);       // formatted write
    int (*close)(int handle);                                           // 0 or a code
};

// Defined by the file manager.
extern const errm_FileSink errm_Sink;

// A formatted write through the sink; its result.
__attribute__((format(printf, 2, 3))) inline int errm_SinkPrintf(int handle, const char *format,
                                                                 ...) {
    va_list args;
    va_start(args, format);
    const int rc = errm_Sink.vprintf(handle, format, args);
    va_end(args);
    return rc;
}

#endif
