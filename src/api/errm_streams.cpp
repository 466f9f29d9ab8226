// errm_streams.cpp - the exported switches of report channels and the
// client streams of CHI and REPORT_F.
#include "api/errm_lock.h"
#include "base/errm_state.h"
#include "errm.h"
#include "reports/errm_channels.h"

#include <cstring>

extern "C" {

ERRM_API int ERRM_Authorize_Printing(const char *channel, int flag) {
    errm_ApiLock lock;
    if (channel == nullptr || channel[0] == '\0') return 0;
    for (int i = 0; i < errm_G.NbrOfReports && i < ERRM_CH_COUNT; ++i) {
        if (std::strcmp(errm_Reports[i].name, channel) == 0) {
            errm_Reports[i].authorised = flag;
            return 1;
        }
    }
    return 0;
}

ERRM_API int ERRM_Set_ChiFileHandle(FILE *stream) {
    errm_ApiLock lock;
    if (errm_SetClientStream(ERRM_CH_CHI, "REPORT_CHI", stream) != 0) return 1;
    errm_FChiFileHandle = 1;
    return 0;
}

ERRM_API int ERRM_Reset_ChiFileHandle(void) {
    errm_ApiLock lock;
    if (errm_ResetClientStream(ERRM_CH_CHI, "REPORT_CHI") != 0) return 1;
    errm_FChiFileHandle = 0;
    return 0;
}

ERRM_API int ERRM_Set_ReportF_FD(FILE *stream) {
    errm_ApiLock lock;
    return errm_SetClientStream(ERRM_CH_REPORT_F, "REPORT_F", stream);
}

ERRM_API int ERRM_Reset_ReportF_FD(void) {
    errm_ApiLock lock;
    return errm_ResetClientStream(ERRM_CH_REPORT_F, "REPORT_F");
}

} // extern "C"
