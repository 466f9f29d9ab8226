// errm_desc_read.cpp - byte-order conversion and bounded reads of the
// mapped descriptor view.
//
// Descriptors are little-endian on every host; values are swapped unless
// ByteOrder says the host is little-endian (so before ERRM_Init has found
// the byte order, every word is swapped).
#include "descriptor/errm_desc.h"
#include "err_mgt/errm_state.h"
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

std::uint32_t errm_FileOrder32(std::uint32_t value) {
    if (errm_G.ByteOrder == 1) return value;
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

std::uint16_t errm_FileOrder16(std::uint16_t value) {
    if (errm_G.ByteOrder == 1) return value;
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

void errm_FileOrderArray32(std::uint32_t *words, std::size_t count) {
    // On a little-endian host every word is already in order. Said once here,
    // because the loop below cannot skip it: the words may alias ByteOrder,
    // so the test would be read again for each of them.
    if (errm_G.ByteOrder == 1) return;
    for (std::size_t i = 0; i < count; ++i)
        words[i] = errm_FileOrder32(words[i]);
}

// The bytes are assembled in memory order, as the host reads a word, and then
// converted: the same rule as for the header and directory words.
void errm_ReadFileU32(const unsigned char *pos, std::uint32_t *result) {
    std::uint32_t v;
    std::memcpy(&v, pos, sizeof v);
    *result = errm_FileOrder32(v);
}

void errm_ReadFileU16(const unsigned char *pos, std::uint16_t *result) {
    std::uint16_t v;
    std::memcpy(&v, pos, sizeof v);
    *result = errm_FileOrder16(v);
}

void errm_ReadFileU8(const unsigned char *pos, std::uint8_t *result) {
    *result = *pos;
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
