// errm_finit.cpp - ERRM_FInit: the end of a client's cycle.
//
// Closes the report files the library opened, releases the search path,
// the descriptors and the Return buffer, lets the file manager release its
// recorded names, and closes the trace. Settings survive.
#include "api/errm_lock.h"
#include "api/errm_return.h"
#include "base/errm_alloc.h"
#include "base/errm_state.h"
#include "base/errm_trace.h"
#include "descriptor/errm_desc.h"
#include "errm.h"
#include "reports/errm_channels.h"
#include "reports/errm_fm.h"
#include "reports/errm_paths.h"
#include "reports/errm_records.h"

extern "C" ERRM_API int ERRM_FInit(void) {
    errm_ApiLock lock;
    errm_ReturnBinding bound;
    errm_CloseReportFiles();
    errm_RecordsStop();
    // The list is built again by the first search of the next cycle.
    errm_ForgetListOfPaths();
    errm_ReleaseSubsystems();
    errm_ClearCurrentEntry();
    // Every thread's Return buffer: their texts end with the cycle.
    int result = errm_ReleaseReturnBuffers(ERRM_TAG_RETURN_RELEASE);
    errm_FM_Finalize();
    errm_CloseDllTrace();
    return result;
}
