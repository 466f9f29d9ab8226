// errm_paths.h - file-system utilities and the search path through which
// files named by messages are found.
#ifndef ERRM_PATHS_H
#define ERRM_PATHS_H

#include <cstdint>

inline constexpr int ERRM_MAX_PATHS = 8;

int errm_FileExists(const char *name);
std::uint32_t errm_FileSizeByName(const char *name);
// Deletes the file and prints "<name> deleted"; returns 1.
int errm_DeleteFile(const char *name);
// "tmp_HH_MM_SS_PID.tmp" into dst (at least 64 bytes).
void errm_TempFileName(char *dst);
// Builds the directory list from the variable; the number stored, or 0.
int errm_GetListOfPaths(const char *variable);
// Searches the file in the directories of the list (built at the first
// search of a cycle). 1 with the full name in dst (1024 bytes), else 0.
int errm_FindFileInPath(const char *variable, const char *file, char *dst);
void errm_FreeListOfPaths();
// Releases the list and lets the next search build it again.
void errm_ForgetListOfPaths();
// Directories in the list (V_MAX_PATH) and the i-th of them.
int errm_SearchPathCount();
const char *errm_SearchPathDir(int i);

#endif
