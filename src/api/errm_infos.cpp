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

// The file and view of one call, released on every path out.
struct InfoFile {
    int fd = -1;
    const unsigned char *base = nullptr;
    std::size_t size = 0;

    InfoFile() = default;
    InfoFile(const InfoFile &) = delete;
    InfoFile &operator=(const InfoFile &) = delete;
    ~InfoFile() {
        errm_UnmapBinaryMemoryFile(base, size);
        errm_CloseBinaryMemoryFile(fd);
    }
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
    file.size = errm_MappedFileSize();
    // Only the header is needed; a file shorter than it is malformed.
    if (file.size < ERRM_DESC_HEADER) {
        ERRM_REPORT(ERRM_E_READ_MAPPED, path);
        return ERRM_E_READ_MAPPED;
    }
    file.base = MapBinaryMemoryFile();
    if (file.base == nullptr) {
        ERRM_REPORT(ERRM_E_MAP, path);
        return ERRM_E_MAP;
    }
    unsigned char header[ERRM_DESC_HEADER];
    if (!errm_MemFileRead(header, 0, sizeof header)) {
        ERRM_REPORT(ERRM_E_READ_MAPPED, path);
        return ERRM_E_READ_MAPPED;
    }
    std::uint32_t words[6];
    std::memcpy(words, header, sizeof words);
    errm_FileOrderArray32(words, 6);
    if (words[0] != ERRM_DESC_MAGIC) {
        ERRM_REPORT(ERRM_E_MAGIC, static_cast<long long>(words[0]));
        return ERRM_E_MAGIC;
    }
    std::memcpy(version, header + 40, 4);
    std::memcpy(stamp, header + 44, 12);
    stamp[12] = '\0';
    return 0;
}
