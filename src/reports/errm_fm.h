// errm_fm.h - the file manager: the library's only way to open, read, write
// and close files.
//
// Callers hold an int handle (0..15) into a fixed table, never a stream.
// Results: 0 success; an internal error code (1027..1032, 1068); -1 for a
// handle above 15 (handles compare as unsigned, so -2 is above 15). Each
// failure other than -1 and 1068 prints its line on standard output.
// Handle -1 means standard output for errm_FM_Puts.
#ifndef ERRM_FM_H
#define ERRM_FM_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>

inline constexpr int ERRM_FM_ENTRIES = 16;

int errm_FM_Open(const char *name, char mode, int binary, int *handle);
int errm_FM_RecordHandle(const char *name, std::FILE *stream, int *handle);
int errm_FM_FreeHandle(const char *name, int handle);
int errm_FM_SetInfo(int handle, char key, int value);
int errm_FM_Close(int handle);
int errm_FM_Read(int handle, void *buffer, std::size_t count, std::size_t *read);
int errm_FM_Gets(int handle, char *buffer, int size);
int errm_FM_Getc(int handle, int *c);
int errm_FM_Eof(int handle, int *eof);
// The size in bytes the open file has now; 0 when unknown (no line).
long long errm_FM_Size(int handle);
int errm_FM_Puts(int handle, const char *text);
// errm_FM_Puts of a line whose length n the caller knows (no NUL within).
int errm_FM_PutLine(int handle, const char *text, std::size_t n);
int errm_FM_Printf(int handle, const char *format, ...) __attribute__((format(printf, 2, 3)));
// A written file takes at most 8191 characters of one formatted text.
int errm_FM_VPrintf(int handle, const char *format, va_list args);
int errm_FM_Putc(int handle, int c);
int errm_FM_Write(int handle, const void *buffer, std::size_t count);
void errm_FM_Finalize();

// Internal debug switch: 1 makes the file manager print its trace lines
// ("<FM> Open ...") from its first use on. Not reachable from the exports.
void errm_FM_SetTraceSwitch(int on);

// Introspection for the library and its tests.
int errm_FM_InUse(int handle);         // 1 when the entry holds a stream
int errm_FM_Tag(int handle);           // the entry's tag, -1 when free
const char *errm_FM_Name(int handle);  // the name copy, null when none
std::FILE *errm_FM_Stream(int handle); // the stream, null when free

#endif
