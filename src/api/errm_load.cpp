// errm_load.cpp - ERRM_ReadErrorDescriptor: loading a subsystem's
// descriptor.
#include "api/errm_lock.h"
#include "descriptor/errm_desc.h"
#include "errm.h"

extern "C" ERRM_API int ERRM_ReadErrorDescriptor(const char *subsystem, int *index) {
    errm_ApiLock lock;
    return errm_ReadErrorDescriptor(subsystem, index);
}
