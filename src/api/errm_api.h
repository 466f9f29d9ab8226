// errm_api.h - what the exported functions share among themselves: the
// dispatcher of a decorated message and its two ends.
//
// The api layer is the top of the library: nothing below includes this.
#ifndef ERRM_API_H
#define ERRM_API_H

#include "reports/errm_writers.h"

#include <cstddef>

// Dispatch modes of errm_DecorateAndDispatch.
inline constexpr int ERRM_MODE_REPORTS = 1;
inline constexpr int ERRM_MODE_RETURN = 2;

// Decorates the current entry's message (sLine0) and writes it on its
// reports or keeps it for the caller, by mode.
int errm_DecorateAndDispatch(int mode, unsigned subsystem, int number);
int PutOnReports(const char *line, const char *chiLine, std::size_t length = ERRM_LENGTH_UNKNOWN);
int ReturnError(const char *line, const char *chiLine, std::size_t length = ERRM_LENGTH_UNKNOWN);

#endif
