// errm_interr.h - internal error codes, their catalogue and reporting.
//
// A failing operation reports its code with ERRM_REPORT (formats ending in
// "@ F=%s/L=%d\n", which take the source path and line) or with
// errm_ReportInternalError directly (formats ending "(after error=%d)\n"),
// then returns the code. Reports are written only while FTraceDLL is 1.
#ifndef ERRM_INTERR_H
#define ERRM_INTERR_H

#include <cstdarg>

// The codes the library reports; every code 1000..1101 has a catalogue text.
enum errm_ErrorCode : int {
    ERRM_E_TOO_MANY_ENV = 1001,     // environment name table full
    ERRM_E_BAD_LETTER = 1010,       // report letter not in the letter table
    ERRM_E_NOT_FOUND = 1024,        // message number not in the directory
    ERRM_E_BAD_ENTRY_NUMBER = 1025, // entry record number differs from the directory's
    ERRM_E_FM_CLOSE = 1027,         // file manager: close failed
    ERRM_E_FM_FULL = 1028,          // file manager: no free entry
    ERRM_E_FM_NOT_OPEN = 1029,      // file manager: entry not in use
    ERRM_E_FM_OPEN = 1030,          // file manager: open failed
    ERRM_E_FM_READ = 1031,          // file manager: read error
    ERRM_E_FM_WRITE = 1032,         // file manager: write failed
    ERRM_E_INTERNAL = 1046,         // malformed entry field
    ERRM_E_TOO_MANY_SS = 1047,      // 15 descriptors already loaded
    ERRM_E_MAGIC = 1048,            // descriptor magic number wrong
    ERRM_E_MD5 = 1049,              // descriptor digest byte differs
    ERRM_E_NOT_LOADED = 1050,       // subsystem row not loaded
    ERRM_E_PLATFORM = 1053,         // ORV_VCO missing or invalid
    ERRM_E_SEVERITY = 1056,         // severity code outside 1..8
    ERRM_E_REPORTS = 1058,          // writing or keeping a line failed
    ERRM_E_SIZE_SMALL = 1060,       // user format too long
    ERRM_E_BAD_INDEX = 1064,        // subsystem index outside 0..15
    ERRM_E_CAT = 1065,              // follow-up cat failed
    ERRM_E_CLOSE = 1066,            // closing a file failed
    ERRM_E_FILE_NOT_FOUND = 1067,   // file to concatenate not found
    ERRM_E_NO_MEMORY = 1068,        // allocation failed
    ERRM_E_MAP = 1069,              // a file could not be read into memory
    ERRM_E_NULL = 1070,             // null pointer argument
    ERRM_E_OPEN = 1071,             // opening a file failed
    ERRM_E_INDEX_SIZE = 1072,       // line too long for its buffer
    ERRM_E_PRINTF = 1073,           // formatted text too long for its buffer
    ERRM_E_READ_MAPPED = 1075,      // descriptor region outside the file
    ERRM_E_CAT_OVERFLOW = 1077,     // path too long
    ERRM_E_COPY_SIZE = 1078,        // name too long
    ERRM_E_TRACE_NAME = 1082,       // no room for the trace file name
    ERRM_E_OLD_VERSION = 1084,      // descriptor version below 1.0.0
    ERRM_E_NOT_OPENED = 1095,       // user message channel not opened
    ERRM_E_EMPTY = 1098,            // direct message text null or empty
    ERRM_E_DIRECT_SEVERITY = 1099,  // direct message severity not T or D
};

inline constexpr int ERRM_E_FIRST = 1000;
inline constexpr int ERRM_E_LAST = 1101;

// The printf format of a code, or null outside 1000..1101.
const char *errm_InternalErrorText(int code);

// Reports one internal error with the arguments of its format.
void errm_ReportInternalError(int code, ...);

// The console output of the library's own lines (errm_ConsolePrintf ...).
#include "base/errm_console.h"

// Source path shown in reports, set per source folder by the build.
#ifndef ERRM_SRC_PATH
#define ERRM_SRC_PATH "src/err_mgt/errm_shared"
#endif

// Reports a code whose format ends with the source path and line.
#define ERRM_REPORT(code, ...)                                                                     \
    errm_ReportInternalError((code), __VA_ARGS__, ERRM_SRC_PATH, __LINE__)
#define ERRM_REPORT0(code) errm_ReportInternalError((code), ERRM_SRC_PATH, __LINE__)

#endif
