// errm_desc_read.cpp - reading one descriptor file: byte-order conversion of
// word arrays, opening the file and reading its header, its in-memory copy
// filled in one pass with its digest, and the check of every size the
// header records against the file.
//
// Sections: byte order; the file and its header; the copy; recorded sizes.
//
// Descriptors are little-endian on every host; values are swapped unless
// ByteOrder says the host is little-endian (so before ERRM_Init has found
// the byte order, every word is swapped). The single-value conversions and
// reads are inline in errm_desc.h.
#include "base/errm_interr.h"
#include "base/errm_state.h"
#include "descriptor/errm_desc.h"
#include "platform/errm_platform.h"

#include <algorithm>
#include <cstring>
#include <md5.h>

// --------------------------------------------------------------- byte order

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

// --------------------------------------------------- the file and its header

int errm_IsDescriptorMagic(const unsigned char *header, std::uint32_t magic) {
    // The word converted to host order, and the bytes as the file stores them:
    // a file written wholly in the other byte order has the right word on a
    // host that swaps, and is refused by its bytes.
    return magic == ERRM_DESC_MAGIC &&
                   std::memcmp(header, ERRM_DESC_MAGIC_BYTES, sizeof ERRM_DESC_MAGIC_BYTES) == 0
               ? 1
               : 0;
}

int errm_OpenDescriptorFile(const char *path, errm_DescriptorFile *d) {
    d->file = errm_FileCopy{-1, 0, nullptr};
    d->path = path;
    if (!errm_PL_OpenReadOnly(path, &d->file)) return ERRM_E_OPEN;
    // An empty file cannot be held in memory; a file shorter than the header
    // is malformed.
    int rc = 0;
    if (d->file.size == 0)
        rc = ERRM_E_MAP;
    else if (d->file.size < ERRM_DESC_HEADER)
        rc = ERRM_E_READ_MAPPED;
    else if (!errm_PL_ReadExactly(d->file.fd, d->raw, ERRM_DESC_HEADER))
        rc = ERRM_E_MAP;
    if (rc != 0) {
        errm_ReleaseDescriptorFile(d);
        return rc;
    }
    std::memcpy(d->words, d->raw, sizeof d->words);
    errm_FileOrderArray32(d->words, ERRM_DESC_HEADER_WORDS);
    return 0;
}

int errm_CheckDescriptorMagic(const errm_DescriptorFile &d) {
    return errm_IsDescriptorMagic(d.raw, d.words[ERRM_DESC_OFF_MAGIC / 4]) ? 0 : ERRM_E_MAGIC;
}

void errm_ReleaseDescriptorFile(errm_DescriptorFile *d) {
    errm_PL_Release(&d->file);
}

// ------------------------------------------------------------------ the copy

int errm_AllocateDescriptorCopy(errm_DescriptorFile *d) {
    d->file.base = errm_PL_AllocateCopy(d->file.size);
    if (d->file.base != nullptr) return 0;
    ERRM_REPORT(ERRM_E_MAP, d->path);
    return ERRM_E_MAP;
}

int errm_FillDescriptorCopy(errm_DescriptorFile *d, unsigned char digest[16]) {
    unsigned char *base = const_cast<unsigned char *>(d->file.base);
    const std::size_t size = d->file.size;
    const std::uint64_t start = d->words[ERRM_DESC_OFF_SUM_START / 4];
    const std::uint64_t length = d->words[ERRM_DESC_OFF_SUM_LENGTH / 4];
    std::memcpy(base, d->raw, ERRM_DESC_HEADER);
    const bool digesting = start <= size && length <= static_cast<std::uint64_t>(size) - start;
    MD5_CTX md5;
    MD5Init(&md5);
    // Adds the part of [at, at + n) that lies in the checksummed range.
    auto digestPart = [&](std::size_t at, std::size_t n) {
        if (!digesting) return;
        std::uint64_t lo = std::max<std::uint64_t>(at, start);
        std::uint64_t hi = std::min<std::uint64_t>(at + n, start + length);
        if (lo < hi) MD5Update(&md5, base + lo, static_cast<std::size_t>(hi - lo));
    };
    digestPart(0, ERRM_DESC_HEADER);
    // Pieces small enough to be digested while they are still in the cache.
    constexpr std::size_t kPiece = 128 * 1024;
    bool read = true;
    for (std::size_t at = ERRM_DESC_HEADER; at < size && read;) {
        std::size_t n = std::min(kPiece, size - at);
        read = errm_PL_ReadExactly(d->file.fd, base + at, n) == 1;
        if (read) digestPart(at, n);
        at += n;
    }
    MD5Final(digest, &md5);
    // The file is not needed any more, whatever happens to it from now on.
    errm_FileCopy file = {d->file.fd, 0, nullptr};
    errm_PL_Release(&file);
    d->file.fd = -1;
    if (read) return 0;
    ERRM_REPORT(ERRM_E_MAP, d->path);
    return ERRM_E_MAP;
}

void errm_ReleaseDescriptorCopy(const unsigned char *base, std::size_t size) {
    if (base == nullptr) return;
    errm_FileCopy copy = {-1, size, base};
    errm_PL_Release(&copy);
}

// ------------------------------------------------------------ recorded sizes

namespace {

// True when [offset, offset + length) lies inside a file of size bytes.
bool inside(std::uint64_t offset, std::uint64_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

} // namespace

int errm_ValidateDescriptor(const errm_DescriptorFile &d, errm_DescriptorLayout *layout) {
    const unsigned char *base = d.file.base;
    const std::size_t size = d.file.size;
    // Names: a length byte and the bytes of the name, then of the display
    // name; the checksummed range; the directory of N records.
    bool ok = inside(ERRM_DESC_HEADER, 1, size);
    std::size_t nameLen = ok ? base[ERRM_DESC_HEADER] : 0;
    ok = ok && nameLen <= ERRM_DESC_NAME_MAX && inside(ERRM_DESC_HEADER + 1, nameLen + 1, size);
    std::size_t displayAt = ERRM_DESC_HEADER + 1 + nameLen;
    std::size_t displayLen = ok ? base[displayAt] : 0;
    ok = ok && inside(displayAt + 1, displayLen, size);
    ok = ok && inside(d.words[ERRM_DESC_OFF_SUM_START / 4], d.words[ERRM_DESC_OFF_SUM_LENGTH / 4],
                      size);
    const std::uint32_t count = d.words[ERRM_DESC_OFF_COUNT / 4];
    const std::uint32_t directory = d.words[ERRM_DESC_OFF_DIRECTORY / 4];
    ok = ok && inside(directory, static_cast<std::uint64_t>(count) * ERRM_DESC_DIR_RECORD, size);
    if (!ok) {
        ERRM_REPORT(ERRM_E_READ_MAPPED, d.path);
        return ERRM_E_READ_MAPPED;
    }
    *layout = errm_DescriptorLayout{ERRM_DESC_HEADER + 1, nameLen, displayAt + 1, displayLen,
                                    directory, count};
    return 0;
}
