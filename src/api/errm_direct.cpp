// errm_direct.cpp - ERRM_DirectProcessError: trace and debug lines that no
// descriptor holds.
#include "api/errm_lock.h"
#include "errm.h"
#include "reports/errm_direct.h"

extern "C" ERRM_API unsigned int
ERRM_DirectProcessError_variadic(const char *severity, const char *reports, const char *level_var,
                                 int level, const char *format, va_list args) {
    errm_ApiLock lock;
    return errm_DirectProcessError(severity, reports, level_var, level, format, args);
}

extern "C" ERRM_API unsigned int ERRM_DirectProcessError(const char *severity, const char *reports,
                                                         const char *level_var, int level,
                                                         const char *format, ...) {
    va_list args;
    va_start(args, format);
    unsigned rc =
        ERRM_DirectProcessError_variadic(severity, reports, level_var, level, format, args);
    va_end(args);
    return rc;
}
