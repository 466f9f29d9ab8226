// errm_user.h - user messages: the conversion of their formats ("\n", "\t"
// and five XML character references) and their writing on the channels of a
// bit mask.
#ifndef ERRM_USER_H
#define ERRM_USER_H

#include <cstdarg>

// At an ampersand: the character a known reference stands for, with its
// length in *consumed; '?' and 0 when none of the references starts the text
// within the `left` characters that remain.
char IsXMLEscapeSequence(const char *text, int left, int *consumed);

// Converts src into dst; the converted length, or -1 when the source reaches
// `limit` characters (4097 in every call). dst must hold `limit` bytes: the
// conversion never lengthens the text.
int errm_ConvertUserFormat(const char *src, char *dst, int limit);

// The work of ERRM_DisplayUserMessage: formats the user line and writes it on
// the authorised channels of report_mask; the sum of the bits written.
unsigned errm_DisplayUserMessage(int number, int severity, const char *subsystem, bool forced,
                                 int report_mask, const char *generic, const char *format,
                                 va_list args);

#endif
