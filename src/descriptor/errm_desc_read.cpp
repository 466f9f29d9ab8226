// errm_desc_read.cpp - byte-order conversion of word arrays and bounded
// reads of the mapped descriptor view.
//
// Descriptors are little-endian on every host; values are swapped unless
// ByteOrder says the host is little-endian (so before ERRM_Init has found
// the byte order, every word is swapped). The single-value conversions and
// reads are inline in errm_desc.h.
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"

#include <cstring>

namespace {

struct MemFileState {
    const unsigned char *base; // selected view
    std::size_t size;          // its size in bytes
};

MemFileState g_view = {nullptr, 0};

// The file opened last and its mapping.
errm_MappedFile g_mapping = {-1, 0, nullptr};

} // namespace

void errm_FileOrderArray32(std::uint32_t *words, std::size_t count) {
    // On a little-endian host every word is already in order. Said once here,
    // because the loop below cannot skip it: the words may alias ByteOrder,
    // so the test would be read again for each of them.
    if (errm_G.ByteOrder == 1) return;
    for (std::size_t i = 0; i < count; ++i)
        words[i] = errm_FileOrder32(words[i]);
}

void errm_MemFileSetBase(const unsigned char *base, std::size_t size) {
    g_view.base = base;
    g_view.size = size;
}

int errm_MemFileRead(void *dst, std::size_t offset, std::size_t size) {
    if (g_view.base == nullptr || offset > g_view.size || size > g_view.size - offset) return 0;
    std::memcpy(dst, g_view.base + offset, size);
    return 1;
}

const unsigned char *errm_MemFileAddress(std::size_t offset) {
    if (g_view.base == nullptr || offset > g_view.size) return nullptr;
    return g_view.base + offset;
}

// ------------------------------------------------------------ file mapping

int OpenBinaryMemoryFileName(const char *path, int *fd) {
    if (!errm_PL_OpenReadOnly(path, &g_mapping)) return 0;
    *fd = g_mapping.fd;
    return 1;
}

const unsigned char *MapBinaryMemoryFile() {
    const unsigned char *base = errm_PL_Map(&g_mapping);
    if (base != nullptr) errm_MemFileSetBase(base, g_mapping.size);
    return base;
}

std::size_t errm_MappedFileSize() {
    return g_mapping.size;
}

int errm_UnmapBinaryMemoryFile(const unsigned char *base, std::size_t size) {
    if (base != nullptr) {
        errm_MappedFile view = {-1, size, base};
        errm_PL_Release(&view);
    }
    if (g_view.base == base) errm_MemFileSetBase(nullptr, 0);
    return 0;
}

int errm_CloseBinaryMemoryFile(int fd) {
    if (fd < 0) return 1;
    errm_MappedFile file = {fd, 0, nullptr};
    return errm_PL_Release(&file);
}
