// errm_desc_read.cpp - byte-order conversion of word arrays, bounded reads
// of a descriptor's in-memory copy, and reading a descriptor file into that
// copy with its digest.
//
// Descriptors are little-endian on every host; values are swapped unless
// ByteOrder says the host is little-endian (so before ERRM_Init has found
// the byte order, every word is swapped). The single-value conversions and
// reads are inline in errm_desc.h.
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"

#include <algorithm>
#include <cstring>
#include <md5.h>

namespace {

struct MemFileState {
    const unsigned char *base; // selected view
    std::size_t size;          // its size in bytes
};

MemFileState g_view = {nullptr, 0};

// The file opened last and its in-memory copy.
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

void errm_FileOrderDirectory(errm_DirRecord *records, std::size_t count) {
    if (errm_G.ByteOrder == 1) return;
    for (std::size_t i = 0; i < count; ++i) {
        errm_DirRecord &r = records[i];
        r.number = static_cast<std::int32_t>(errm_FileOrder32(static_cast<std::uint32_t>(r.number)));
        r.offset = errm_FileOrder32(r.offset);
        r.spare = errm_FileOrder32(r.spare);
    }
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

// ------------------------------------------------------- the in-memory copy

int OpenBinaryMemoryFileName(const char *path, int *fd) {
    if (!errm_PL_OpenReadOnly(path, &g_mapping)) return 0;
    *fd = g_mapping.fd;
    return 1;
}

std::size_t errm_MappedFileSize() {
    return g_mapping.size;
}

int errm_ReadDescriptorHeader(unsigned char *header) {
    return errm_PL_ReadExactly(g_mapping.fd, header, ERRM_DESC_HEADER);
}

unsigned char *MapBinaryMemoryFile() {
    unsigned char *base = errm_PL_AllocateCopy(g_mapping.size);
    if (base != nullptr) errm_MemFileSetBase(base, g_mapping.size);
    return base;
}

int errm_FillBinaryMemoryFile(unsigned char *base, const unsigned char *header,
                              const errm_DigestRange &range, unsigned char digest[16]) {
    const std::size_t size = g_mapping.size;
    std::memcpy(base, header, ERRM_DESC_HEADER);
    const bool digesting =
        range.start <= size && range.length <= static_cast<std::uint64_t>(size) - range.start;
    MD5_CTX md5;
    MD5Init(&md5);
    // Adds the part of [at, at + n) that lies in the checksummed range.
    auto digestPart = [&](std::size_t at, std::size_t n) {
        if (!digesting) return;
        std::uint64_t lo = std::max<std::uint64_t>(at, range.start);
        std::uint64_t hi = std::min<std::uint64_t>(at + n, range.start + range.length);
        if (lo < hi) MD5Update(&md5, base + lo, static_cast<std::size_t>(hi - lo));
    };
    digestPart(0, ERRM_DESC_HEADER);
    // Pieces small enough to be digested while they are still in the cache.
    constexpr std::size_t kPiece = 128 * 1024;
    for (std::size_t at = ERRM_DESC_HEADER; at < size;) {
        std::size_t n = std::min(kPiece, size - at);
        if (!errm_PL_ReadExactly(g_mapping.fd, base + at, n)) return 0;
        digestPart(at, n);
        at += n;
    }
    MD5Final(digest, &md5);
    return 1;
}

int errm_UnmapBinaryMemoryFile(const unsigned char *base, std::size_t size) {
    if (base != nullptr) {
        errm_MappedFile copy = {-1, size, base};
        errm_PL_Release(&copy);
    }
    if (g_view.base == base) errm_MemFileSetBase(nullptr, 0);
    if (g_mapping.base == base) g_mapping.base = nullptr;
    return 0;
}

int errm_CloseBinaryMemoryFile(int fd) {
    if (fd < 0) return 1;
    if (fd == g_mapping.fd) g_mapping.fd = -1;
    errm_MappedFile file = {fd, 0, nullptr};
    return errm_PL_Release(&file);
}
