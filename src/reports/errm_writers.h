// errm_writers.h - the writers that put finished lines on the report
// channels: AddReport for descriptor messages, AddReportDirect for direct
// messages, and the pipe lines of the PIPE channel.
#ifndef ERRM_WRITERS_H
#define ERRM_WRITERS_H

#include <cstddef>

// A line length the caller does not know.
constexpr std::size_t ERRM_LENGTH_UNKNOWN = ~static_cast<std::size_t>(0);

// Writes line (and chiLine on CHI) on each authorised channel of the current
// entry's report list. useChi 1 lets STDOUT take the Chi line in NUSK mode;
// fUpdate 1 feeds the display counter. length is line's length when the
// caller knows it (the files then take it without measuring it again).
// 1 done, 0 a report file failed to open.
int AddReport(const char *line, const char *chiLine, int useChi, int fUpdate,
              std::size_t length = ERRM_LENGTH_UNKNOWN);

// Writes line on the channels named by report letters. 1 done, 0 when a
// letter is unknown or a report file failed to open.
int AddReportDirect(const char *letters, int severity, const char *line);

// The five pipe lines on standard output. Returns 1.
int errm_PrintTclLines(int number, int severity, const char *subsystem, const char *line,
                       const char *generic);

#endif
