// errm_message.h - message processing internals: severities, layouts, the
// line buffers and the repetition gate.
#ifndef ERRM_MESSAGE_H
#define ERRM_MESSAGE_H

#include "base/errm_conv.h"

#include <cstdarg>
#include <cstddef>

struct errm_MessageEntry;

enum errm_Severity : int {
    ERRM_SEV_ERROR = 1,
    ERRM_SEV_ERROR_DELAYED = 2,
    ERRM_SEV_WARNING = 3,
    ERRM_SEV_FATAL = 4,
    ERRM_SEV_TRACE = 5,
    ERRM_SEV_DEBUG = 6,
    ERRM_SEV_NOTE = 7,
    ERRM_SEV_DISPLAY = 8,
};

// Buffer sizes in characters, the terminator not included; ERRM_LINE0_MAX,
// the caller-formatted text, is in base/errm_conv.h with the estimate.
inline constexpr std::size_t ERRM_LINECHI_CAP = 6175; // Chi line stays below this
inline constexpr std::size_t ERRM_LINEOUT_CAP = 8192; // decorated line
inline constexpr std::size_t ERRM_LINE_CAP = 6145;    // user and direct line buffer
inline constexpr std::size_t ERRM_STAMP_CAP = 33;

// Room for the decoration before a message's text: the longest lead, label,
// identifier and date stamp, with their separators.
inline constexpr std::size_t ERRM_HEAD_ROOM = 1536;

// The line buffers shared by every call. A message's decorated line is built
// around its text where it was formatted: the decoration goes into the end of
// head, right before sLine0, and the line feed after the text, so the text is
// never copied. errm_Lines.decorated then points into head.
struct errm_LineBuffers {
    std::size_t sLine0Length;        // length of sLine0
    const char *decorated;           // the decorated line, in head and sLine0
    int diagnostic;                  // 1 while a follow-up writes its own failure line
    char head[ERRM_HEAD_ROOM];       // decoration of the decorated line, at its end
    char sLine0[ERRM_LINE0_MAX + 2]; // caller-formatted text, then a line feed
    char sLineOut[ERRM_LINEOUT_CAP]; // other lines: "see", "not present"
    char sLineChi[ERRM_LINECHI_CAP]; // Chi line
    char sLine[ERRM_LINE_CAP];       // user and direct message line
};
extern errm_LineBuffers errm_Lines;

// ------------------------------------------------------- severities, layouts

const char *errm_SeverityKeyword(int code); // "ERROR" .. "DISPLAY", "?" otherwise
int errm_IsChiSeverityCode(int code);
// 1 when the current entry's severity is in the Chi severity list.
int errm_IsChiSeverity();

// Writes the stamp of kind 1..3; returns the characters written (0 for any
// other kind, the buffer then untouched).
std::size_t errm_DateStamp(char *buf, std::size_t size, unsigned kind);

// Builds the decorated line of the current entry around sLine0 and points
// errm_Lines.decorated at it; sLine0Length is unchanged, and the character
// after the text is the line's line feed or terminator. Returns its length,
// or -1 when the decoration does not fit.
// The decoration before the text of an undated line is kept in the entry and
// reused while the subsystem context and the number are those it was built
// with.
long errm_BuildDecoratedLine(errm_MessageEntry *entry, int number);

// Builds the Chi line into sLineChi; 0 or 1073 (reported).
int errm_BuildChiLine(const errm_MessageEntry *entry, int number);

// Format characters with every '%' counting 128.
unsigned errm_EstimateFormatSize(const char *format);

// Formats the common formats without printf: literal text and the
// conversions %s, %d, %i, %u and %% with no flag, width, precision or length.
// Fills out with at most cap characters and a terminator, exactly as
// vsnprintf would, and returns the length. Returns -1 for anything else
// (another conversion, a null %s, a longer text), with args partly read and
// out partly written: the caller then formats the whole text with vsnprintf
// from its own copy of the arguments, so that the rare cases keep printf's
// own rules.
long errm_FormatPlain(char *out, std::size_t cap, const char *format, va_list args);

// Formats into sLine0 (at most 6144 characters): 0, or 1073 reported with
// the name "sLine0".
int errm_FormatLine0(const char *format, va_list args);

// errm_FormatLine0 of an entry's format; the entry keeps its format cut at
// the conversions, so that later calls copy the literal text without
// searching it.
int errm_FormatEntryLine0(errm_MessageEntry *entry, va_list args);

// ------------------------------------------------------------- repetition

// The notice that replaces the occurrence reaching the limit: label, number
// (or identifier text) and the limit.
inline constexpr const char *ERRM_NOTICE_FORMAT_NUMBER =
    "Note: message (%s - %d) has been displayed %d times and will not be printed anymore \n";
inline constexpr const char *ERRM_NOTICE_FORMAT_ID =
    "Note: message (%s - %s) has been displayed %d times and will not be printed anymore \n";

// Writes a line on STDOUT or the transcript through the verbose and
// repetition gate; sets *counted. Returns the write's result (0 = written).
int errm_PrintLimited(const char *line, int handle, int *counted);

#endif
