// errm_limits.h - the sizes that several rooms of the library share: file
// names and paths, the library's own report lines, the header dump.
//
// Each is defined here once; a room that needs one of its own says so where
// it defines it.
#ifndef ERRM_LIMITS_H
#define ERRM_LIMITS_H

#include <cstddef>

inline constexpr std::size_t ERRM_NAME_CAP = 1024;         // file names and paths, terminator included
inline constexpr std::size_t ERRM_REPORT_LINE_CAP = 2696;  // a trace line, an internal error
                                                           // report, a repetition notice
inline constexpr std::size_t ERRM_TRACE_FORMAT_MAX = 2656; // longest trace format accepted
inline constexpr std::size_t ERRM_DUMP_CAP = 2689;         // the descriptor header dump's text

static_assert(ERRM_TRACE_FORMAT_MAX < ERRM_REPORT_LINE_CAP, "a trace format leaves room for its values");

#endif
