// errm_env.h - environment operations: reference expansion, flag words and
// the host byte order.
#ifndef ERRM_ENV_H
#define ERRM_ENV_H

#include <cstddef>

// Expands ${NAME} references of src into dst (capacity bytes). 1 when the
// whole source was expanded; 0 otherwise, dst then holding the text produced
// up to the failure.
int errm_ExpandEnvVars(const char *src, char *dst, std::size_t capacity);
// The same for the first srcLen characters of src (no terminator needed).
int errm_ExpandEnvVarsN(const char *src, std::size_t srcLen, char *dst, std::size_t capacity);

// Decodes up to six flag words (separated by ':' or ',') into values[6]:
// 2 keep, 1 set, 0 clear. 1 when the list held at least one word.
int errm_DecodeFlagList(const char *list, int values[6]);

// 2 for "X", 1 for "1", "YES", "TRUE", "T", "VRAI", "V", "Y", else 0.
int errm_DecodeBoolean(const char *word);

// Prints the six debug flags on standard output.
void errm_DumpFlags();

// 1 little endian, 2 big endian, -1 neither; stored in ByteOrder.
int errm_DetectByteOrder();

// Removes the first and the last character of a quoted text, given as a
// pointer and a length (one character alone becomes empty).
void errm_StripQuotes(const char **text, std::size_t *len);

#endif
