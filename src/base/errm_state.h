// errm_state.h - the library state record and the constants every room reads.
//
// One record, errm_G, holds the process-wide settings, debug flags, paths and
// counters. Settings survive ERRM_FInit; ERRM_Init writes only the debug
// flags, DebugPath, ByteOrder and NbrOfReports.
#ifndef ERRM_STATE_H
#define ERRM_STATE_H

#include "base/errm_limits.h"

#include <cstddef>

inline constexpr std::size_t ERRM_SEARCHPATH_CAP = 512;  // SearchPath variable name
inline constexpr std::size_t ERRM_RETURN_INITIAL = 2048; // Return buffer capacity at init

struct errm_LibraryState {
    int FConsoleOut;                        // 1: trace lines and internal errors echo on stdout
    int FDebug;                             // 1: ERRM_Init prints the flag dump
    int FDebugL2;                           // 1: command lines of follow-up actions are traced
    int FDebugDump;                         // 1: loading dumps the descriptor header
    int FDebugMem;                          // decoded and shown, no effect
    int FTraceDLL;                          // 1: trace file written, internal errors reported
    int FAddNL;                             // 1: layouts end with a line feed
    int GlobalVerboseMode;                  // 0: stdout/transcript only for forced messages
    int GlobalNbrMaxOfMessages;             // prints per message before the notice; 0 = no limit
    int NUSKMode;                           // non-zero: the Chi line replaces the decorated line
    unsigned NbrOfDelayedErrors;            // ERROR_DELAYED messages dispatched, never reset
    char TranScriptFileName[ERRM_NAME_CAP]; // name of the TRANSCRIPT file
    char RootReportFiles[ERRM_NAME_CAP];    // root of the .log/.rep/.dbg/.dbi files
    char RootForMemoryDescriptor[ERRM_NAME_CAP]; // directory of the descriptor files
    char SearchPath[ERRM_SEARCHPATH_CAP];        // name of the search-path variable
    char DebugPath[ERRM_NAME_CAP];               // directory of the trace file
    int ByteOrder;                               // 1 little, 2 big, -1 unknown
    int NbrOfReports;                            // rows of the report channel table (9 after init)
    int TraceFileHandle;                         // file manager handle of the trace, -1 none
    int FTraceOpened;                            // 1 while the trace file is open
    int TraceLineNumber;                         // number of the last trace line / internal report
    int FTraceClosedByFInit;                     // 1 from ERRM_FInit to the next ERRM_Init
    int FTraceReopen;                            // 1 once the trace file was closed: reopen appends
    int FDebugPathFailed;                        // 1: DebugPath not expanded: trace in working dir
    char *ReturnBuffer;         // Return buffer of the calling thread, null outside a cycle
    std::size_t ReturnCapacity; // characters the Return buffer holds before its terminator
    char PlatformName[40];      // platform family for internal error 1053
};

extern errm_LibraryState errm_G;

// Advances TraceLineNumber, which numbers the trace lines and the internal
// error reports alike, and returns it; after INT_MAX it wraps to 0.
int errm_NextTraceLineNumber();

// Platform family from ORV_VCO: 1 NIX, 2 WIN, -1 not set or unknown.
int errm_GetPlatformFamily();

// 1 when ORV_VCO names a valid platform (PlatformName set), 0 otherwise.
int errm_CheckPlatform();

#endif
