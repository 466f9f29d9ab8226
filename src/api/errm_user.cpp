// errm_user.cpp - ERRM_DisplayUserMessage: a caller's own format written on
// the channels of a bit mask.
#include "api/errm_lock.h"
#include "errm.h"
#include "reports/errm_user.h"

extern "C" ERRM_API unsigned int
ERRM_DisplayUserMessage_variadic(int number, int severity, const char *subsystem, const void *force,
                                 int report_mask, const char *generic, const char *format,
                                 va_list args) {
    errm_ApiLock lock;
    return errm_DisplayUserMessage(number, severity, subsystem, force != nullptr, report_mask,
                                   generic, format, args);
}

extern "C" ERRM_API unsigned int ERRM_DisplayUserMessage(int number, int severity,
                                                         const char *subsystem, const void *force,
                                                         int report_mask, const char *generic,
                                                         const char *format, ...) {
    va_list args;
    va_start(args, format);
    unsigned rc = ERRM_DisplayUserMessage_variadic(number, severity, subsystem, force, report_mask,
                                                   generic, format, args);
    va_end(args);
    return rc;
}
