// errm_infos.cpp - ERRM_DisplayInfos: a descriptor's version bytes and
// stamp, read from its header without loading it.
#include "api/errm_lock.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "errm.h"

#include <cstring>

extern "C" ERRM_API int ERRM_DisplayInfos(const char *subsystem, char *stamp, char *version) {
    errm_ApiLock lock;
    if (subsystem == nullptr || stamp == nullptr || version == nullptr) {
        ERRM_REPORT(ERRM_E_NULL, subsystem == nullptr ? "subsystem"
                                 : stamp == nullptr   ? "stamp"
                                                      : "version");
        return ERRM_E_NULL;
    }
    char path[ERRM_NAME_CAP];
    int rc = errm_DescriptorPath(subsystem, path);
    if (rc != 0) return rc;
    // Only the header is needed and read.
    errm_DescriptorFile file;
    rc = errm_OpenDescriptorFile(path, &file);
    if (rc != 0) {
        ERRM_REPORT(rc, path);
        return rc;
    }
    rc = errm_CheckDescriptorMagic(file);
    if (rc != 0) {
        ERRM_REPORT(rc, static_cast<long long>(file.words[0]));
    } else {
        std::memcpy(version, file.raw + ERRM_DESC_OFF_VERSION, ERRM_DESC_VERSION_SIZE);
        std::memcpy(stamp, file.raw + ERRM_DESC_OFF_STAMP, ERRM_DESC_STAMP_SIZE);
        stamp[ERRM_DESC_STAMP_SIZE] = '\0';
    }
    errm_ReleaseDescriptorFile(&file);
    return rc;
}
