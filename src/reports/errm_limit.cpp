// errm_limit.cpp - the verbose and repetition gate of STDOUT and the
// transcript.
#include "base/errm_console.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "reports/errm_fm.h"
#include "reports/errm_message.h"
#include "reports/errm_records.h"

#include <cstdio>

namespace {

// The notice that replaces the occurrence reaching the limit.
char g_notice[ERRM_REPORT_LINE_CAP];

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
        const long long c = *entry->counter;
        if (c > max) {
            *counted = 0;
            return 0;
        }
        if (c == max) {
            if (entry->idLength == 0)
                std::snprintf(g_notice, sizeof g_notice, ERRM_NOTICE_FORMAT_NUMBER,
                              errm_SubsystemLabel(), entry->number, max);
            else
                std::snprintf(g_notice, sizeof g_notice, ERRM_NOTICE_FORMAT_ID,
                              errm_SubsystemLabel(), entry->id, max);
            notice = true;
            if (errm_Rec.on) errm_RecordNotice(g_notice);
        }
    }
    // A follow-up's own failure line ("File ... not found") is one of the
    // library's diagnostics on the console: it goes where diagnostics= says.
    if (handle == -1 && errm_Lines.diagnostic == 1 && !notice) return errm_ConsolePuts(line);
    return errm_FM_Puts(handle, notice ? g_notice : line);
}
