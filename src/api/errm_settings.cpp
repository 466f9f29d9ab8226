// errm_settings.cpp - the exported settings and queries: newline, verbose
// mode, repetition limit, NUSK mode, delayed count, version and date, file
// names and roots, and ERRM_ResetMessageCounter.
#include "api/errm_lock.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "errm.h"

#include <cstring>

extern "C" {

ERRM_API void ERRM_AddNL(int flag) {
    errm_ApiLock lock;
    errm_G.FAddNL = flag;
}

ERRM_API void ERRM_Set_GlobalVerboseMode(int mode) {
    errm_ApiLock lock;
    errm_G.GlobalVerboseMode = mode;
}

ERRM_API void ERRM_Set_GlobalNbrMaxOfMessages(int max) {
    errm_ApiLock lock;
    errm_G.GlobalNbrMaxOfMessages = max;
}

ERRM_API void ERRM_Set_NUSKMode(int mode) {
    errm_ApiLock lock;
    errm_G.NUSKMode = mode;
}

ERRM_API unsigned int ERRM_GetNumberOfDelayedErrors(void) {
    errm_ApiLock lock;
    return errm_G.NbrOfDelayedErrors;
}

ERRM_API int ERRM_GetVersion(unsigned char version[4]) {
    errm_ApiLock lock;
    if (version == nullptr) return 0;
    version[0] = 1;
    version[1] = 0;
    version[2] = 3;
    version[3] = 0;
    return 1;
}

ERRM_API int ERRM_GetDate(char *date) {
    errm_ApiLock lock;
    if (date == nullptr) return 0;
    errm_StrCopy(date, 12, "2007/01/08");
    return 1;
}

ERRM_API int ERRM_Set_TranScriptFileName(const char *name) {
    errm_ApiLock lock;
    if (name == nullptr || name[0] == '\0') return 0;
    return errm_StrCopy(errm_G.TranScriptFileName, sizeof errm_G.TranScriptFileName, name);
}

ERRM_API int ERRM_Set_SearchPath(const char *env_var_name) {
    errm_ApiLock lock;
    if (env_var_name == nullptr) return 0;
    return errm_StrCopy(errm_G.SearchPath, sizeof errm_G.SearchPath, env_var_name);
}

} // extern "C"

namespace {

// A null or empty root selects the platform family's default.
int setRoot(char *field, const char *root) {
    if (root != nullptr && root[0] != '\0') return errm_StrCopy(field, ERRM_NAME_CAP, root);
    switch (errm_GetPlatformFamily()) {
    case 1: return errm_StrCopy(field, ERRM_NAME_CAP, "./");
    case 2: return errm_StrCopy(field, ERRM_NAME_CAP, ".\\");
    default: return 0;
    }
}

} // namespace

extern "C" {

ERRM_API int ERRM_Set_RootReportFiles(const char *root) {
    errm_ApiLock lock;
    // The root must leave room for the longest extension of a report file
    // (".log", ".rep", ".dbg" and ".dbi" are all four characters), or every
    // line routed to a report file would fail to open it.
    if (root != nullptr && std::strlen(root) + std::strlen(".log") >= ERRM_NAME_CAP) return 0;
    return setRoot(errm_G.RootReportFiles, root);
}

ERRM_API int ERRM_Set_Root_ForMemoryDescriptor(const char *dir) {
    errm_ApiLock lock;
    return setRoot(errm_G.RootForMemoryDescriptor, dir);
}

} // extern "C"

extern "C" ERRM_API int ERRM_ResetMessageCounter(unsigned int subsystem, int number,
                                                 unsigned int value) {
    errm_ApiLock lock;
    for (int i = 0; i < ERRM_SS_ROWS; ++i) {
        errm_SubsystemRow &row = errm_Subsystems[i];
        if (row.loaded != 1 || static_cast<unsigned>(row.index) != subsystem) continue;
        int dirIndex = errm_FindNumber(row.directory, row.entryCount, row.numbers, number);
        if (dirIndex < 0) {
            ERRM_REPORT(ERRM_E_NOT_FOUND, number);
            return 0;
        }
        // A cached entry of this message reads the same counter.
        row.counters[dirIndex] = value;
        return 1;
    }
    return 0;
}
