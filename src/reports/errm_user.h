// errm_user.h - the conversion of user-message formats: "\n", "\t" and five
// XML character references.
#ifndef ERRM_USER_H
#define ERRM_USER_H

// At an ampersand: the character a known reference stands for, with its
// length in *consumed; '?' and 0 when none of the references starts the text
// within the `left` characters that remain.
char IsXMLEscapeSequence(const char *text, int left, int *consumed);

// Converts src into dst; the converted length, or -1 when the source reaches
// `limit` characters (4097 in every call). dst must hold `limit` bytes: the
// conversion never lengthens the text.
int errm_ConvertUserFormat(const char *src, char *dst, int limit);

#endif
