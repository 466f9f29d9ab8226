// errm_infos.cpp - ERRM_DisplayInfos: a descriptor's version bytes and
// stamp, read from its header without loading it.
#include "api/errm_lock.h"
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "base/errm_text.h"
#include "descriptor/errm_desc.h"
#include "errm.h"

#include <cstring>

namespace {

// The file of one call, closed on every path out.
struct InfoFile {
    int fd = -1;

    InfoFile() = default;
    InfoFile(const InfoFile &) = delete;
    InfoFile &operator=(const InfoFile &) = delete;
    ~InfoFile() { errm_CloseBinaryMemoryFile(fd); }
};

} // namespace

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

    InfoFile file;
    if (!OpenBinaryMemoryFileName(path, &file.fd)) {
        ERRM_REPORT(ERRM_E_OPEN, path);
        return ERRM_E_OPEN;
    }
    const std::size_t size = errm_MappedFileSize();
    // Only the header is needed and read. An empty file gives the result of
    // a load (it cannot be held in memory); a shorter one is malformed.
    if (size == 0) {
        ERRM_REPORT(ERRM_E_MAP, path);
        return ERRM_E_MAP;
    }
    if (size < ERRM_DESC_HEADER) {
        ERRM_REPORT(ERRM_E_READ_MAPPED, path);
        return ERRM_E_READ_MAPPED;
    }
    unsigned char header[ERRM_DESC_HEADER];
    if (!errm_ReadDescriptorHeader(header)) {
        ERRM_REPORT(ERRM_E_MAP, path);
        return ERRM_E_MAP;
    }
    std::uint32_t words[6];
    std::memcpy(words, header, sizeof words);
    errm_FileOrderArray32(words, 6);
    if (!errm_IsDescriptorMagic(header, words[0])) {
        ERRM_REPORT(ERRM_E_MAGIC, static_cast<long long>(words[0]));
        return ERRM_E_MAGIC;
    }
    std::memcpy(version, header + 40, 4);
    std::memcpy(stamp, header + 44, 12);
    stamp[12] = '\0';
    return 0;
}
