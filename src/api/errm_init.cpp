// errm_init.cpp - ERRM_Init: the platform check, the debug settings from
// KOVA_ERRM_LDBG, and the reset of the library's tables for a new cycle.
#include "api/errm_lock.h"
#include "api/errm_return.h"
#include "base/errm_alloc.h"
#include "base/errm_env.h"
#include "base/errm_interr.h"
#include "base/errm_options.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "errm.h"
#include "reports/errm_channels.h"
#include "reports/errm_message.h"
#include "reports/errm_paths.h"
#include "reports/errm_records.h"

#include <cstdlib>
#include <cstring>

namespace {

int *debugFlag(int position) {
    int *flags[6] = {&errm_G.FConsoleOut, &errm_G.FDebug,    &errm_G.FDebugL2,
                     &errm_G.FDebugDump,  &errm_G.FDebugMem, &errm_G.FTraceDLL};
    return flags[position];
}

// Applies decoded values to the first `count` flags: 2 keeps, 1 sets, 0 clears.
void applyFlags(const int values[6], int count) {
    for (int i = 0; i < count; ++i)
        if (values[i] != 2) *debugFlag(i) = values[i];
}

void clearAllFlags() {
    for (int i = 0; i < 6; ++i)
        *debugFlag(i) = 0;
}

// Reads KOVA_ERRM_LDBG: "directory;flags" or "flags" alone.
void readDebugSettings() {
    const char *env = std::getenv("KOVA_ERRM_LDBG");
    if (env == nullptr) {
        clearAllFlags();
        return;
    }
    // The value is read in place, whatever its length; the environment is
    // never modified.
    int decoded[6];
    const char *semicolon = std::strchr(env, ';');
    if (semicolon == nullptr) {
        errm_ConsolePrintf("NO PATH, but vars=%s \n", env);
        if (errm_DecodeFlagList(env, decoded)) applyFlags(decoded, 5);
        // Without a directory there is no trace file.
        errm_G.FTraceDLL = 0;
        if (errm_G.FDebug == 1) errm_DumpFlags();
        return;
    }
    const char *dir = env;
    while (*dir == ';')
        ++dir;
    const char *dirEnd = std::strchr(dir, ';');
    const char *flags = dirEnd != nullptr ? dirEnd + 1 : dir + std::strlen(dir);
    if (dirEnd == nullptr) dirEnd = flags; // only leading separators: no flags
    std::size_t dirLen = static_cast<std::size_t>(dirEnd - dir);
    if (dirLen > 0 && dir[0] == '\'') errm_StripQuotes(&dir, &dirLen);
    // A failed expansion keeps the text expanded so far, but the trace then
    // goes to the working directory, not to a directory nobody meant.
    errm_G.FDebugPathFailed =
        errm_ExpandEnvVarsN(dir, dirLen, errm_G.DebugPath, sizeof errm_G.DebugPath) ? 0 : 1;
    if (flags[0] == '\0') {
        errm_ConsolePuts("ALL false\n");
        clearAllFlags();
        return;
    }
    if (errm_DecodeFlagList(flags, decoded)) {
        applyFlags(decoded, 6);
        if (errm_G.FDebug == 1) errm_DumpFlags();
    }
}

} // namespace

extern "C" ERRM_API int ERRM_Init(void) {
    errm_ApiLock lock;
    errm_ReturnBinding bound;
    // The run-time options first: they say where even the platform line goes.
    errm_ReadOptions();
    errm_RecordsStart();
    if (!errm_CheckPlatform()) {
        ERRM_REPORT(ERRM_E_PLATFORM, errm_G.PlatformName);
        return 0;
    }
    // A cycle not ended by ERRM_FInit is ended here: its report files are
    // closed, its descriptors and Return buffer released.
    errm_ClearSubsystemTable();
    errm_ClearCurrentEntry();
    errm_G.FConsoleOut = 0;
    errm_G.FDebug = 0;
    errm_G.FDebugL2 = 0;
    errm_G.FDebugDump = 0;
    // FDebugMem is not cleared: the contract keeps it across cycles.
    errm_G.FTraceDLL = 0;
    readDebugSettings();
    errm_G.FTraceClosedByFInit = 0;
    errm_DetectByteOrder();
    errm_ResetReportChannels();
    errm_ForgetListOfPaths();

    // The calling thread's Return buffer is made here, the other threads'
    // at their first retrieval of the cycle.
    errm_ReleaseReturnBuffers(ERRM_TAG_RETURN);
    errm_G.ReturnCapacity = ERRM_RETURN_INITIAL;
    errm_G.ReturnBuffer =
        static_cast<char *>(errm_AllocateWOClear(ERRM_RETURN_INITIAL + 1, ERRM_TAG_RETURN));
    if (errm_G.ReturnBuffer == nullptr) return 0;
    errm_G.ReturnBuffer[0] = '\0';
    errm_OpenReturnCycle();
    errm_ResetEntryCache();
    return 1;
}
