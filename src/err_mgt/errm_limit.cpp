// errm_limit.cpp - the verbose and repetition gate of STDOUT and the
// transcript, and ERRM_ResetMessageCounter.
#include "descriptor/errm_desc.h"
#include "err_mgt/errm_interr.h"
#include "err_mgt/errm_message.h"
#include "err_mgt/errm_state.h"
#include "errm.h"
#include "reports/errm_fm.h"

#include <cstdio>

namespace {

// The notice that replaces the occurrence reaching the limit.
char g_notice[2696];

} // namespace

int errm_PrintLimited(const char *line, int handle, int *counted) {
    const errm_MessageEntry *entry = errm_CurrentEntry();
    bool notice = false;
    if (errm_G.GlobalVerboseMode == 0 && entry->forceDisplay == 0) {
        *counted = 0;
        return 0;
    }
    *counted = 1;
    const int max = errm_G.GlobalNbrMaxOfMessages;
    if (entry->severity != ERRM_SEV_DISPLAY && max != 0) {
        const long long c = entry->counter;
        if (c > max) {
            *counted = 0;
            return 0;
        }
        if (c == max) {
            if (entry->idLength == 0)
                std::snprintf(g_notice, sizeof g_notice,
                              "Note: message (%s - %d) has been displayed %d times and will not "
                              "be printed anymore \n",
                              errm_SubsystemLabel(), entry->number, max);
            else
                std::snprintf(g_notice, sizeof g_notice,
                              "Note: message (%s - %s) has been displayed %d times and will not "
                              "be printed anymore \n",
                              errm_SubsystemLabel(), entry->id, max);
            notice = true;
        }
    }
    return errm_FM_Puts(handle, notice ? g_notice : line);
}

extern "C" ERRM_API int ERRM_ResetMessageCounter(unsigned int subsystem, int number,
                                                 unsigned int value) {
    for (int i = 0; i < ERRM_SS_ROWS; ++i) {
        errm_SubsystemRow &row = errm_Subsystems[i];
        if (row.loaded != 1 || static_cast<unsigned>(row.index) != subsystem) continue;
        int dirIndex = errm_FindDirectoryEntry(row.directory, number, row.entryCount);
        if (dirIndex < 0) {
            ERRM_REPORT(ERRM_E_NOT_FOUND, number);
            return 0;
        }
        // A cached copy of this message takes the value too; the cache only
        // holds entries of its current subsystem.
        if (errm_CurrentSubsystem() == row.index) {
            int slot = errm_FindCachedEntry(number);
            if (slot >= 0) errm_CachedEntry(slot)->counter = value;
        }
        row.counters[dirIndex] = value;
        return 1;
    }
    return 0;
}
